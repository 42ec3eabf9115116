#include "batch/batchjob.h"

#include "batch/progress.h"
#include "export/outputcheck.h"
#include "export/videoexport.h"

#include <QElapsedTimer>

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
    outcome.colour = colourConversionText(options.output.colour);
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
    const VideoExport run = exportVideo(videoPath, base, options.output, options.maxPixels,
                                        [&](const ReadProgress &progress) {
                                            report.update(id, last = progress);
                                            return true;
                                        });
    outcome.pictures = run.pictures;
    // Nothing is written for a video that could not be read.
    if (run.status == VideoExport::Unread || run.status == VideoExport::Refused) {
        outcome.usageError = run.status == VideoExport::Refused;
        report.finish(id, last, false);
        report.message(failureLine(videoPath, run.error));
        outcome.error = run.error;
        return done();
    }
    const QList<WriteFailure> &failed = run.failed;
    report.finish(id, last, failed.isEmpty());
    QStringList reasons;
    for (const WriteFailure &file : failed) {
        report.message(failureLine(file.file, file.reason));
        reasons << file.file + QStringLiteral(": ") + file.reason;
    }
    outcome.outputs = run.written;
    outcome.status = failed.isEmpty() ? VideoOutcome::Written : VideoOutcome::Failed;
    outcome.error = reasons.join(QStringLiteral("; "));
    return done();
}
