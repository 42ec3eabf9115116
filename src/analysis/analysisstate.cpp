#include "analysis/analysisstate.h"

#include <cstring>

AnalysisState analysisState;

void clearHistories(AnalysisState &state)
{
    state.averageHistory.clear();
    for (ColourHistory &history : state.quadrantHistories)
        history.clear();
    state.brightnessHistory.clear();
    state.differenceHistory.clear();
    state.moodHistory.clear();
}

void storePreviousFrame(AnalysisState &state, const QImage &frame)
{
    QImage &kept = state.previousFrame;
    if (kept.size() != frame.size() || kept.format() != frame.format() || frame.isNull()) {
        kept = frame.copy();
        return;
    }
    const qsizetype rowBytes = qsizetype(frame.width()) * frame.depth() / 8;
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(kept.scanLine(y), frame.constScanLine(y), size_t(rowBytes));
}
