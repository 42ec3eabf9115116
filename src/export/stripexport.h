// Saving strips as BMP files named after their video.
#pragma once

#include "analysis/strip.h"

#include <QList>
#include <QString>

enum class StripKind { Average, Quadrant, Brightness, Difference, Mood, Frames };

// What the window's save button writes, in its order.
inline const QList<StripKind> &savedStripKinds()
{
    static const QList<StripKind> kinds = {StripKind::Average, StripKind::Quadrant,
                                           StripKind::Brightness};
    return kinds;
}

// "-averageDisplay.bmp" and so on, with another extension when given:
// appended to the whole video path.
QString stripSuffix(StripKind kind, const QString &extension = QStringLiteral("bmp"));
const Strip &stripOf(const StripSet &strips, StripKind kind);

// A file that could not be written, and why ("Permission denied.").
struct WriteFailure {
    QString file;
    QString reason;
};

// Writes each chosen strip to base + its suffix as BMP, each file as
// writeFileAtomically does. A strip that holds nothing yet writes no file and
// is no failure. Returns the files that could not be written; the others are
// written all the same. The files record 96 dpi whatever the screen.
QList<WriteFailure> writeStrips(const StripSet &strips, const QString &base,
                                const QList<StripKind> &kinds);

// Writes a strip image to fileName in format ("BMP", "PNG" or "JPG", at
// quality 95) as writeFileAtomically does, recording 96 dpi. False when it
// could not, with the reason in why.
bool writeStripImage(QImage image, const QString &fileName, const char *format,
                     QString *why = nullptr);
