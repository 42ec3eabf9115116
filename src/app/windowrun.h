// What the window keeps of its run beside the measurements: the open video,
// the timer that paces the ticks and whether a run is going on. Module-level
// like analysisState, so that the slots share it.
#pragma once

#include "analysis/videorun.h"
#include "export/outputs.h"
#include "video/framesource.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

struct WindowRun {
    // The run of the current or last video; left open by a stop or the end of
    // the video, replaced by the next start. Its tick takes one step.
    std::unique_ptr<VideoRun> run;
    // Owned by the main window (its parent); QPointer so a destroyed window
    // never leaves a dangling timer behind.
    QPointer<QTimer> tickTimer;
    // A tick is under way (it processes events, so a timeout may come inside).
    bool tickBusy = false;
    // The ticks run: between a successful start and a stop or the video's end.
    bool running = false;
    // Skipping is offered: from a start (even one whose dialog was cancelled)
    // until a stop, the video's end or a failed open.
    bool skipOffered = false;
    // A video was opened once: the strips on screen can be saved.
    bool saveOffered = false;
    // The path chosen last (null after a cancelled dialog).
    QString videoPath;
    // A second reader of the shown strips' video, for showing a clicked
    // picture without moving the run's own; opened at the first click.
    FrameSourcePtr pictureFinder;
    // Full speed (View > Full Speed): a tick records pictures for about
    // fullSpeedTickMs, not one.
    bool fullSpeed = false;
    // The video as it was when the run opened it, and whether Skip dropped
    // packets since: an export may stand on this run only when its file is
    // unchanged and every picture was measured.
    std::optional<VideoStamp> stamp;
    bool packetsSkipped = false;
};

// How long a tick at full speed records before it lets the event loop run:
// long enough to read at the decoder's pace, short enough to answer a key.
constexpr int fullSpeedTickMs = 8;

extern WindowRun windowRun;
