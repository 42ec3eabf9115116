#include "export/stripexport.h"

#include "export/atomicfile.h"
#include "export/pdfposter.h"
#include "export/posterframe.h"
#include "export/printsize.h"
#include "export/ringposter.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace {

// A QImage takes its resolution from the screen when there is one, and BMP
// records it: fix it so the same strips give the same bytes on any desktop
// and without a display. 3780 dots per metre is 96 dpi.
constexpr int stripDotsPerMeter = 3780;

// Writes image to fileName in format (at quality, -1 for the format's
// default) as writeFileAtomically does.
bool writeImageAtomically(const QImage &image, const QString &fileName, const char *format,
                          int quality, QString *why)
{
    return writeFileAtomically(
        fileName, [&](QIODevice &file) { return image.save(&file, format, quality); },
        QStringLiteral("The picture could not be encoded."), why);
}

// "JPEG", "PNG", "BMP": the format as its users call it.
QString formatName(const QString &format)
{
    return format == QLatin1String("jpg") ? QStringLiteral("JPEG") : format.toUpper();
}

} // namespace

QString stripSuffix(StripKind kind, const QString &extension)
{
    const auto name = [&extension](const char *stem) {
        return QLatin1Char('-') + QLatin1String(stem) + QStringLiteral("Display.") + extension;
    };
    switch (kind) {
    case StripKind::Average:
        return name("average");
    case StripKind::Quadrant:
        return name("averageQuad");
    case StripKind::Brightness:
        return name("brightness");
    case StripKind::Difference:
        return name("difference");
    case StripKind::Mood:
        return name("mood");
    case StripKind::Frames:
        return name("frames");
    case StripKind::Shots:
        return name("shots");
    case StripKind::Palette:
        return name("palette");
    }
    return QString();
}

const Strip &stripOf(const StripSet &strips, StripKind kind)
{
    switch (kind) {
    case StripKind::Average:
        return strips.average;
    case StripKind::Quadrant:
        return strips.quadrant;
    case StripKind::Brightness:
        return strips.brightness;
    case StripKind::Difference:
        return strips.difference;
    case StripKind::Mood:
        return strips.mood;
    case StripKind::Frames:
        return strips.frames;
    case StripKind::Shots:
        return strips.shots;
    case StripKind::Palette:
        break;
    }
    return strips.palette;
}

int defaultHeight(StripKind kind)
{
    switch (kind) {
    case StripKind::Quadrant:
        return 4 * quadrantBandHeight;
    case StripKind::Frames:
        return 100;
    case StripKind::Palette:
        return 40;
    default:
        return stripHeight;
    }
}

int StripLayout::rows(StripKind kind) const
{
    return height > 0 && !ring ? height : defaultHeight(kind);
}

int StripLayout::ringSide() const
{
    return width > 0 ? width : defaultRingSide;
}

ColourMean StripLayout::meanOf(StripKind kind) const
{
    switch (kind) {
    case StripKind::Average:
    case StripKind::Quadrant:
    case StripKind::Frames:
    case StripKind::Shots:
        return mean;
    default:
        return ColourMean::Srgb;
    }
}

bool writeImageFile(QImage image, const QString &fileName, const QString &format, QString *why,
                    int dpi)
{
    const QByteArray name = format.toUpper().toLatin1();
    const int dotsPerMeter = dpi > 0 ? int(std::lround(dpi / 0.0254)) : stripDotsPerMeter;
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    // Lossy JPEG at a quality that keeps the strips' colours close.
    const bool jpeg = name == "JPG" || name == "JPEG";
    return writeImageAtomically(image, fileName, name.constData(), jpeg ? 95 : -1, why);
}

QImage stripImage(const Strip &strip, StripKind kind, const StripLayout &layout, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QImage();
    };
    const bool poster = layout.poster();
    const qsizetype columns = layout.ring        ? layout.ringSide()
                              : layout.width > 0 ? layout.width
                                                 : strip.width();
    const qsizetype rows = layout.ring ? columns : poster ? layout.rows(kind) : strip.height();
    const qsizetype frame = (layout.axis && !layout.ring ? axisRows(int(columns)) : 0) +
                            (layout.title.isEmpty() ? 0 : titleRows(int(columns)));
    if (strip.overflowed() || columns * (rows + frame) > Strip::largestPixels)
        return fail(
            QStringLiteral("The strip would be larger than %1 pixels.").arg(Strip::largestPixels));
    if (const auto tooWide = tooWideFor(layout.format, columns))
        return fail(*tooWide);
    if (rows + frame > largestSideOf(layout.format))
        return fail(QStringLiteral("The strip would be %1 pixels high, more than the %2 format "
                                   "holds (%3).")
                        .arg(rows + frame)
                        .arg(formatName(layout.format))
                        .arg(largestSideOf(layout.format)));
    QImage image;
    try {
        if (layout.ring)
            image = ringImage(posterImage(strip, layout.span, int(columns), strip.bandCount(),
                                          layout.meanOf(kind)),
                              int(columns), layout.format == QLatin1String("png"));
        else if (poster)
            image = posterImage(strip, layout.span, layout.width, int(rows), layout.meanOf(kind));
        else
            image = strip.view();
        if (!image.isNull() && layout.framed())
            image = framedPoster(image, layout.span, layout.width, layout.axis && !layout.ring,
                                 layout.title);
    } catch (const std::bad_alloc &) {
        image = QImage();
    }
    if (image.isNull())
        return fail(QStringLiteral("There is not enough memory for the strip."));
    return image;
}

bool writeStrip(const Strip &strip, StripKind kind, const QString &fileName,
                const StripLayout &layout, QString *why)
{
    if (layout.format == QLatin1String("pdf"))
        return writePdfPoster(strip, kind, fileName, layout, why);
    QImage image = stripImage(strip, kind, layout, why);
    return !image.isNull() && writeImageFile(std::move(image), fileName, layout.format, why,
                                             layout.page.isEmpty() ? layout.dpi : printDpi(layout));
}

QList<WriteFailure> writeStrips(const StripSet &strips, const QString &base,
                                const QList<StripKind> &kinds, const StripLayout &layout)
{
    QList<WriteFailure> failed;
    for (StripKind kind : kinds) {
        const Strip &strip = stripOf(strips, kind);
        if (strip.width() == 0)
            continue;
        const QString fileName = base + stripSuffix(kind, layout.format);
        QString why;
        if (!writeStrip(strip, kind, fileName, layout, &why))
            failed << WriteFailure{fileName, why};
    }
    return failed;
}

namespace {

const QList<std::pair<QString, StripKind>> &stripNames()
{
    static const QList<std::pair<QString, StripKind>> names = {
        {QStringLiteral("average"), StripKind::Average},
        {QStringLiteral("quadrant"), StripKind::Quadrant},
        {QStringLiteral("brightness"), StripKind::Brightness},
        {QStringLiteral("difference"), StripKind::Difference},
        {QStringLiteral("mood"), StripKind::Mood},
        {QStringLiteral("frames"), StripKind::Frames},
        {QStringLiteral("shots"), StripKind::Shots},
        {QStringLiteral("palette"), StripKind::Palette},
    };
    return names;
}

} // namespace

QString stripName(StripKind kind)
{
    for (const auto &[name, named] : stripNames()) {
        if (named == kind)
            return name;
    }
    return QString();
}

int largestSideOf(const QString &format)
{
    // libjpeg's JPEG_MAX_DIMENSION; PNG and BMP hold more than the tool draws.
    return format == QLatin1String("jpg") ? 65500 : largestStripSide;
}

std::optional<QString> tooWideFor(const QString &format, int64_t columns, bool estimated)
{
    const int largest = largestSideOf(format);
    if (columns <= largest)
        return std::nullopt;
    return QStringLiteral("The strips would be %1%2 pixels wide, more than the %3 format holds "
                          "(%4); a width of %4 or less (--width %4) fits.")
        .arg(estimated ? QStringLiteral("about ") : QString())
        .arg(columns)
        .arg(formatName(format))
        .arg(largest);
}

std::optional<QString> oversizedStrip(const QList<StripKind> &kinds, const StripLayout &layout)
{
    if (layout.height > largestSideOf(layout.format))
        return QStringLiteral("A height of %1 is more than the %2 format holds (%3).")
            .arg(layout.height)
            .arg(formatName(layout.format))
            .arg(largestSideOf(layout.format));
    if (layout.ring) {
        const int64_t side = layout.ringSide();
        if (side * side > largestStripPixels)
            return QStringLiteral("A ring of %1 x %1 pixels is larger than the limit of %2 "
                                  "pixels.")
                .arg(side)
                .arg(largestStripPixels);
        return tooWideFor(layout.format, side);
    }
    if (layout.width <= 0)
        return std::nullopt;
    if (const auto tooWide = tooWideFor(layout.format, layout.width))
        return tooWide;
    for (StripKind kind : kinds) {
        if (int64_t(layout.width) * layout.rows(kind) > largestStripPixels)
            return QStringLiteral("The %1 strip of %2 x %3 pixels is larger than the limit of "
                                  "%4 pixels.")
                .arg(stripName(kind))
                .arg(layout.width)
                .arg(layout.rows(kind))
                .arg(largestStripPixels);
    }
    return std::nullopt;
}

std::optional<QList<StripKind>> parseStripKinds(const QString &list)
{
    const auto &names = stripNames();
    QList<StripKind> kinds;
    const auto add = [&kinds](StripKind kind) {
        if (!kinds.contains(kind))
            kinds << kind;
    };
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (name == QLatin1String("all")) {
            for (const auto &entry : names)
                add(entry.second);
            continue;
        }
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&name](const auto &entry) { return entry.first == name; });
        if (found == names.end())
            return std::nullopt;
        add(found->second);
    }
    return kinds;
}
