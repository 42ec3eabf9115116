#include "reference.h"

#include <QBrush>
#include <QPainter>
#include <QPen>

namespace {

QPen stripPen(const QColor &colour)
{
    return QPen(QBrush(colour, Qt::SolidPattern), 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

} // namespace

FrameColours measurePixels(const QImage &frame, const QImage *previous)
{
    // Empty row sums make measurePicture read the pixels itself.
    PictureSums own;
    return measurePicture(frame, RowSums(), previous ? pictureSums(*previous) : PictureSums(), own);
}

PictureSums pictureSums(const QImage &frame)
{
    PictureSums own;
    measurePicture(frame, RowSums(), PictureSums(), own);
    return own;
}

QImage drawStrip(const ColourHistory &history, int height)
{
    const int n = int(history.size());
    // A zero-width image is null; a painter on it would only warn.
    if (n == 0)
        return {};
    QImage strip(n, height, QImage::Format_RGB32);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < n; ++i) {
        painter.setPen(stripPen(history[i]));
        painter.drawLine(QPointF(i, 0), QPointF(i, height));
    }
    painter.end();
    return strip;
}

QImage drawQuadrantStrip(const std::array<ColourHistory, 4> &histories)
{
    const int n = int(histories[0].size());
    if (n == 0)
        return {};
    QImage strip(n, 4 * quadrantBandHeight, QImage::Format_RGB32);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < n; ++i) {
        QPen pen = stripPen(histories[0][i]);
        painter.setPen(pen);
        painter.drawLine(QPointF(i, 0), QPointF(i, quadrantBandHeight));
        for (int band = 1; band < 4; ++band) {
            pen.setColor(histories[band][i]);
            painter.setPen(pen);
            painter.drawLine(QPointF(i, band * quadrantBandHeight),
                             QPointF(i, (band + 1) * quadrantBandHeight));
        }
    }
    painter.end();
    return strip;
}
