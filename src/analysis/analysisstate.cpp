#include "analysis/analysisstate.h"

#include <algorithm>
#include <cmath>

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

void resetForNewRun(AnalysisState &state)
{
    state.frameCount = 0;
    state.averageHistory.clear();
    for (ColourHistory &history : state.quadrantHistories)
        history.clear();
    state.brightnessHistory.clear();
    state.differenceHistory.clear();
    state.moodHistory.clear();
    state.linearMeans.clear();
    state.grids.clear();
    state.motion.clear();
    state.motionTracker.reset();
}

bool isOddCount(double count)
{
    // fmod keeps counts beyond the int range defined; NaN is not odd.
    return std::fabs(std::fmod(std::trunc(count), 2.0)) == 1.0;
}

void reserveForPictures(AnalysisState &state, int count)
{
    if (state.keepHistories) {
        state.averageHistory.reserve(count);
        for (ColourHistory &history : state.quadrantHistories)
            history.reserve(count);
        state.brightnessHistory.reserve(count);
        state.differenceHistory.reserve(count);
        state.moodHistory.reserve(count);
    }
    state.pictureTimes.reserve(size_t(count));
    if (state.perceptual)
        state.linearMeans.reserve(size_t(count));
    if (state.shotGrids) {
        state.grids.reserve(size_t(count));
        state.motion.reserve(size_t(count));
    }
    for (Strip *strip : {&state.strips.average, &state.strips.quadrant, &state.strips.brightness,
                         &state.strips.difference, &state.strips.mood})
        strip->reserve(count);
    if (state.framesHeight > 0) {
        if (state.strips.frames.bandCount() != state.framesHeight)
            state.strips.frames = Strip(state.framesHeight, 1);
        state.strips.frames.reserve(count);
    }
}

void recordPicture(AnalysisState &state, const QImage &frame, double time, const RowSums &sums)
{
    state.frameCount += 1.0;
    const bool odd = isOddCount(state.frameCount);
    PictureSums own;
    state.frameRows.resize(size_t(std::max(state.framesHeight, 0)));
    FrameColours colours = measurePicture(frame, sums, odd ? state.previous : PictureSums(), own,
                                          state.frameRows, state.mean);

    // The stored colour is updated channel by channel, never renewed.
    state.differenceColour.setRed(colours.difference.red());
    state.differenceColour.setGreen(colours.difference.green());
    state.differenceColour.setBlue(colours.difference.blue());
    colours.difference = state.differenceColour;

    if (state.keepHistories) {
        state.averageHistory.append(colours.average);
        for (int q = 0; q < 4; ++q)
            state.quadrantHistories[q].append(colours.quadrants[q]);
        state.brightnessHistory.append(colours.brightness);
        state.differenceHistory.append(colours.difference);
        state.moodHistory.append(colours.mood);
    }
    // The times go with the strips, which the first picture replaces: until
    // then the strips on screen keep their own.
    if (state.frameCount == 1.0)
        state.pictureTimes.clear();
    state.pictureTimes.push_back(time);
    if (state.perceptual)
        state.linearMeans.push_back(linearMean(frame, sums));
    if (state.shotGrids) {
        state.grids.emplace_back();
        measureGrid(frame, state.grids.back());
        state.motion.push_back(state.motionTracker.add(frame));
    }

    if (state.frameCount == 1.0)
        state.strips.clear();
    state.strips.append(colours);
    if (!state.frameRows.empty()) {
        if (state.strips.frames.bandCount() != int(state.frameRows.size()))
            state.strips.frames = Strip(int(state.frameRows.size()), 1);
        state.strips.frames.append(state.frameRows);
    }
    if (odd)
        state.previous = own;
}
