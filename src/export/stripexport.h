// Saving strips as BMP files named after their video.
#pragma once

#include "analysis/strip.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class StripKind { Average, Quadrant, Brightness, Difference, Mood };

// What the window's save button writes, in its order.
inline const QList<StripKind> &savedStripKinds()
{
    static const QList<StripKind> kinds = {StripKind::Average, StripKind::Quadrant,
                                           StripKind::Brightness};
    return kinds;
}

// "-averageDisplay.bmp" and so on: appended to the whole video path.
QString stripSuffix(StripKind kind);
const Strip &stripOf(const StripSet &strips, StripKind kind);

// Writes each chosen strip to base + its suffix as BMP, each file atomically
// (an earlier file of that name stays whole if the write fails). A strip that
// holds nothing yet writes no file and is no failure. Returns the file names
// that could not be written; the others are written all the same. The files
// record 96 dpi whatever the screen.
QStringList writeStrips(const StripSet &strips, const QString &base, const QList<StripKind> &kinds);

// Writes image to fileName in format, atomically. False when it could not.
bool writeImageAtomically(const QImage &image, const QString &fileName, const char *format);
