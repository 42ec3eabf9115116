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
    progress.fraction = progressFraction(source);
    return progress;
}

} // namespace

bool analyseVideo(const QString &path, VideoAnalysis &result, const ProgressCallback &progress)
{
    FrameSourcePtr source =
        openFrameSource(QFile::encodeName(path).constData(), 0, 0, AV_PIX_FMT_RGB32);
    if (!source)
        return false;
    AnalysisState &state = result.state;
    const QImage frame = frameView(source.get());
    // Each band is measured as soon as it is converted, while it is still in
    // the cache; the picture is not read a second time.
    RowSums sums;
    setRowObserver(source.get(), [&sums, &frame](int firstRow, int rowCount) {
        addRows(sums, frame.constScanLine(firstRow), frame.bytesPerLine(), frame.width(),
                frame.height(), firstRow, rowCount);
    });
    Clock::time_point lastReport = Clock::now();
    FrameStatus status;
    while ((status = readFrame(source.get())) != EndOfStream) {
        if (status != FrameReady)
            continue;
        // The window's tick, without the display.
        state.frameCount += 1.0;
        measureFrame(state, frame, sums);
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
