#include "batch/batchjob.h"

#include "batch/colourcsv.h"
#include "batch/progress.h"
#include "batch/videoanalysis.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("reelmeter-batch: ") + path + QStringLiteral(": ") + reason;
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

QString csvSuffix()
{
    return QStringLiteral("-colours.csv");
}

bool processVideo(const QString &videoPath, const BatchOptions &options, ProgressReport &report)
{
    const int id = report.begin(videoPath);
    ReadProgress last;
    AnalysisState analysis;
    QString why;
    const bool read = analyseVideo(
        videoPath, analysis, &why,
        [&](const ReadProgress &progress) {
            last = progress;
            report.update(id, progress);
        },
        options.maxPixels);
    // Without a single picture there is no strip to write: the window would
    // save nothing either.
    if (!read || analysis.frameCount == 0) {
        report.finish(id, last, false);
        report.message(
            failure(videoPath, read ? QStringLiteral("No picture could be decoded.") : why));
        return false;
    }

    const QString base = outputBase(videoPath, options.outputDir);
    QStringList failed = writeStrips(analysis.strips, base, options.kinds);
    if (options.csv && !writeColoursCsv(analysis, base + csvSuffix()))
        failed << base + csvSuffix();
    report.finish(id, last, failed.isEmpty());
    for (const QString &file : failed)
        report.message(failure(file, QStringLiteral("This file could not be written.")));
    return failed.isEmpty();
}
