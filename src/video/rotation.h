// Turning pictures from the orientation they are stored in to the one they
// are shown in, as a stream's display matrix asks (phone videos filmed upright
// are mostly stored sideways).
#pragma once

#include <cstdint>

struct AVStream;

// One of the eight quarter turns and mirrorings. Output pixel (x, y) is
// stored pixel (x, y), or (y, x) when the axes are swapped, each coordinate
// counted from the far edge when that axis of the stored picture is reversed.
struct Orientation {
    bool swapsAxes = false; // a quarter or three-quarter turn: output size is swapped
    bool reversesX = false; // stored columns are read right to left
    bool reversesY = false; // stored rows are read bottom to top
    bool turns() const { return swapsAxes || reversesX || reversesY; }
};

// The orientation a display matrix (nine 16.16 / 2.30 fixed-point numbers,
// FFmpeg's layout) turns stored pictures to. Other angles than quarter turns
// go to the nearest quarter turn; a matrix that flattens the picture, or
// none, turns nothing.
Orientation matrixOrientation(const int32_t *matrix);

// The orientation of a stream's pictures as displayed.
Orientation streamOrientation(const AVStream &stream);

// Bytes per pixel of pixelFormat when its pictures can be turned pixel by
// pixel (one plane, whole bytes, no subsampling); 0 otherwise.
int turnablePixelBytes(int pixelFormat);

// A stored picture, rows of pixelBytes-sized pixels.
struct StoredPicture {
    const uint8_t *pixels = nullptr;
    int lineSize = 0;
    int width = 0;
    int height = 0;
    int pixelBytes = 0;
};

// Writes output rows firstRow .. firstRow + rowCount - 1 of picture turned to
// orientation; output rows are lineSize bytes apart and as wide as the turned
// picture.
void turnRows(const StoredPicture &picture, Orientation orientation, uint8_t *output, int lineSize,
              int firstRow, int rowCount);
