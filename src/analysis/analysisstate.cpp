#include "analysis/analysisstate.h"

#include "analysis/measure.h"

#include <cstring>

AnalysisState analysisState;

std::array<const ColourHistory *, 8> historiesInOrder(const AnalysisState &state)
{
    return {&state.averageHistory,
            &state.quadrantHistories[TopLeft],
            &state.quadrantHistories[TopRight],
            &state.quadrantHistories[BottomLeft],
            &state.quadrantHistories[BottomRight],
            &state.brightnessHistory,
            &state.differenceHistory,
            &state.moodHistory};
}

void clearHistories(AnalysisState &state)
{
    state.averageHistory.clear();
    for (ColourHistory &history : state.quadrantHistories)
        history.clear();
    state.brightnessHistory.clear();
    state.differenceHistory.clear();
    state.moodHistory.clear();
}

namespace {

PictureSums sumsOf(const AnalysisState &state, const QImage &frame)
{
    const PictureSums &last = state.lastMeasured;
    if (last.set && last.imageKey == frame.cacheKey() && last.size == frame.size())
        return last;
    return pictureSums(frame);
}

void copyPixels(QImage &kept, const QImage &frame)
{
    if (kept.size() != frame.size() || kept.format() != frame.format() || frame.isNull()) {
        kept = frame.copy();
        return;
    }
    const qsizetype rowBytes = qsizetype(frame.width()) * frame.depth() / 8;
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(kept.scanLine(y), frame.constScanLine(y), size_t(rowBytes));
}

} // namespace

void storePreviousFrame(AnalysisState &state, const QImage &frame)
{
    const PictureSums sums = sumsOf(state, frame);
    copyPixels(state.previousFrame, frame);
    state.previousSums = sums;
    // Taken after the copy: writing the rows changes the key.
    state.previousSums.imageKey = state.previousFrame.cacheKey();
}

void storePreviousSums(AnalysisState &state, const QImage &frame)
{
    state.previousSums = sumsOf(state, frame);
    state.previousFrame = QImage();
    state.previousSums.imageKey = state.previousFrame.cacheKey();
}
