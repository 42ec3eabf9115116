// Shots: hard cuts found from a small grid of every picture, and each shot's
// colours (its average and a palette of its dominant colours).
#pragma once

#include "analysis/motion.h"
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

// Where a shot begins: its first picture and, when a gradual transition
// (a fade, dissolve, wipe or slide) leads into it, the transition's length in
// pictures, the shot starting with the transition; 0 for a cut.
struct ShotStart {
    int first = 0;
    int gradual = 0;
    bool operator==(const ShotStart &other) const
    {
        return first == other.first && gradual == other.gradual;
    }
};

// The shots of pictures with these grids and motions (one each): the first
// at picture 0, then each after a hard cut or a gradual transition.
//
// A cut is a change between two pictures that stands out from the changes
// around it (so busy, noisy or flickering shots do not cut themselves), that
// lasts (so a flash of a few pictures is no cut) and that no picture of the
// three before explains when moved or zoomed, even skipping one picture (so
// a pan, zoom, shake, blur or passing object is no cut), nor, amid movement,
// brings back what the shot showed a moment before (a whip pan or zoom to
// and fro). A gradual transition
// is a run of pictures each of which is a mix of the pictures either side of
// it (a dissolve, a fade, a wipe: each cell a share of the one plus a share
// of the other) or the one pushed out by the other (a slide), going steadily
// from the one to the other, while the pictures around it stay with their
// end.
std::vector<ShotStart> detectShots(const std::vector<PictureGrid> &grids,
                                   const std::vector<PictureMotion> &motion);

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
    int gradual = 0; // see ShotStart
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
