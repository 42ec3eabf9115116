#include "batch/batchjob.h"

#include "batch/progress.h"
#include "export/outputcheck.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

QStringList outputFiles(const QString &videoPath, const BatchOptions &options)
{
    return outputNames(outputBase(videoPath, options.outputDir), options.output);
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
    const QString base = outputBase(videoPath, options.outputDir);
    if (options.skipExisting && outputsAreCurrent(videoPath, base, options.output)) {
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
    RunOptions run = runOptionsFor(options.output);
    run.maxPixels = options.maxPixels;
    run.keepHistories = false;
    run.reserveAhead = true;
    // Before reading: a video changed while it is read is not what the
    // files were made from.
    const std::optional<VideoStamp> stamp = videoStamp(videoPath);
    AnalysisState analysis;
    QString why;
    bool refused = false;
    const std::unique_ptr<VideoRun> video =
        VideoRun::open(videoPath, run, analysis, &why, &refused);
    if (!video) {
        outcome.usageError = refused;
        return unread(why);
    }
    const VideoRun::Step step = video->runToEnd([&](const ReadProgress &progress) {
        report.update(id, last = progress);
        return true;
    });
    outcome.pictures = analysis.frameCount;
    if (step == VideoRun::Step::Refused) {
        outcome.usageError = true;
        return unread(video->refusal());
    }
    // Without a single picture there is no strip to write: the window would
    // save nothing either.
    if (analysis.frameCount == 0)
        return unread(QStringLiteral("No picture could be decoded."));

    const QList<WriteFailure> failed =
        writeOutputs(base, options.output, analysis, video->finish(), stamp);
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
