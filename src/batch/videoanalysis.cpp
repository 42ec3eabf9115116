#include "batch/videoanalysis.h"

#include "analysis/framereading.h"

#include <QFile>
#include <QImage>

#include <chrono>
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
                  const ProgressCallback &progress, int64_t maxPixels)
{
    std::string reason;
    FrameSourcePtr source = openFrameSource(QFile::encodeName(path).constData(), 0, 0,
                                            rgb32PixelFormat(), &reason, maxPixels);
    if (!source) {
        if (why)
            *why = QString::fromLocal8Bit(reason.data(), qsizetype(reason.size()));
        return false;
    }
    const QImage frame = frameView(source.get());
    RowSums sums;
    gatherRowSums(source.get(), sums);
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
    if (progress) {
        ReadProgress last = progressOf(source.get(), int64_t(result.frameCount));
        last.fraction = 1.0;
        last.finished = true;
        progress(last);
    }
    return true;
}
