// Shots: hard cuts found from a small grid of every picture, and each shot's
// colours (its average and a palette of its dominant colours).
#pragma once

#include "analysis/perceptual.h"
#include "analysis/strip.h"

#include <QColor>
#include <QImage>
#include <QRgb>

#include <array>
#include <cstdint>
#include <vector>

// A picture reduced for finding cuts and palettes: an 8 x 8 grid of cells,
// each with its mean colour (over a subsample of its pixels) and the pixel at
// its centre.
struct PictureGrid {
    static constexpr int side = 8;
    static constexpr int cellCount = side * side;
    std::array<std::array<uint8_t, 3>, cellCount> means; // red, green, blue
    std::array<std::array<uint8_t, 3>, cellCount> samples;
};

// Reads frame's grid: about 130 rows and columns of it, whatever its size.
void measureGrid(const QImage &frame, PictureGrid &grid);

// The pictures (indices into grids) that begin a shot: 0, then each picture
// after a hard cut. A cut is a change between two pictures that stands out
// from the changes around it (so busy, noisy or flickering shots do not cut
// themselves) and that lasts (so a flash of a few pictures is no cut); fades
// and dissolves change gradually and are not cuts either.
std::vector<int> detectCuts(const std::vector<PictureGrid> &grids);

struct PaletteColour {
    QRgb colour = 0;
    LabColour lab;
    double share = 0; // of the shot's sampled pixels, 0..1
};

// Up to 5 dominant colours of the grids' samples: median cut in L*a*b*
// refined by k-means, largest share first. Deterministic.
std::vector<PaletteColour> paletteOf(const std::vector<PictureGrid> &grids, int first, int last);

struct AnalysisState;

// One shot of a run: its pictures (indices, first to last), their average
// colour (the mean of their averages) and mean colour in linear light as
// L*a*b* (black when the run gathered no linear means), and its palette.
struct Shot {
    int first = 0;
    int last = 0;
    QColor average;
    LabColour lab;
    std::vector<PaletteColour> palette;
};

// The shots of a run recorded with shotGrids set.
std::vector<Shot> shotsOf(const AnalysisState &state);

// Fills strips.shots and strips.palette with one column per picture of the
// shots: the shot's average, and its palette as bands of paletteRows rows in
// all, each colour's height following its share.
void drawShotStrips(const std::vector<Shot> &shots, StripSet &strips, int paletteRows);
