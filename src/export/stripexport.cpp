#include "export/stripexport.h"

#include "export/atomicfile.h"

#include <QBuffer>

namespace {

// A QImage takes its resolution from the screen when there is one, and BMP
// records it: fix it so the same strips give the same bytes on any desktop
// and without a display. 3780 dots per metre is 96 dpi.
constexpr int stripDotsPerMeter = 3780;

} // namespace

QString stripSuffix(StripKind kind)
{
    switch (kind) {
    case StripKind::Average:
        return QStringLiteral("-averageDisplay.bmp");
    case StripKind::Quadrant:
        return QStringLiteral("-averageQuadDisplay.bmp");
    case StripKind::Brightness:
        return QStringLiteral("-brightnessDisplay.bmp");
    case StripKind::Difference:
        return QStringLiteral("-differenceDisplay.bmp");
    case StripKind::Mood:
        return QStringLiteral("-moodDisplay.bmp");
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
        break;
    }
    return strips.mood;
}

bool writeImageAtomically(const QImage &image, const QString &fileName, const char *format,
                          QString *why)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format)) {
        if (why)
            *why = QStringLiteral("The picture could not be encoded.");
        return false;
    }
    return writeFileAtomically(fileName, bytes, why);
}

QList<WriteFailure> writeStrips(const StripSet &strips, const QString &base,
                                const QList<StripKind> &kinds)
{
    QList<WriteFailure> failed;
    for (StripKind kind : kinds) {
        const Strip &strip = stripOf(strips, kind);
        if (strip.width() == 0)
            continue;
        const QString fileName = base + stripSuffix(kind);
        QImage image = strip.image();
        image.setDotsPerMeterX(stripDotsPerMeter);
        image.setDotsPerMeterY(stripDotsPerMeter);
        QString why;
        if (!writeImageAtomically(image, fileName, "BMP", &why))
            failed << WriteFailure{fileName, why};
    }
    return failed;
}
