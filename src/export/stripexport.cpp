#include "export/stripexport.h"

#include <QSaveFile>

namespace {

// A QImage takes its resolution from the screen when there is one, and BMP
// records it: fix it so the same strips give the same bytes on any desktop
// and without a display. 3780 dots per metre is 96 dpi.
constexpr int stripDotsPerMeter = 3780;

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
        break;
    }
    return strips.frames;
}

bool writeStripImage(QImage image, const QString &fileName, const char *format)
{
    image.setDotsPerMeterX(stripDotsPerMeter);
    image.setDotsPerMeterY(stripDotsPerMeter);
    const bool jpeg = qstricmp(format, "JPG") == 0 || qstricmp(format, "JPEG") == 0;
    return writeImageAtomically(image, fileName, format, jpeg ? 95 : -1);
}

bool writeImageAtomically(const QImage &image, const QString &fileName, const char *format,
                          int quality)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!image.save(&file, format, quality)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QStringList writeStrips(const StripSet &strips, const QString &base, const QList<StripKind> &kinds)
{
    QStringList failed;
    for (StripKind kind : kinds) {
        const Strip &strip = stripOf(strips, kind);
        if (strip.width() == 0)
            continue;
        const QString fileName = base + stripSuffix(kind);
        if (!writeStripImage(strip.image(), fileName, "BMP"))
            failed << fileName;
    }
    return failed;
}
