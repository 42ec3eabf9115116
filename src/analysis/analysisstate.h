// The state of one analysis run, shared by the window's slots. The window uses
// the one module-level instance; the batch tool runs its own per video.
#pragma once

#include "video/framesource.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>

using ColourHistory = QList<QColor>;

enum Quadrant { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

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
    // Kept across pictures and across runs.
    QColor differenceColour;
};

// The window's state: exists before the window and outlives it.
extern AnalysisState analysisState;

// Empties the eight histories in their fixed order (average, quadrants
// top-left to bottom-right, brightness, difference, mood).
void clearHistories(AnalysisState &state);

// Makes state.previousFrame an own copy of frame. Reuses the stored image's
// pixels when the size and format match, so a run allocates nothing for it
// after its first picture.
void storePreviousFrame(AnalysisState &state, const QImage &frame);
