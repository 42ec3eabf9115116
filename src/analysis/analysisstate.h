// The state of one analysis run, shared by the window's slots. The window uses
// the one module-level instance; the batch tool runs its own per video.
#pragma once

#include "video/framesource.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QTimer>

#include <array>

using ColourHistory = QList<QColor>;

enum Quadrant { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

// Whole-image channel sums of one picture: all that a later picture's
// difference needs of it.
struct PictureSums {
    qint64 red = 0;
    qint64 green = 0;
    qint64 blue = 0;
    QSize size;
    bool set = false; // false: no picture (or a null one)
    // cacheKey() of the image the sums were taken for (see below).
    qint64 imageKey = 0;
};

struct AnalysisState {
    FrameSourcePtr currentSource;
    // Owned by the main window (its parent); QPointer so a destroyed window
    // never leaves a dangling timer behind.
    QPointer<QTimer> tickTimer;
    double frameCount = 0;
    ColourHistory averageHistory;
    std::array<ColourHistory, 4> quadrantHistories; // indexed by Quadrant
    ColourHistory brightnessHistory;
    ColourHistory differenceHistory;
    ColourHistory moodHistory;
    bool tickBusy = false;
    QString videoPath;
    // Owns its pixels; never refers to a source's buffer.
    QImage previousFrame;
    // The picture stored as previous, summed. Used instead of previousFrame's
    // pixels only while previousFrame.cacheKey() equals previousSums.imageKey:
    // previousFrame may be assigned or changed directly, which changes the key.
    PictureSums previousSums;
    // The last picture measureFrame measured; imageKey is that QImage's key,
    // so that storing it right after needs no second pass.
    PictureSums lastMeasured;
    // Kept across pictures and across runs.
    QColor differenceColour;
};

// The window's state: exists before the window and outlives it.
extern AnalysisState analysisState;

// The eight histories in their fixed order: average, quadrants top-left to
// bottom-right, brightness, difference, mood.
std::array<const ColourHistory *, 8> historiesInOrder(const AnalysisState &state);

// Empties the eight histories in their fixed order.
void clearHistories(AnalysisState &state);

// Makes state.previousFrame an own copy of frame and keeps its sums. Reuses
// the stored image's pixels when the size and format match, so a run
// allocates nothing for it after its first picture. Meant to be called right
// after measureFrame(state, frame), whose sums it then takes; any other frame
// is summed here.
void storePreviousFrame(AnalysisState &state, const QImage &frame);

// Like storePreviousFrame for every later measurement, without the copy:
// keeps only frame's sums and empties state.previousFrame, which nothing
// reads afterwards. Same contract about measureFrame. An empty previousFrame
// then does not mean "no previous picture": clear previousSums for that.
void storePreviousSums(AnalysisState &state, const QImage &frame);
