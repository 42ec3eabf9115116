// Two versions of one film (cuts, trims, another frame rate, size, crop,
// grade or encoding) aligned from their measurements, and where they differ.
// Pure data in, segments out: no video is read here.
#pragma once

#include "analysis/perceptual.h"
#include "analysis/shots.h"

#include <array>
#include <vector>

// One version's measurements: what a run with linear means and shot grids
// gathers, reduced to what aligning needs (about 100 bytes a picture).
struct VersionFilm {
    // A picture's layout of light: the 4 x 4 blocks of its grid's luma less
    // their mean, scaled to length 1, so that a lift, a gain, a monotonic
    // curve or a desaturation barely move it. All zero for a flat picture.
    using Shape = std::array<float, 16>;

    std::vector<double> times; // increasing, seconds
    double end = 0;
    std::vector<Shape> shapes;
    std::vector<LabColour> labs; // each picture's mean colour
    std::vector<int> shotFirsts; // first picture of each shot, from 0
};

VersionFilm::Shape shapeOf(const PictureGrid &grid);

// A run of pictures: matched in both versions (Same), in the first only
// (Removed) or in the second only (Inserted). Picture numbers from 0; the
// fields of the side a segment lacks are -1. Its times (seconds) are where
// its first picture starts and its last ends, or with some pictures (key
// pictures), where the other version places the edit when it does so more
// closely. The colour difference is that of the aligned pictures' mean
// colours (CIEDE2000), Same only.
struct VersionSegment {
    enum Kind { Same, Removed, Inserted } kind = Same;
    int aFirst = -1, aLast = -1;
    int bFirst = -1, bLast = -1;
    double aStart = -1, aEnd = -1;
    double bStart = -1, bEnd = -1;
    double deMean = 0, deP95 = 0;
};

struct VersionAlignment {
    // In the first version's order, inserted segments where they fall.
    std::vector<VersionSegment> segments;
    // For each picture of the first version, the picture of the second shown
    // with it; -1 where it was removed.
    std::vector<int> partner;
    // The colour difference of each picture with its partner; negative
    // without one.
    std::vector<float> difference;
    double speed = 1; // the second version's seconds per second of the first
};

// Aligns b to a. Works on every picture or on some (key pictures): pictures
// pair only within about one picture interval of each other.
VersionAlignment alignVersions(const VersionFilm &a, const VersionFilm &b);
