// Where a picture shows something: the rectangle within its black bars
// (letterbox above and below, pillarbox at the sides), found as FFmpeg's
// cropdetect finds it.
#pragma once

#include <QImage>
#include <QRect>

// A row or column is black when its average luma, on the scale of 8-bit
// limited-range video, is at most this (cropdetect's default: 24 of 255,
// 0.094 of the range, a little above black at 16).
constexpr int blackLumaLimit = 24;

// The smallest rectangle holding every row and column of frame (32-bit RGB)
// that is not black; null when the whole picture is. Columns are averaged
// over the picture's full height and rows over its full width.
QRect activeArea(const QImage &frame);
