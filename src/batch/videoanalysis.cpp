#include "batch/videoanalysis.h"

#include "analysis/measure.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using Clock = std::chrono::steady_clock;

QImage frameView(const FrameSource *source)
{
    // Read-only view of the source's buffer, as the window wraps it. Made
    // once per video: the buffer keeps its address while the source is open
    // and each FrameReady refills it.
    const int width = outputWidth(source);
    return QImage(outputPixels(source), width, outputHeight(source), qsizetype(width) * 4,
                  QImage::Format_RGB32);
}

ReadProgress progressOf(const FrameSource *source, int64_t pictures)
{
    ReadProgress progress;
    progress.pictures = pictures;
    progress.fraction = progressFraction(currentPictureTime(source), streamDuration(source),
                                         readPosition(source), fileSize(source));
    return progress;
}

} // namespace

double progressFraction(double pictureTime, double duration, int64_t position, int64_t size)
{
    double fraction = -1.0;
    if (duration > 0 && pictureTime >= 0)
        fraction = pictureTime / duration;
    else if (size > 0 && position >= 0)
        fraction = static_cast<double>(position) / static_cast<double>(size);
    return fraction < 0 ? -1.0 : std::min(fraction, 1.0);
}

bool analyseVideo(const QString &path, VideoAnalysis &result, const ProgressCallback &progress)
{
    FrameSourcePtr source =
        openFrameSource(QFile::encodeName(path).constData(), 0, 0, AV_PIX_FMT_RGB32);
    if (!source)
        return false;
    AnalysisState &state = result.state;
    const QImage frame = frameView(source.get());
    Clock::time_point lastReport = Clock::now();
    FrameStatus status;
    while ((status = readFrame(source.get())) != EndOfStream) {
        if (status != FrameReady)
            continue;
        // The window's tick, without the display.
        state.frameCount += 1.0;
        measureFrame(state, frame);
        result.strips.appendLatest(state);
        result.pictureTimes.push_back(currentPictureTime(source.get()));
        if (static_cast<qint32>(state.frameCount) % 2 == 1)
            storePreviousSums(state, frame);
        if (progress) {
            const Clock::time_point now = Clock::now();
            if (now - lastReport >= std::chrono::milliseconds(progressIntervalMs)) {
                lastReport = now;
                progress(progressOf(source.get(), int64_t(state.frameCount)));
            }
        }
    }
    if (progress) {
        ReadProgress last = progressOf(source.get(), int64_t(state.frameCount));
        last.fraction = 1.0;
        last.finished = true;
        progress(last);
    }
    return true;
}
