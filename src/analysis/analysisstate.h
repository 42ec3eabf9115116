// The state of one analysis run: what its pictures gave so far and what the
// next picture is compared with. The window keeps the one module-level
// instance across its runs; the batch tool makes a fresh one per video.
#pragma once

#include "analysis/measure.h"
#include "analysis/motion.h"
#include "analysis/shots.h"
#include "analysis/strip.h"

#include <QColor>
#include <QImage>

#include <array>
#include <vector>

struct AnalysisState {
    // Pictures recorded in this run (a double, as it has always been counted).
    double frameCount = 0;
    // Whether the eight histories below are kept. The strips hold the same
    // colours (a column a picture, each band one of them), so a long run that
    // needs no QColor of its own saves 128 bytes a picture without them.
    bool keepHistories = true;
    ColourHistory averageHistory;
    std::array<ColourHistory, 4> quadrantHistories; // indexed by Quadrant
    ColourHistory brightnessHistory;
    ColourHistory differenceHistory;
    ColourHistory moodHistory;
    // Presentation time in seconds of each recorded picture, in the histories'
    // order; negative when the picture had none. Like the strips, they stay
    // those of the last run until the next run's first picture.
    std::vector<double> pictureTimes;
    // The five strips, one column per recorded picture. They belong to the run
    // that recorded them until the next run records its first picture.
    StripSet strips;
    // The last picture recorded at an odd count: the next odd-counted picture
    // is compared with it. Kept across runs; a picture of another size
    // counts as none.
    PictureSums previous;
    // Kept across pictures and across runs; updated channel by channel.
    QColor differenceColour;
    // Rows of the squeezed-pictures strip (strips.frames); 0: not drawn.
    int framesHeight = 0;
    // One squeezed picture, reused from picture to picture.
    std::vector<QColor> frameRows;
    // How the average, quadrant and frames colours are averaged (and the
    // shots' colours and posters' columns after them).
    ColourMean mean = ColourMean::Srgb;
    // Gathered only when a run asks for them, one entry per recorded
    // picture: its mean colour in linear light (linearMean), and its grid
    // for finding shots.
    bool perceptual = false;
    std::vector<std::array<double, 3>> linearMeans;
    bool shotGrids = false;
    std::vector<PictureGrid> grids;
    // With the grids: how far each picture is the ones before it moved.
    std::vector<PictureMotion> motion;
    MotionTracker motionTracker;
};

// The window's state: exists before the window and outlives it.
extern AnalysisState analysisState;

// The eight histories in their fixed order: average, quadrants top-left to
// bottom-right, brightness, difference, mood.
std::array<const ColourHistory *, 8> historiesInOrder(const AnalysisState &state);

// A new run: the count, the eight histories, the picture times, linear means
// and grids start empty. The strips stay until the run's first picture; the previous picture
// and the difference colour stay for its first comparison.
void resetForNewRun(AnalysisState &state);

// Makes room for count pictures in everything a run keeps per picture, so
// that a long run neither doubles its memory as it grows nor copies it: a
// few hundred bytes a picture. Only what the run gathers (see framesHeight,
// perceptual, shotGrids) is reserved.
void reserveForPictures(AnalysisState &state, int count);

// Whether the picture with this count is compared with the previous one and
// kept for the next: counts truncated to a whole number and odd.
bool isOddCount(double count);

// A picture was read: counts it, measures it (on an odd count against the
// previous picture), appends one entry to each history and one column to each
// strip (the run's first picture replaces the strips of the run before),
// records its time and, on an odd count, keeps its sums as the previous
// picture. With framesHeight set, the picture squeezed into that many rows
// becomes a column of strips.frames too. sums are frame's rows gathered while it was converted (see
// measurePicture); time is in seconds, negative when unknown. frame may be a
// view of a reader's buffer: nothing of it is kept.
void recordPicture(AnalysisState &state, const QImage &frame, double time = -1.0,
                   const RowSums &sums = RowSums());
