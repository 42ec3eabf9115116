// Reading a frame source's pictures for measuring, the same way for the
// window, the batch tool and the tests.
#pragma once

#include "analysis/measure.h"
#include "video/framesource.h"

#include <QImage>
#include <QRect>
#include <QString>

// Read-only Format_RGB32 view of an RGB32 source's output buffer: no copy.
// The buffer keeps its address while the source is open and each FrameReady
// refills it, so one view serves a whole run. With crop (which must lie
// within the output), the view shows only that rectangle of every picture, so
// that everything measured of it is measured of the rectangle alone; a null
// crop stands for the whole picture.
QImage frameView(const FrameSource *source, const QRect &crop = QRect());

// Has source add each band of a picture to sums right after converting it,
// while the rows are still in the cache, so that measuring does not read the
// picture a second time. sums must outlive the source or its next observer.
// With crop, only that rectangle is gathered, as frameView(source, crop)
// shows it.
void gatherRowSums(FrameSource *source, RowSums &sums, const QRect &crop = QRect());

// Reads until a picture is ready (FrameReady) or the video has ended
// (EndOfStream).
FrameStatus readPicture(FrameSource *source);

// Opens path (a file name as the user sees it) with options (pixels RGB32
// whatever they say); on failure *why (when given) gets the reason as a
// sentence.
FrameSourcePtr openRgbSource(const QString &path, const FrameSourceOptions &options = {},
                             QString *why = nullptr);
