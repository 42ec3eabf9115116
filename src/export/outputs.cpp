#include "export/outputs.h"

#include "export/atomicfile.h"
#include "export/colourcsv.h"
#include "export/filename.h"
#include "export/printsize.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

namespace {

// What a writer writes from.
struct Finished {
    const AnalysisState &state;
    const RunResult &result;
    const std::optional<VideoStamp> &video;
};

struct OutputFile {
    QString suffix;
    // Writes the file of that name; false with the reason in why. A writer
    // that has nothing to write succeeds without a file.
    std::function<bool(const QString &name, const Finished &, QString *)> write;
};

// Version of the record's layout: a record of another one is not trusted.
constexpr int recordVersion = 1;

QJsonObject recordSettings(const OutputChoice &choice)
{
    QJsonObject settings{{QStringLiteral("sampling"), samplingText(choice.sampling)},
                         {QStringLiteral("crop"), cropSetting(choice.crop)},
                         {QStringLiteral("width"), choice.layout.width},
                         {QStringLiteral("height"), choice.layout.height},
                         {QStringLiteral("format"), choice.layout.format}};
    // Only when not the default: records written before the choice existed
    // (and default ones) stay as they were, and mean the default.
    if (choice.colour != ColourConversion::Default)
        settings.insert(QStringLiteral("colour"), colourConversionText(choice.colour));
    // Only when set, so that records of plain strips stay as they were.
    if (choice.layout.axis)
        settings.insert(QStringLiteral("axis"), true);
    if (!choice.layout.title.isEmpty())
        settings.insert(QStringLiteral("title"), choice.layout.title);
    if (choice.layout.ring)
        settings.insert(QStringLiteral("layout"), QStringLiteral("ring"));
    if (choice.layout.mean != ColourMean::Srgb)
        settings.insert(QStringLiteral("mean"), QStringLiteral("linear"));
    if (!choice.layout.page.isEmpty())
        settings.insert(QStringLiteral("page"), pageSizeText(choice.layout.page));
    if (choice.layout.dpi > 0)
        settings.insert(QStringLiteral("dpi"), choice.layout.dpi);
    return settings;
}

QJsonObject recordVideo(const VideoStamp &video)
{
    // A string: a double would lose the nanoseconds.
    return {{QStringLiteral("size"), QString::number(video.size)},
            {QStringLiteral("modified"), QStringLiteral("%1.%2")
                                             .arg(video.seconds)
                                             .arg(video.nanoseconds, 9, 10, QLatin1Char('0'))}};
}

// --title auto: the file's title tag, else the video's file name (the base
// is named after it).
QString autoTitle(const QString &tag, const QString &base)
{
    return tag.isEmpty() ? QFileInfo(base).fileName() : tag;
}

// The table itself, for one choice.
QList<OutputFile> outputFiles(const OutputChoice &choice)
{
    QList<OutputFile> files;
    for (StripKind kind : choice.kinds) {
        const QString suffix = stripSuffix(kind, choice.layout.format);
        files << OutputFile{
            suffix,
            [kind, suffix, &choice](const QString &name, const Finished &run, QString *why) {
                const Strip &strip = stripOf(run.state.strips, kind);
                StripLayout layout = choice.layout;
                layout.span = {run.result.times, run.result.end};
                if (layout.title == QLatin1String("auto"))
                    layout.title = autoTitle(run.result.title, name.chopped(suffix.size()));
                return strip.width() == 0 || writeStrip(strip, kind, name, layout, why);
            }};
    }
    if (choice.colours)
        files << OutputFile{csvSuffix(),
                            [](const QString &name, const Finished &run, QString *why) {
                                return writeColoursCsv(run.state, name, why);
                            }};
    if (choice.shots)
        files << OutputFile{
            shotsSuffix(), [](const QString &name, const Finished &run, QString *why) {
                return writeFileAtomically(
                    name, shotsCsv(run.result.shots, run.result.times, run.result.end), why);
            }};
    if (choice.crop.mode != Crop::None)
        files << OutputFile{
            cropSuffix(), [](const QString &name, const Finished &run, QString *why) {
                return writeFileAtomically(
                    name, "crop=" + cropText(run.result.crop).toLatin1() + '\n', why);
            }};
    // Last: writeOutputs leaves it out when anything else failed.
    if (choice.record) {
        files << OutputFile{
            recordSuffix(),
            [&choice, files](const QString &name, const Finished &run, QString *why) {
                if (!run.video)
                    return true;
                QJsonArray suffixes;
                for (const OutputFile &file : files)
                    suffixes << file.suffix;
                const QJsonObject record{{QStringLiteral("reelmeter"), recordVersion},
                                         {QStringLiteral("video"), recordVideo(*run.video)},
                                         {QStringLiteral("settings"), recordSettings(choice)},
                                         {QStringLiteral("files"), suffixes}};
                return writeFileAtomically(name, QJsonDocument(record).toJson(), why);
            }};
    }
    return files;
}

} // namespace

QString csvSuffix()
{
    return QStringLiteral("-colours.csv");
}

QString shotsSuffix()
{
    return QStringLiteral("-shots.csv");
}

QString cropSuffix()
{
    return QStringLiteral("-crop.txt");
}

QString recordSuffix()
{
    return QStringLiteral(".reelmeter.json");
}

QString colourConversionText(ColourConversion conversion)
{
    return conversion == ColourConversion::Exact ? QStringLiteral("exact")
                                                 : QStringLiteral("default");
}

std::optional<ColourConversion> parseColourConversion(const QString &text)
{
    for (ColourConversion conversion : {ColourConversion::Default, ColourConversion::Exact})
        if (text == colourConversionText(conversion))
            return conversion;
    return std::nullopt;
}

RunOptions runOptionsFor(const OutputChoice &choice)
{
    RunOptions run;
    run.sampling = choice.sampling;
    run.crop = choice.crop;
    run.exactColours = choice.colour == ColourConversion::Exact;
    run.mean = choice.layout.mean;
    const StripLayout &layout = choice.layout;
    if (choice.kinds.contains(StripKind::Frames))
        run.framesHeight = layout.rows(StripKind::Frames);
    run.oneRowBands = layout.poster();
    run.sampleColumns = layout.width;
    run.shotGrids = choice.shots || choice.kinds.contains(StripKind::Shots) ||
                    choice.kinds.contains(StripKind::Palette);
    run.paletteRows = layout.rows(StripKind::Palette);
    // The shots' own L*a*b* comes from the pictures' linear means.
    run.perceptual = choice.colours || choice.shots;
    return run;
}

std::optional<VideoStamp> videoStamp(const QString &path)
{
    struct stat status;
    if (::stat(fileNameBytes(path).constData(), &status) != 0)
        return std::nullopt;
    return VideoStamp{status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

QStringList outputNames(const QString &base, const OutputChoice &choice)
{
    QStringList names;
    for (const OutputFile &file : outputFiles(choice))
        names << base + file.suffix;
    return names;
}

QList<WriteFailure> writeOutputs(const QString &base, const OutputChoice &choice,
                                 const AnalysisState &state, const RunResult &result,
                                 const std::optional<VideoStamp> &video)
{
    QList<WriteFailure> failed;
    QList<OutputFile> files = outputFiles(choice);
    std::optional<OutputFile> record;
    if (choice.record) {
        // Until the new files are all written, the old record would vouch for
        // a mixture of two runs.
        record = files.takeLast();
        const QString name = base + record->suffix;
        const QByteArray bytes = fileNameBytes(name);
        struct stat status;
        if (::unlink(bytes.constData()) != 0 && ::lstat(bytes.constData(), &status) == 0)
            failed << WriteFailure{name, systemReason(errno)};
    }
    const Finished run{state, result, video};
    for (const OutputFile &file : files) {
        QString why;
        if (!file.write(base + file.suffix, run, &why))
            failed << WriteFailure{base + file.suffix, why};
    }
    if (record && failed.isEmpty()) {
        QString why;
        if (!record->write(base + record->suffix, run, &why))
            failed << WriteFailure{base + record->suffix, why};
    }
    return failed;
}

namespace {

// The start of a small regular file, up to limit bytes; empty when it cannot
// be read. Neither a link (a written file replaces it: it is not ours) nor a
// FIFO, which would wait for a writer.
QByteArray smallFile(const QString &fileName, qsizetype limit)
{
    const int descriptor =
        ::open(fileNameBytes(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0)
        return {};
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return {};
    }
    QByteArray bytes(limit, Qt::Uninitialized);
    qsizetype size = 0;
    for (ssize_t got; size < limit; size += got) {
        got = ::read(descriptor, bytes.data() + size, limit - size);
        if (got < 0 && errno == EINTR)
            got = 0;
        else if (got <= 0)
            break;
    }
    ::close(descriptor);
    bytes.truncate(size);
    return bytes;
}

} // namespace

bool outputsAreCurrent(const QString &videoPath, const QString &base, const OutputChoice &choice)
{
    const std::optional<VideoStamp> video = videoStamp(videoPath);
    if (!video)
        return false;
    // Far more than any record holds: a larger file is not one of ours.
    const QJsonObject record =
        QJsonDocument::fromJson(smallFile(base + recordSuffix(), 1 << 16)).object();
    if (record.value(QStringLiteral("reelmeter")).toInt() != recordVersion ||
        record.value(QStringLiteral("video")).toObject() != recordVideo(*video) ||
        record.value(QStringLiteral("settings")).toObject() != recordSettings(choice))
        return false;
    const QJsonArray written = record.value(QStringLiteral("files")).toArray();
    const QList<OutputFile> files = outputFiles(choice);
    return std::all_of(files.begin(), files.end(), [&](const OutputFile &file) {
        if (file.suffix == recordSuffix())
            return true;
        if (!written.contains(file.suffix))
            return false;
        const QByteArray name = fileNameBytes(base + file.suffix);
        struct stat output;
        // A link is replaced when written, so what it points to is not ours;
        // an empty or unreadable file is a write that went wrong.
        return ::lstat(name.constData(), &output) == 0 && S_ISREG(output.st_mode) &&
               output.st_size > 0 && ::access(name.constData(), R_OK) == 0;
    });
}
