#include "export/videoexport.h"

#include <algorithm>
#include <memory>

namespace {

// One column per picture: the pictures the container announces, so that
// strips the format cannot hold are refused before the film is read.
std::optional<QString> tooWideAhead(const OutputChoice &choice, const FrameSource *source)
{
    if (choice.layout.width > 0 || choice.kinds.isEmpty())
        return std::nullopt;
    double columns = -1;
    if (choice.sampling.mode == Sampling::All)
        columns = double(estimatedPictureCount(source));
    else if (choice.sampling.mode == Sampling::Every && streamDuration(source) > 0)
        columns = streamDuration(source) / choice.sampling.seconds;
    // Only an estimate (key pictures are not counted at all): one near the
    // limit is left to the check when the strips are written.
    if (columns <= largestSideOf(choice.layout.format) * 1.05)
        return std::nullopt;
    return tooWideFor(choice.layout.format, int64_t(columns), true);
}

} // namespace

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
    if (const auto tooWide = tooWideAhead(choice, video->source())) {
        outcome.status = VideoExport::Refused;
        outcome.error = *tooWide;
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
