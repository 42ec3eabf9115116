// Reduces one picture to its colours: whole-image average, the four quadrant
// averages, a grey level, the difference against an earlier picture and the
// mood of its upper, middle and lower bands.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

enum Quadrant { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

// How colours are averaged: the sRGB values themselves (the default), or the
// light they stand for, with the sRGB transfer function undone, averaged and
// applied again (so half black, half white gives 188, not 128).
enum class ColourMean { Srgb, Linear };

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
    // Channel sums of each row gathered; keeps its capacity from picture to
    // picture.
    std::vector<ChannelSums> rowChannels;
    // Red, green and blue in linear light (linearTable), gathered only when
    // withLinear is set; it stays set from picture to picture.
    bool withLinear = false;
    std::array<uint64_t, 3> linear{};
    // With withLinear, also per quadrant and per row (rowLinear keeps its
    // capacity), for ColourMean::Linear; it stays set like withLinear.
    bool linearParts = false;
    std::array<std::array<uint64_t, 3>, 4> linearQuadrants{};
    std::vector<std::array<uint64_t, 3>> rowLinear;
};

// Adds rows firstRow .. firstRow + rowCount - 1 of a width x height picture
// of 32-bit 0xAARRGGBB words (the top byte is ignored); pixels points at
// row firstRow. A band starting at row 0 begins a new picture.
void addRows(RowSums &sums, const uchar *pixels, qsizetype bytesPerLine, int width, int height,
             int firstRow, int rowCount);

// Whole-image channel sums of one picture: all that a later picture's
// difference needs of it.
struct PictureSums {
    ChannelSums channels;
    QSize size;
    bool set = false; // false: no picture (or a null one)
};

// frame's mean red, green and blue in linear light (0..1): each pixel's
// channels through linearTable, averaged. Taken from sums when they hold all
// of frame's rows with withLinear set, else read from frame; the same either
// way. Zeros for an empty frame.
std::array<double, 3> linearMean(const QImage &frame, const RowSums &sums);

// Measures frame (w x h), compared with previous when that is set and of
// frame's size (otherwise it counts as absent), and gives frame's own sums in
// own. Results whose divisor is zero (w or h below 2 for the quadrants, h
// below 3 for the mood, an empty frame) are 0. Every colour is valid.
// Format_RGB32, ARGB32 and ARGB32_Premultiplied are read in place (the top
// byte is ignored); any other format is measured on an ARGB32 copy.
//
// sums are the frame's rows gathered while it was converted; sums that do not
// cover all of frame's rows, or a frame not in a 32-bit format, are not
// trusted and frame is read instead. The results are the same either way.
//
// When frameRows is not empty, it receives the picture squeezed into
// frameRows.size() rows (H): row j is the average colour of the picture's
// rows j * h / H to (j + 1) * h / H - 1, or of row j * h / H alone when that
// range is empty, rounded to nearest (halves up).
//
// With ColourMean::Linear the average, the quadrants and frameRows are the
// means of the light (see linearTable), encoded back to sRGB and rounded to
// nearest; sums are then trusted only with linearParts. The grey level, the
// difference and the mood are the same either way.
FrameColours measurePicture(const QImage &frame, const RowSums &sums, const PictureSums &previous,
                            PictureSums &own, std::span<QColor> frameRows = {},
                            ColourMean mean = ColourMean::Srgb);

// The loops that sum pixels. Scalar: plain C++; Sse2: 8 pixels at a time;
// Avx2: 16 at a time; Avx512: Avx2 with the linear-light sums looked up by
// AVX-512 VBMI. Best, the default, is the fastest this processor runs.
enum class MeasureKernel { Best, Scalar, Sse2, Avx2, Avx512 };

// For tests and benchmarks: measures with kernel from now on, in every
// thread. False, and nothing changed, when this processor or build cannot
// run it. The results are the same with every kernel.
bool forceMeasureKernel(MeasureKernel kernel);
