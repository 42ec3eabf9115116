// Reading a frame source's pictures for measuring, the same way for the
// window, the batch tool and the tests.
#pragma once

#include "analysis/measure.h"
#include "video/framesource.h"

#include <QImage>

// Read-only Format_RGB32 view of an RGB32 source's output buffer: no copy.
// The buffer keeps its address while the source is open and each FrameReady
// refills it, so one view serves a whole run.
QImage frameView(const FrameSource *source);

// Has source add each band of a picture to sums right after converting it,
// while the rows are still in the cache, so that measuring does not read the
// picture a second time. sums must outlive the source or its next observer.
void gatherRowSums(FrameSource *source, RowSums &sums);

// Reads until a picture is ready (FrameReady) or the video has ended
// (EndOfStream).
FrameStatus readPicture(FrameSource *source);
