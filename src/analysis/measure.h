// Reduces one picture to its colours: whole-image average, the four quadrant
// averages, a grey level, the difference against an earlier picture and the
// mood of its upper, middle and lower bands.
#pragma once

#include "analysis/analysisstate.h"

#include <QColor>
#include <QImage>

#include <array>
#include <cstdint>

struct FrameColours {
    QColor average;
    std::array<QColor, 4> quadrants; // indexed by Quadrant
    QColor brightness;
    // Channels of |sum(frame) - sum(previous)| / (w*h); the plain average when
    // there is no previous picture.
    QColor difference;
    QColor mood;
};

// Exact integer sums; 64 bits hold 255 per channel for any QImage size.
struct ChannelSums {
    uint64_t red = 0;
    uint64_t green = 0;
    uint64_t blue = 0;

    ChannelSums &operator+=(const ChannelSums &other)
    {
        red += other.red;
        green += other.green;
        blue += other.blue;
        return *this;
    }
};

// What measuring takes of a picture's own pixels, gathered band of rows by
// band of rows, so that a picture can be measured while it is converted,
// with its rows still in the cache.
struct RowSums {
    int width = 0;
    int height = 0;
    int rows = 0; // rows gathered, in order from row 0; -1 after a band out of order
    ChannelSums whole;
    std::array<ChannelSums, 4> quadrants; // indexed by Quadrant
    uint64_t grey = 0;                    // sum of the per-pixel (r + g + b) / 3
    uint64_t upper = 0;                   // red of rows y < h/3
    uint64_t middle = 0;                  // blue of rows h/3 <= y <= 2*(h/3)
    uint64_t lower = 0;                   // green of the rows below
};

// Adds rows firstRow .. firstRow + rowCount - 1 of a width x height picture
// of 32-bit 0xAARRGGBB words (the top byte is ignored); pixels points at
// row firstRow. A band starting at row 0 begins a new picture.
void addRows(RowSums &sums, const uchar *pixels, qsizetype bytesPerLine, int width, int height,
             int firstRow, int rowCount);

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
// The same with frame's own pixels already gathered into sums (all its rows,
// added from its Format_RGB32 or ARGB32 pixels); other sums are not trusted
// and frame is read instead. The results are those of the overload above.
void measureFrame(AnalysisState &state, const QImage &frame, const RowSums &sums);
