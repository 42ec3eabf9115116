#include "export/videoexport.h"

#include <algorithm>
#include <memory>

VideoExport exportVideo(const QString &videoPath, const QString &base, const OutputChoice &choice,
                        int64_t maxPixels, const std::function<bool(const ReadProgress &)> &told)
{
    VideoExport outcome;
    RunOptions run = runOptionsFor(choice);
    run.maxPixels = maxPixels;
    run.keepHistories = false;
    run.reserveAhead = true;
    // Before reading: a video changed while it is read is not what the
    // files were made from.
    const std::optional<VideoStamp> stamp = videoStamp(videoPath);
    AnalysisState analysis;
    bool refused = false;
    const std::unique_ptr<VideoRun> video =
        VideoRun::open(videoPath, run, analysis, &outcome.error, &refused);
    if (!video) {
        outcome.status = refused ? VideoExport::Refused : VideoExport::Unread;
        return outcome;
    }
    bool stopped = false;
    const VideoRun::Step step = video->runToEnd([&](const ReadProgress &progress) {
        stopped = !told(progress);
        return !stopped;
    });
    outcome.pictures = analysis.frameCount;
    if (stopped) {
        outcome.status = VideoExport::Cancelled;
        return outcome;
    }
    if (step == VideoRun::Step::Refused) {
        outcome.status = VideoExport::Refused;
        outcome.error = video->refusal();
        return outcome;
    }
    // Without a single picture there is no strip to write: the window would
    // save nothing either.
    if (analysis.frameCount == 0) {
        outcome.error = QStringLiteral("No picture could be decoded.");
        return outcome;
    }

    outcome.failed = writeOutputs(base, choice, analysis, video->finish(), stamp);
    outcome.status = outcome.failed.isEmpty() ? VideoExport::Written : VideoExport::Failed;
    for (const QString &file : outputNames(base, choice)) {
        if (std::none_of(outcome.failed.begin(), outcome.failed.end(),
                         [&file](const WriteFailure &failure) { return failure.file == file; }))
            outcome.written << file;
    }
    return outcome;
}
