// Reduces one picture to its colours: whole-image average, the four quadrant
// averages, a grey level, the difference against an earlier picture and the
// mood of its upper, middle and lower bands.
#pragma once

#include "analysis/analysisstate.h"

#include <QColor>
#include <QImage>

#include <array>

struct FrameColours {
    QColor average;
    std::array<QColor, 4> quadrants; // indexed by Quadrant
    QColor brightness;
    // Channels of |sum(frame) - sum(previous)| / (w*h); the plain average when
    // there is no previous picture.
    QColor difference;
    QColor mood;
};

// Measures frame (w x h) in one pass. previous is compared only when it is not
// null, not a null image and of the same size as frame; otherwise it counts as
// absent. Results whose divisor is zero (w or h below 2 for the quadrants, h
// below 3 for the mood, an empty frame) are 0. Every colour is valid.
// Format_RGB32, ARGB32 and ARGB32_Premultiplied are read in place (the top
// byte is ignored); any other format is measured on an ARGB32 copy.
FrameColours measurePixels(const QImage &frame, const QImage *previous);

// The whole-image channel sums of frame as measurePixels reads them (set is
// false for a null image), with imageKey frame.cacheKey().
PictureSums pictureSums(const QImage &frame);

// Measures frame against state.previousFrame when that is set and
// (int)state.frameCount is odd, appends one entry to each of the eight
// histories and sets the channels of state.differenceColour, which keeps its
// value between pictures and runs. The comparison takes state.previousSums
// while they belong to previousFrame (or previousFrame was emptied by
// storePreviousSums), else previousFrame's pixels; the results are the same.
// Records frame's sums in state.lastMeasured. Changes neither frameCount nor
// previousFrame.
void measureFrame(AnalysisState &state, const QImage &frame);
