// Slow, plain versions of what the program does fast, for tests and
// benchmarks to check it against.
#pragma once

#include "analysis/measure.h"
#include "analysis/strip.h"

#include <QImage>

#include <array>

// Measures frame in one pass, as recording a picture whose rows were not
// gathered beforehand does. previous is compared only when it is not null,
// not a null image and of the same size as frame; otherwise it counts as
// absent.
FrameColours measurePixels(const QImage &frame, const QImage *previous);

// The whole-image channel sums of frame as measuring reads them (set is false
// for a null image).
PictureSums pictureSums(const QImage &frame);

// Full redraws with QPainter, one flat-capped 1-pixel line per entry (per band
// entry for the quadrant strip); a null image for an empty history. O(entries).
QImage drawStrip(const ColourHistory &history, int height);
// The four histories must have the same length.
QImage drawQuadrantStrip(const std::array<ColourHistory, 4> &histories);
