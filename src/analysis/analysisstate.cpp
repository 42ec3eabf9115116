#include "analysis/analysisstate.h"

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
