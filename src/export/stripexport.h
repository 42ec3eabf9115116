// Saving strips as image files named after their video.
#pragma once

#include "analysis/poster.h"
#include "analysis/strip.h"

#include <QList>
#include <QSizeF>
#include <QString>

#include <optional>

enum class StripKind { Average, Quadrant, Brightness, Difference, Mood, Frames, Shots, Palette };

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

// How strips are laid out in their files: by default as the window saves
// them, one column per picture in BMP; otherwise a poster (see posterImage).
struct StripLayout {
    QString format = QStringLiteral("bmp"); // bmp, png (lossless), jpg (quality 95) or pdf
    int width = 0;                          // columns; 0: one per picture
    int height = 0;                         // rows; 0: each kind's own (defaultHeight)
    PictureSpan span;                       // the pictures' times, for a poster or an axis
    bool axis = false;                      // a time axis under each strip
    // Above each strip when not empty. "auto" is a setting: the writer puts
    // the video's title tag, else its file name, in its place (see outputs).
    QString title;
    // How a poster's column averages its pictures, for the kinds that are
    // averages of colour (see meanOf).
    ColourMean mean = ColourMean::Srgb;
    // Each strip drawn as a disc (see ringImage), width (or defaultRingSide)
    // a side; the height and the axis are left out.
    bool ring = false;
    QSizeF page; // millimetres; empty: none (see printsize.h)
    int dpi = 0; // of the files; 0: 96 for pictures, 300 for a PDF

    // Rows of kind's strip: height, or the kind's own when none is set (or
    // for a ring).
    int rows(StripKind kind) const;
    // A size is set: the strips are laid out as posters (see posterImage).
    bool poster() const { return width > 0 || height > 0 || ring; }
    // The side of a ring.
    int ringSide() const;
    // mean for the average, quadrant, shots and frames strips; Srgb for the
    // others, which are levels, changes and channels rather than colours.
    ColourMean meanOf(StripKind kind) const;
    // A title or an axis is drawn around the strips (see framedPoster).
    bool framed() const { return axis || !title.isEmpty(); }
};

// Rows of a strip kind in a poster without a height of its own.
int defaultHeight(StripKind kind);

// Writes image to fileName in format (bmp, png, or jpg at quality 95) as
// writeFileAtomically does, at dpi (0: 96) whatever the screen.
bool writeImageFile(QImage image, const QString &fileName, const QString &format,
                    QString *why = nullptr, int dpi = 0);

// The picture writeStrip writes of strip, of kind, as layout says (its
// format aside); null with the reason in why, also for a strip too large to
// draw. A view of the strip's pixels when it is not a poster.
QImage stripImage(const Strip &strip, StripKind kind, const StripLayout &layout,
                  QString *why = nullptr);

// Writes strip, of kind, to fileName as layout says, as writeImageFile does
// (or writePdfPoster for a PDF); false with the reason in why (also for a strip too large to draw).
bool writeStrip(const Strip &strip, StripKind kind, const QString &fileName,
                const StripLayout &layout, QString *why = nullptr);

// Writes each chosen strip to base + its suffix as layout says, each file as
// writeFileAtomically does. A strip that holds nothing yet writes no file and
// is no failure. Returns the files that could not be written; the others are
// written all the same. The files record 96 dpi whatever the screen.
QList<WriteFailure> writeStrips(const StripSet &strips, const QString &base,
                                const QList<StripKind> &kinds, const StripLayout &layout = {});

// "average,quadrant,..." or "all" to kinds in the order given, each once;
// nothing for an empty list or an unknown name.
std::optional<QList<StripKind>> parseStripKinds(const QString &list);
// The name a list knows kind by ("average", ...).
QString stripName(StripKind kind);

// The largest strips the tool draws: a side of 2^20 and 2^28 pixels (1 GiB).
constexpr int largestStripSide = 1 << 20;
constexpr int64_t largestStripPixels = Strip::largestPixels;
// The longest side layout's format holds: JPEG (libjpeg) stops at 65,500.
int largestSideOf(const QString &format);
// Says which of kinds would make a strip larger than largestStripPixels
// ("The average strip of W x H pixels is larger than...") or a side longer
// than the format holds; nothing when all fit or the width is one column per
// picture.
std::optional<QString> oversizedStrip(const QList<StripKind> &kinds, const StripLayout &layout);
// Why a strip columns wide (about so many, when estimated) cannot be written
// in format, with a width that fits; nothing when it can.
std::optional<QString> tooWideFor(const QString &format, int64_t columns, bool estimated = false);
