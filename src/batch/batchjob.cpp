#include "batch/batchjob.h"

#include "batch/colourcsv.h"
#include "batch/progress.h"
#include "batch/videoanalysis.h"
#include "batch/videolist.h"
#include "export/atomicfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sys/stat.h>

#include <set>

#include <cmath>

namespace {

// Device and inode of an existing file, links followed.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return std::pair(status.st_dev, status.st_ino);
}

} // namespace

std::optional<QList<StripKind>> parseStripKinds(const QString &list)
{
    static const QList<std::pair<QString, StripKind>> names = {
        {QStringLiteral("average"), StripKind::Average},
        {QStringLiteral("quadrant"), StripKind::Quadrant},
        {QStringLiteral("brightness"), StripKind::Brightness},
        {QStringLiteral("difference"), StripKind::Difference},
        {QStringLiteral("mood"), StripKind::Mood},
        {QStringLiteral("frames"), StripKind::Frames},
        {QStringLiteral("shots"), StripKind::Shots},
        {QStringLiteral("palette"), StripKind::Palette},
    };
    QList<StripKind> kinds;
    const auto add = [&kinds](StripKind kind) {
        if (!kinds.contains(kind))
            kinds << kind;
    };
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (name == QLatin1String("all")) {
            for (const auto &entry : names)
                add(entry.second);
            continue;
        }
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&name](const auto &entry) { return entry.first == name; });
        if (found == names.end())
            return std::nullopt;
        add(found->second);
    }
    return kinds;
}

QString outputBase(const QString &videoPath, const QString &outputDir)
{
    if (outputDir.isEmpty())
        return videoPath;
    return QDir(outputDir).filePath(QFileInfo(videoPath).fileName());
}

std::optional<std::pair<QString, QString>> clashingOutputs(const QStringList &videos,
                                                           const QString &outputDir)
{
    QHash<QString, QString> videoOf; // absolute output base to the absolute video path
    for (const QString &video : videos) {
        const QString path = QFileInfo(video).absoluteFilePath();
        const QString base = QFileInfo(outputBase(video, outputDir)).absoluteFilePath();
        const auto found = videoOf.constFind(base);
        if (found == videoOf.constEnd())
            videoOf.insert(base, path);
        else if (*found != path)
            return std::pair(*found, path);
    }
    return std::nullopt;
}

std::optional<QString> videoAmongOutputs(const QStringList &videos, const BatchOptions &options,
                                         const QStringList &others)
{
    QStringList outputs = others;
    for (const QString &video : videos)
        outputs << outputFiles(video, options);
    QSet<QString> paths;
    std::set<std::pair<dev_t, ino_t>> identities;
    for (const QString &file : outputs) {
        paths << cleanAbsolute(file);
        if (const auto identity = fileIdentity(file))
            identities.insert(*identity);
    }
    for (const QString &video : videos) {
        if (paths.contains(cleanAbsolute(video)))
            return video;
        if (const auto identity = fileIdentity(video); identity && identities.count(*identity))
            return video;
    }
    return std::nullopt;
}

std::optional<Sampling> parseSampling(const QString &text)
{
    Sampling sampling;
    if (text == QLatin1String("all"))
        return sampling;
    if (text == QLatin1String("key")) {
        sampling.mode = Sampling::Key;
        return sampling;
    }
    bool valid = false;
    sampling.seconds = text.toDouble(&valid);
    if (!valid || !(sampling.seconds > 0) || !std::isfinite(sampling.seconds))
        return std::nullopt;
    sampling.mode = Sampling::Every;
    return sampling;
}

std::optional<Crop> parseCrop(const QString &text)
{
    Crop crop;
    if (text == QLatin1String("none"))
        return crop;
    if (text == QLatin1String("auto")) {
        crop.mode = Crop::Auto;
        return crop;
    }
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 4)
        return std::nullopt;
    // Beyond any picture, and small enough that the rectangle's far edge
    // fits an int.
    constexpr int largest = 1 << 20;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool valid = false;
        numbers[i] = parts[i].toInt(&valid);
        if (!valid || numbers[i] < (i < 2 ? 1 : 0) || numbers[i] > largest)
            return std::nullopt;
    }
    crop.mode = Crop::Explicit;
    crop.rect = QRect(numbers[2], numbers[3], numbers[0], numbers[1]);
    return crop;
}

namespace {

// Every picture's place in time for a poster: increasing, and a picture
// without a time one interval after the one before.
std::vector<double> posterTimes(const std::vector<double> &times, double interval)
{
    std::vector<double> placed(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        const double before = i > 0 ? placed[i - 1] : 0.0;
        placed[i] = times[i] >= 0 ? std::max(times[i], before) : (i > 0 ? before + interval : 0.0);
    }
    return placed;
}

} // namespace

QString csvSuffix()
{
    return QStringLiteral("-colours.csv");
}

QString cropSuffix()
{
    return QStringLiteral("-crop.txt");
}

QString shotsSuffix()
{
    return QStringLiteral("-shots.csv");
}

QStringList outputFiles(const QString &videoPath, const BatchOptions &options)
{
    const QString base = outputBase(videoPath, options.outputDir);
    QStringList files;
    for (StripKind kind : options.kinds)
        files << base + stripSuffix(kind, options.layout.format);
    if (options.csv)
        files << base + csvSuffix();
    if (options.shots)
        files << base + shotsSuffix();
    if (options.crop.mode != Crop::None)
        files << base + cropSuffix();
    return files;
}

bool outputsAreCurrent(const QString &videoPath, const BatchOptions &options)
{
    const QDateTime videoTime = QFileInfo(videoPath).lastModified();
    if (!videoTime.isValid())
        return false;
    const QStringList files = outputFiles(videoPath, options);
    return std::all_of(files.begin(), files.end(), [&videoTime](const QString &file) {
        const QFileInfo info(file);
        return info.isFile() && info.lastModified() >= videoTime;
    });
}

VideoOutcome processVideo(const QString &videoPath, const BatchOptions &options,
                          ProgressReport &report)
{
    QElapsedTimer clock;
    clock.start();
    VideoOutcome outcome;
    const auto done = [&outcome, &clock] {
        outcome.seconds = clock.nsecsElapsed() / 1e9;
        return outcome;
    };
    if (options.skipExisting && outputsAreCurrent(videoPath, options)) {
        outcome.status = VideoOutcome::Skipped;
        outcome.outputs = outputFiles(videoPath, options);
        return done();
    }

    const int id = report.begin(videoPath);
    ReadProgress last;
    // Nothing is written for a video that could not be read.
    const auto unread = [&](const QString &reason) {
        report.finish(id, last, false);
        report.message(failureLine(videoPath, reason));
        outcome.error = reason;
        return done();
    };
    QRect crop;
    QString cropWhy;
    const CropFound found = findCrop(videoPath, options.crop, options.maxPixels, &crop, &cropWhy);
    if (found != CropFound::Yes) {
        outcome.usageError = found == CropFound::Outside;
        return unread(cropWhy);
    }
    AnalysisState analysis;
    StripLayout layout = options.layout;
    if (options.kinds.contains(StripKind::Frames))
        analysis.framesHeight = layout.rows(StripKind::Frames);
    analysis.shotGrids = options.shots || options.kinds.contains(StripKind::Shots) ||
                         options.kinds.contains(StripKind::Palette);
    // The shots' own L*a*b* comes from the pictures' linear means.
    analysis.perceptual = options.csv || options.shots;
    QString why;
    double end = 0;
    const auto progress = [&](const ReadProgress &progress) {
        last = progress;
        report.update(id, progress);
    };
    const bool read = analyseVideo(videoPath, analysis, &why, progress,
                                   {options.sampling, options.maxPixels, crop}, &end);
    outcome.pictures = analysis.frameCount;
    // Without a single picture there is no strip to write: the window would
    // save nothing either.
    if (!read || analysis.frameCount == 0)
        return unread(read ? QStringLiteral("No picture could be decoded.") : why);

    const QString base = outputBase(videoPath, options.outputDir);
    const double lastTime = std::max(analysis.pictureTimes.back(), 0.0);
    const std::vector<double> times = posterTimes(analysis.pictureTimes, end - lastTime);
    layout.span = {times, std::max(end, times.back())};
    std::vector<Shot> shots;
    if (analysis.shotGrids) {
        shots = shotsOf(analysis);
        drawShotStrips(shots, analysis.strips, layout.rows(StripKind::Palette));
    }
    QList<WriteFailure> failed = writeStrips(analysis.strips, base, options.kinds, layout);
    QString csvWhy;
    if (options.csv && !writeColoursCsv(analysis, base + csvSuffix(), &csvWhy))
        failed << WriteFailure{base + csvSuffix(), csvWhy};
    if (options.shots && !writeFileAtomically(base + shotsSuffix(),
                                              shotsCsv(shots, times, layout.span.end), &csvWhy))
        failed << WriteFailure{base + shotsSuffix(), csvWhy};
    QString cropFileWhy;
    if (options.crop.mode != Crop::None &&
        !writeFileAtomically(base + cropSuffix(), "crop=" + cropText(crop).toLatin1() + '\n',
                             &cropFileWhy))
        failed << WriteFailure{base + cropSuffix(), cropFileWhy};
    report.finish(id, last, failed.isEmpty());
    QStringList reasons;
    for (const WriteFailure &file : failed) {
        report.message(failureLine(file.file, file.reason));
        reasons << file.file + QStringLiteral(": ") + file.reason;
    }
    for (const QString &file : outputFiles(videoPath, options)) {
        if (std::none_of(failed.begin(), failed.end(),
                         [&file](const WriteFailure &failure) { return failure.file == file; }))
            outcome.outputs << file;
    }
    outcome.status = failed.isEmpty() ? VideoOutcome::Written : VideoOutcome::Failed;
    outcome.error = reasons.join(QStringLiteral("; "));
    return done();
}
