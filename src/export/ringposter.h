// A poster drawn as a disc, to hang: time runs clockwise from 12 o'clock,
// each column of a strip's poster becoming a wedge.
#pragma once

#include <QImage>

// Side of a ring poster when no width is given.
constexpr int defaultRingSide = 2000;

// poster (a strip laid out by posterImage, one row per band, band 0 at the
// top) as a side x side disc: the pixel at angle a clockwise from 12
// o'clock takes column floor(a / 360 * columns), and at distance r from
// the centre band floor(r / radius * bands), so the bands run from the
// centre outwards. The rim is antialiased by coverage. Outside the disc
// the image is transparent (ARGB32) when transparent, else black (RGB32),
// where the rim blends into black. Null when the memory cannot be had.
QImage ringImage(const QImage &poster, int side, bool transparent);
