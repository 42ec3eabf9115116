#include "batch/batchjob.h"

#include "batch/progress.h"
#include "batch/videolist.h"
#include "export/atomicfile.h"
#include "export/colourcsv.h"
#include "export/filename.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include <cmath>

namespace {

const QList<std::pair<QString, StripKind>> &stripNames()
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
    return names;
}

} // namespace

QString stripName(StripKind kind)
{
    for (const auto &[name, named] : stripNames()) {
        if (named == kind)
            return name;
    }
    return QString();
}

std::optional<StripKind> oversizedStrip(const QList<StripKind> &kinds, const StripLayout &layout)
{
    if (layout.width <= 0)
        return std::nullopt;
    for (StripKind kind : kinds) {
        if (int64_t(layout.width) * layout.rows(kind) > largestStripPixels)
            return kind;
    }
    return std::nullopt;
}

std::optional<QList<StripKind>> parseStripKinds(const QString &list)
{
    const auto &names = stripNames();
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
    const QString workingDirectory = QDir::currentPath();
    const auto baseOf = [&](qsizetype i) {
        return cleanAbsolute(outputBase(videos[i], outputDir), workingDirectory);
    };
    // Hashes rather than the names: a list may hold a million videos.
    std::unordered_multimap<size_t, qsizetype> byBase;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const QString base = baseOf(i);
        const auto [first, last] = byBase.equal_range(qHash(base));
        for (auto other = first; other != last; ++other) {
            const QString path = cleanAbsolute(videos[i], workingDirectory);
            const QString otherPath = cleanAbsolute(videos[other->second], workingDirectory);
            if (baseOf(other->second) == base && otherPath != path)
                return std::pair(otherPath, path);
        }
        byBase.emplace(qHash(base), i);
    }
    return std::nullopt;
}

namespace {

// Which of a few or many files an output is: the same clean absolute path, or
// an existing file reached another way (a hard link, a linked directory).
// Most outputs do not exist yet: rather than look each one up, each output
// directory is listed once, and only its entries that end like an output and
// share an inode with one of the files (or are links) are looked at closer.
class OutputMatcher
{
public:
    OutputMatcher(const QStringList &files, const BatchOptions &options)
        : m_files(files), m_workingDirectory(QDir::currentPath())
    {
        m_suffixes = outputNames(QString(), outputChoice(options));
        FileIdentities identities;
        for (qsizetype i = 0; i < files.size(); ++i) {
            m_paths.emplace(qHash(cleanAbsolute(files[i], m_workingDirectory)), i);
            if (const auto identity = identities.of(files[i])) {
                m_identities.emplace(*identity, i);
                m_inodes.insert(identity->second);
            }
        }
    }

    // The number of the file output is, or -1. direct: look output itself up
    // rather than its directory (for outputs not named like the videos').
    qsizetype match(const QString &output, bool direct = false)
    {
        const QString path = cleanAbsolute(output, m_workingDirectory);
        const auto [first, last] = m_paths.equal_range(qHash(path));
        for (auto candidate = first; candidate != last; ++candidate) {
            if (cleanAbsolute(m_files[candidate->second], m_workingDirectory) == path)
                return candidate->second;
        }
        if (direct) {
            const auto identity = m_lookups.of(output);
            const auto found = identity ? m_identities.find(*identity) : m_identities.end();
            return found != m_identities.end() ? found->second : -1;
        }
        const qsizetype slash = output.lastIndexOf(QLatin1Char('/'));
        list(slash < 0 ? QStringLiteral(".") : output.left(slash + 1));
        return m_existing.value(path, -1);
    }

private:
    void list(const QString &directory)
    {
        if (m_listed.contains(directory))
            return;
        m_listed.insert(directory);
        const QByteArray name = fileNameBytes(directory);
        const int descriptor = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor < 0)
            return;
        const std::unique_ptr<DIR, int (*)(DIR *)> entries(::fdopendir(descriptor), ::closedir);
        if (!entries) {
            ::close(descriptor);
            return;
        }
        while (const dirent *entry = ::readdir(entries.get())) {
            // A directory of a million videos has a million entries: only
            // those that may be one of the files are decoded and compared.
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN &&
                !m_inodes.count(entry->d_ino))
                continue;
            const QString entryName = fileNameFromBytes(entry->d_name);
            if (std::none_of(
                    m_suffixes.begin(), m_suffixes.end(),
                    [&entryName](const QString &suffix) { return entryName.endsWith(suffix); }))
                continue;
            struct stat status;
            if (::fstatat(descriptor, entry->d_name, &status, 0) != 0)
                continue;
            const auto found = m_identities.find({status.st_dev, status.st_ino});
            if (found != m_identities.end())
                m_existing.insert(cleanAbsolute(directory + entryName, m_workingDirectory),
                                  found->second);
        }
    }

    const QStringList &m_files;
    const QString m_workingDirectory;
    QStringList m_suffixes;
    std::unordered_multimap<size_t, qsizetype> m_paths; // by the hash of the clean path
    std::map<FileIdentity, qsizetype> m_identities;
    std::unordered_set<ino_t> m_inodes;
    FileIdentities m_lookups;
    QSet<QString> m_listed;
    QHash<QString, qsizetype> m_existing; // entries found to be one of the files
};

// Calls check(file, direct) with every file the run writes (others first,
// direct) until it returns true.
template <typename Check>
void forEachOutput(const QStringList &videos, const BatchOptions &options,
                   const QStringList &others, Check check)
{
    for (const QString &file : others) {
        if (check(file, true))
            return;
    }
    for (const QString &video : videos) {
        for (const QString &file : outputFiles(video, options)) {
            if (check(file, false))
                return;
        }
    }
}

} // namespace

std::optional<QString> videoAmongOutputs(const QStringList &videos, const BatchOptions &options,
                                         const QStringList &others)
{
    OutputMatcher videoFiles(videos, options);
    qsizetype first = videos.size();
    forEachOutput(videos, options, others, [&](const QString &file, bool direct) {
        if (const qsizetype found = videoFiles.match(file, direct); found >= 0)
            first = std::min(first, found);
        return false;
    });
    return first < videos.size() ? std::optional(videos[first]) : std::nullopt;
}

std::optional<QString> writtenAmong(const QString &file, const QStringList &videos,
                                    const BatchOptions &options, const QStringList &others)
{
    const QStringList files{file};
    OutputMatcher target(files, options);
    std::optional<QString> written;
    forEachOutput(videos, options, others, [&](const QString &output, bool direct) {
        if (target.match(output, direct) >= 0)
            written = output;
        return written.has_value();
    });
    return written;
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
    if (!valid || !(sampling.seconds >= Sampling::shortestInterval) ||
        !std::isfinite(sampling.seconds))
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

OutputChoice outputChoice(const BatchOptions &options)
{
    return {options.kinds, options.layout, options.csv, options.shots,
            options.crop.mode != Crop::None};
}

QStringList outputFiles(const QString &videoPath, const BatchOptions &options)
{
    return outputNames(outputBase(videoPath, options.outputDir), outputChoice(options));
}

bool outputsAreCurrent(const QString &videoPath, const BatchOptions &options)
{
    struct stat video;
    if (::stat(fileNameBytes(videoPath).constData(), &video) != 0)
        return false;
    const QStringList files = outputFiles(videoPath, options);
    return std::all_of(files.begin(), files.end(), [&video](const QString &file) {
        const QByteArray name = fileNameBytes(file);
        struct stat output;
        // A link is replaced when written, so what it points to is not ours;
        // an empty or unreadable file is a write that went wrong.
        if (::lstat(name.constData(), &output) != 0 || !S_ISREG(output.st_mode) ||
            output.st_size == 0 || ::access(name.constData(), R_OK) != 0)
            return false;
        return std::pair(output.st_mtim.tv_sec, output.st_mtim.tv_nsec) >=
               std::pair(video.st_mtim.tv_sec, video.st_mtim.tv_nsec);
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
    RunOptions run;
    run.sampling = options.sampling;
    run.crop = options.crop;
    run.maxPixels = options.maxPixels;
    const StripLayout &layout = options.layout;
    if (options.kinds.contains(StripKind::Frames))
        run.framesHeight = layout.rows(StripKind::Frames);
    run.oneRowBands = layout.poster();
    run.keepHistories = false;
    run.reserveAhead = true;
    run.shotGrids = options.shots || options.kinds.contains(StripKind::Shots) ||
                    options.kinds.contains(StripKind::Palette);
    run.paletteRows = layout.rows(StripKind::Palette);
    // The shots' own L*a*b* comes from the pictures' linear means.
    run.perceptual = options.csv || options.shots;
    AnalysisState analysis;
    QString why;
    bool refused = false;
    const std::unique_ptr<VideoRun> video =
        VideoRun::open(videoPath, run, analysis, &why, &refused);
    if (!video) {
        outcome.usageError = refused;
        return unread(why);
    }
    QElapsedTimer sinceReport;
    sinceReport.start();
    VideoRun::Step step;
    while ((step = video->step()) == VideoRun::Step::Picture) {
        if (sinceReport.hasExpired(progressIntervalMs)) {
            sinceReport.restart();
            last = video->progress();
            report.update(id, last);
        }
    }
    last = video->progress();
    report.update(id, last);
    outcome.pictures = analysis.frameCount;
    if (step == VideoRun::Step::Refused) {
        outcome.usageError = true;
        return unread(video->refusal());
    }
    // Without a single picture there is no strip to write: the window would
    // save nothing either.
    if (analysis.frameCount == 0)
        return unread(QStringLiteral("No picture could be decoded."));

    const QString base = outputBase(videoPath, options.outputDir);
    const RunResult result = video->finish();
    const QList<WriteFailure> failed = writeOutputs(base, outputChoice(options), analysis, result);
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
