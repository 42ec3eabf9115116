// A strip laid out at a size of the user's choosing: a poster of the whole
// film rather than one column per picture.
#pragma once

#include "analysis/strip.h"

#include <QImage>

#include <span>

// How the pictures of a run spread over time: picture i shows from times[i]
// (seconds, increasing) and the last one until end.
struct PictureSpan {
    std::span<const double> times;
    double end = 0;
};

// The picture of times (increasing, not empty) nearest in time to t; the
// earlier one on a tie, as a column without a picture of its own is filled.
int nearestPicture(std::span<const double> times, double t);

// strip resampled to width columns, each covering the width-th part of the
// span from the first picture's time to the end: its colour, band by band and
// channel by channel, is the average of the pictures whose time falls in it,
// rounded to nearest (halves up); a part without a picture takes the picture
// nearest to the part's middle (the earlier one on a tie). width 0 keeps one
// column per picture. strip holds one column per time.
//
// The result is height rows high: band b of B covers rows b * height / B to
// (b + 1) * height / B - 1. Null for an empty strip, or when the image's
// memory cannot be had.
//
// With ColourMean::Linear a column averages its pictures' light (each 8-bit
// channel through linearTable) and is encoded back to sRGB, rounded to
// nearest.
QImage posterImage(const Strip &strip, const PictureSpan &span, int width, int height,
                   ColourMean mean = ColourMean::Srgb);
