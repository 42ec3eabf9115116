#include "batch/videoanalysis.h"

#include "analysis/framereading.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

ReadProgress progressOf(const FrameSource *source, int64_t pictures)
{
    ReadProgress progress;
    progress.pictures = pictures;
    progress.fraction = progressFraction(source);
    return progress;
}

} // namespace

bool analyseVideo(const QString &path, AnalysisState &result, QString *why,
                  const ProgressCallback &progress, const ReadOptions &options, double *endTime)
{
    std::string reason;
    FrameSourcePtr source = openFrameSource(QFile::encodeName(path).constData(), 0, 0,
                                            rgb32PixelFormat(), &reason, options.maxPixels);
    if (!source) {
        if (why)
            *why = QString::fromLocal8Bit(reason.data(), qsizetype(reason.size()));
        return false;
    }
    const QImage frame = frameView(source.get());
    RowSums sums;
    sums.withLinear = result.perceptual;
    gatherRowSums(source.get(), sums);
    if (options.sampling.mode == Sampling::Key)
        setKeyPicturesOnly(source.get(), true);
    double first = -1.0;
    double next = 0.0;
    if (options.sampling.mode == Sampling::Every) {
        setPictureFilter(
            source.get(), [&first, &next, every = options.sampling.seconds](double time) {
                // Times are sums of picture durations: allow for their rounding.
                constexpr double slack = 1e-9;
                if (time < 0) // nothing to sample by
                    return true;
                if (first < 0)
                    first = time;
                else if (time < next - slack)
                    return false;
                next = first + (std::floor((time - first) / every + slack) + 1) * every;
                return true;
            });
    }
    Clock::time_point lastReport = Clock::now();
    while (readPicture(source.get()) == FrameReady) {
        recordPicture(result, frame, currentPictureTime(source.get()), sums);
        if (progress) {
            const Clock::time_point now = Clock::now();
            if (now - lastReport >= std::chrono::milliseconds(progressIntervalMs)) {
                lastReport = now;
                progress(progressOf(source.get(), int64_t(result.frameCount)));
            }
        }
    }
    if (endTime) {
        const double duration = currentPictureDuration(source.get());
        const double time = result.pictureTimes.empty() ? 0.0 : result.pictureTimes.back();
        *endTime = time + std::max(duration, 0.0);
    }
    if (progress) {
        ReadProgress last = progressOf(source.get(), int64_t(result.frameCount));
        last.fraction = 1.0;
        last.finished = true;
        progress(last);
    }
    return true;
}
