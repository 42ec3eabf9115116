#include "batch/videoanalysis.h"

#include "analysis/measure.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using Clock = std::chrono::steady_clock;

// Converted pictures handed from the reading thread to the measuring one, in
// order. Two slots: one being filled while the other is measured. The images
// are allocated once per video.
class PictureQueue
{
public:
    struct Slot {
        QImage image;
        double time = -1.0;
    };

    explicit PictureQueue(QSize size)
    {
        for (Slot &slot : m_slots)
            slot.image = QImage(size, QImage::Format_RGB32);
    }

    bool isValid() const
    {
        return std::none_of(m_slots.begin(), m_slots.end(),
                            [](const Slot &slot) { return slot.image.isNull(); });
    }

    // Reader: the slot to fill next, once the measurer has let go of it.
    Slot &acquireFree()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_filled - m_emptied < depth; });
        return m_slots[m_filled % depth];
    }
    void pushFilled()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_filled;
        }
        m_changed.notify_all();
    }
    void close()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
    }

    // Measurer: the oldest filled slot, or null once the reader has closed
    // the queue and everything was measured.
    Slot *nextFilled()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_emptied < m_filled || m_closed; });
        return m_emptied < m_filled ? &m_slots[m_emptied % depth] : nullptr;
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_emptied;
        }
        m_changed.notify_all();
    }

private:
    static constexpr int depth = 2;
    std::array<Slot, depth> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int64_t m_filled = 0;
    int64_t m_emptied = 0;
    bool m_closed = false;
};

// Same result as storePreviousFrame(state, picture), but once the stored
// image has the picture's size the two images trade pixels instead of
// copying them: picture's slot gets the old previous frame to be overwritten.
void keepAsPrevious(AnalysisState &state, QImage &picture)
{
    if (state.previousFrame.size() == picture.size() &&
        state.previousFrame.format() == picture.format())
        std::swap(state.previousFrame, picture);
    else
        storePreviousFrame(state, picture);
}

void measureAll(PictureQueue &queue, VideoAnalysis &result)
{
    AnalysisState &state = result.state;
    while (PictureQueue::Slot *slot = queue.nextFilled()) {
        // The window's tick, without the display.
        state.frameCount += 1.0;
        measureFrame(state, slot->image);
        result.strips.appendLatest(state);
        result.pictureTimes.push_back(slot->time);
        if (static_cast<qint32>(state.frameCount) % 2 == 1)
            keepAsPrevious(state, slot->image);
        queue.release();
    }
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
    const int width = outputWidth(source.get());
    const int height = outputHeight(source.get());
    PictureQueue queue(QSize(width, height));
    if (!queue.isValid())
        return false;
    const size_t pictureBytes = size_t(width) * size_t(height) * 4;

    std::thread measurer(measureAll, std::ref(queue), std::ref(result));
    int64_t pictures = 0;
    Clock::time_point lastReport = Clock::now();
    FrameStatus status;
    while ((status = readFrame(source.get())) != EndOfStream) {
        if (status != FrameReady)
            continue;
        PictureQueue::Slot &slot = queue.acquireFree();
        // Rows of RGB32 have no padding in either buffer.
        std::memcpy(slot.image.bits(), outputPixels(source.get()), pictureBytes);
        slot.time = currentPictureTime(source.get());
        queue.pushFilled();
        ++pictures;
        if (progress) {
            const Clock::time_point now = Clock::now();
            if (now - lastReport >= std::chrono::milliseconds(progressIntervalMs)) {
                lastReport = now;
                progress(progressOf(source.get(), pictures));
            }
        }
    }
    queue.close();
    measurer.join();
    if (progress) {
        ReadProgress last = progressOf(source.get(), pictures);
        last.fraction = 1.0;
        last.finished = true;
        progress(last);
    }
    return true;
}
