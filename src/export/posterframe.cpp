#include "export/posterframe.h"

#include "analysis/timeaxis.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

const QColor ground(32, 32, 32);
const QColor ink(224, 224, 224);
constexpr int tickLength = 5;
constexpr int padding = 4;

// Text grows with the poster, so that an A2 print reads as a screen-wide one.
QFont posterFont(int width, bool title)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    const int pixels = std::clamp(width / 100, 11, 48);
    font.setPixelSize(title ? pixels * 3 / 2 : pixels);
    return font;
}

double spanEnd(const PictureSpan &span)
{
    return std::max(span.end, span.times.back());
}

} // namespace

int axisColumn(const PictureSpan &span, int columns, double t)
{
    if (span.times.empty())
        return 0;
    const double first = span.times.front();
    if (columns <= 0)
        return std::max(
            int(std::upper_bound(span.times.begin(), span.times.end(), t) - span.times.begin()) - 1,
            0);
    const double length = spanEnd(span) - first;
    const double at = length > 0 ? (t - first) / length : 0;
    // As posterImage places a picture: the same floor, so a tick's column
    // is the one its time's pictures are averaged into.
    return std::clamp(int(std::floor(at * columns)), 0, columns - 1);
}

std::vector<AxisMark> axisMarks(const PictureSpan &span, int columns, double leastSpacing)
{
    std::vector<AxisMark> marks;
    if (span.times.empty())
        return marks;
    const double first = span.times.front();
    const double end = spanEnd(span);
    const int width = columns > 0 ? columns : int(span.times.size());
    if (!(end > first))
        return marks;
    const double step = axisStep(width / (end - first), leastSpacing);
    for (const double tick : axisTicks(first, end, step)) {
        if (tick < end)
            marks.push_back({axisColumn(span, columns, tick), tick});
    }
    return marks;
}

int titleRows(int width)
{
    return QFontMetrics(posterFont(width, true)).height() + 2 * padding;
}

int axisRows(int width)
{
    return tickLength + 1 + QFontMetrics(posterFont(width, false)).height() + padding;
}

void drawPosterFrame(QPainter &painter, int width, int stripTop, int stripBottom,
                     const PictureSpan &span, int columns, double columnWidth, bool axis,
                     const QString &title)
{
    painter.setPen(ink);
    if (!title.isEmpty()) {
        const QFont font = posterFont(width, true);
        painter.setFont(font);
        const QRect box(padding, 0, std::max(width - 2 * padding, 1), stripTop);
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter,
                         QFontMetrics(font).elidedText(title, Qt::ElideRight, box.width()));
    }
    if (!axis)
        return;
    const QFont font = posterFont(width, false);
    const QFontMetrics metrics(font);
    painter.setFont(font);
    const double end = spanEnd(span);
    const bool withHours = end >= 3600;
    const int gap = metrics.horizontalAdvance(QLatin1Char('0')) * 2;
    const int widest = metrics.horizontalAdvance(formatDuration(end, withHours));
    const int axisTop = stripBottom;
    int labelsEnd = -gap;
    // Marks are spaced in columns, labels in pixels.
    for (const AxisMark &mark : axisMarks(span, columns, (widest + gap) / columnWidth)) {
        const int x = int(mark.column * columnWidth);
        painter.drawLine(x, axisTop, x, axisTop + tickLength - 1);
        const QString label = formatDuration(mark.seconds, withHours);
        const int labelWidth = metrics.horizontalAdvance(label);
        // Centred on its tick, kept inside the poster; one that would touch
        // the label before it is left out.
        if (labelWidth > width)
            continue;
        const int left = std::clamp(x - labelWidth / 2, 0, width - labelWidth);
        if (left < labelsEnd + gap / 2)
            continue;
        painter.drawText(QRect(left, axisTop + tickLength + 1, labelWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, label);
        labelsEnd = left + labelWidth;
    }
}

QImage framedPoster(const QImage &strip, const PictureSpan &span, int columns, bool axis,
                    const QString &title)
{
    const int width = strip.width();
    const int top = title.isEmpty() ? 0 : titleRows(width);
    const int bottom = axis ? axisRows(width) : 0;
    QImage image;
    try {
        // A ring's transparent corners stay so.
        image = QImage(width, top + strip.height() + bottom,
                       strip.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    } catch (const std::bad_alloc &) {
    }
    if (image.isNull())
        return image;
    image.fill(ground);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, top, strip);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    drawPosterFrame(painter, width, top, top + strip.height(), span, columns, 1.0, axis, title);
    return image;
}

QColor posterGround()
{
    return ground;
}
