#include "batch/videoanalysis.h"

#include "analysis/activearea.h"
#include "analysis/framereading.h"
#include "export/filename.h"
#include "video/framesourceseek.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

ReadProgress progressOf(const FrameSource *source, int64_t pictures, const QRect &crop)
{
    ReadProgress progress;
    progress.pictures = pictures;
    progress.fraction = progressFraction(source);
    progress.crop = crop;
    return progress;
}

FrameSourcePtr openRgb(const QString &path, int64_t maxPixels, QString *why)
{
    std::string reason;
    FrameSourcePtr source = openFrameSource(fileNameBytes(path).constData(), 0, 0,
                                            rgb32PixelFormat(), &reason, maxPixels);
    if (!source && why)
        *why = QString::fromLocal8Bit(reason.data(), qsizetype(reason.size()));
    return source;
}

// Pictures looked at for black bars: enough that a scene with a dark edge
// does not decide it, few enough to take a moment.
constexpr int cropSamples = 32;

} // namespace

QString cropText(const QRect &rect)
{
    return QStringLiteral("%1:%2:%3:%4")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

CropFound findCrop(const QString &path, const Crop &crop, int64_t maxPixels, QRect *rect,
                   QString *why)
{
    *rect = QRect();
    if (crop.mode == Crop::None)
        return CropFound::Yes;
    FrameSourcePtr source = openRgb(path, maxPixels, why);
    if (!source)
        return CropFound::Unreadable;
    const QRect whole(0, 0, outputWidth(source.get()), outputHeight(source.get()));
    if (crop.mode == Crop::Explicit) {
        if (!whole.contains(crop.rect)) {
            if (why)
                *why = QStringLiteral("The crop %1 does not lie within the picture (%2x%3).")
                           .arg(cropText(crop.rect))
                           .arg(whole.width())
                           .arg(whole.height());
            return CropFound::Outside;
        }
        *rect = crop.rect;
        return CropFound::Yes;
    }
    // Only key pictures: each jump lands on one, and no other is decoded.
    setKeyPicturesOnly(source.get(), true);
    const QImage frame = frameView(source.get());
    QRect active;
    int seen = 0;
    const double duration = streamDuration(source.get());
    for (int i = 0; duration > 0 && i < cropSamples; ++i) {
        if (!jumpToKeyPictureBefore(source.get(), duration * (i + 0.5) / cropSamples) ||
            readPicture(source.get()) != FrameReady)
            break;
        active |= activeArea(frame);
        ++seen;
    }
    if (seen == 0) {
        // No jumping: every key picture from the start.
        source = openRgb(path, maxPixels, why);
        if (!source)
            return CropFound::Unreadable;
        setKeyPicturesOnly(source.get(), true);
        const QImage first = frameView(source.get());
        while (readPicture(source.get()) == FrameReady)
            active |= activeArea(first);
    }
    *rect = active.isNull() ? whole : active;
    return CropFound::Yes;
}

AnalyseResult analyseVideo(const QString &path, AnalysisState &result, QString *why,
                           const ProgressCallback &progress, const ReadOptions &options,
                           double *endTime)
{
    FrameSourcePtr source = openRgb(path, options.maxPixels, why);
    if (!source)
        return AnalyseResult::Unreadable;
    if (!QRect(0, 0, outputWidth(source.get()), outputHeight(source.get()))
             .contains(options.crop) &&
        !options.crop.isNull()) {
        if (why)
            *why = QStringLiteral("The crop %1 does not lie within the picture.")
                       .arg(cropText(options.crop));
        return AnalyseResult::Unreadable;
    }
    // Room for the pictures the container announces (and a little for its
    // rounding) saves a long run the doubling of its memory. Beyond a bound
    // a claim is not trusted: the run then grows as it reads.
    constexpr int64_t largestReservation = int64_t(1) << 20;
    int64_t expected = estimatedPictureCount(source.get());
    if (options.sampling.mode == Sampling::Every)
        expected = std::min<int64_t>(
            expected, int64_t(streamDuration(source.get()) / options.sampling.seconds) + 1);
    if (options.sampling.mode != Sampling::Key && expected > 0)
        reserveForPictures(result,
                           int(std::min(expected + expected / 64 + 16, largestReservation)));
    const QImage frame = frameView(source.get(), options.crop);
    RowSums sums;
    sums.withLinear = result.perceptual;
    gatherRowSums(source.get(), sums, options.crop);
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
        if (result.frameCount == 0 && options.sampling.mode == Sampling::Every) {
            const double interval = currentPictureDuration(source.get());
            if (options.sampling.seconds < interval * (1 - 1e-6)) {
                if (why)
                    *why = QStringLiteral("One picture per %1 s is more often than the video's "
                                          "pictures come (every %2 s); --sample all measures "
                                          "every picture.")
                               .arg(options.sampling.seconds)
                               .arg(interval);
                return AnalyseResult::Refused;
            }
        }
        recordPicture(result, frame, currentPictureTime(source.get()), sums);
        if (progress) {
            const Clock::time_point now = Clock::now();
            if (now - lastReport >= std::chrono::milliseconds(progressIntervalMs)) {
                lastReport = now;
                progress(progressOf(source.get(), int64_t(result.frameCount), options.crop));
            }
        }
    }
    if (endTime) {
        const double duration = currentPictureDuration(source.get());
        const double time = result.pictureTimes.empty() ? 0.0 : result.pictureTimes.back();
        *endTime = time + std::max(duration, 0.0);
    }
    if (progress) {
        ReadProgress last = progressOf(source.get(), int64_t(result.frameCount), options.crop);
        last.fraction = 1.0;
        last.finished = true;
        progress(last);
    }
    return AnalyseResult::Read;
}
