#include "export/comparison.h"

#include "analysis/strip.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

const QColor ground(32, 32, 32);
const QColor ink(224, 224, 224);
constexpr int labelPadding = 8;
constexpr int widestLabel = 400;

} // namespace

QImage comparisonImage(const QList<ComparisonRow> &rows, int width, int rowHeight)
{
    QFont font;
    font.setPixelSize(std::clamp(rowHeight * 3 / 5, 8, 16));
    const QFontMetrics metrics(font);
    int labelWidth = 0;
    for (const ComparisonRow &row : rows)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(row.name));
    labelWidth = std::min(labelWidth, widestLabel) + 2 * labelPadding;

    const int64_t height = int64_t(rows.size()) * (rowHeight + comparisonGap) - comparisonGap;
    if ((labelWidth + int64_t(width)) * height > Strip::largestPixels)
        return {};
    QImage image(labelWidth + width, int(std::max<int64_t>(height, 1)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(ground);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const int top = int(i) * (rowHeight + comparisonGap);
        const QRect label(labelPadding, top, labelWidth - 2 * labelPadding, rowHeight);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(rows[i].name, Qt::ElideMiddle, label.width()));
        // Each strip gets its share of the row: the row is the sum of their
        // heights when they are what the run asked for.
        int y = top;
        for (const QImage &strip : rows[i].strips) {
            const int stripHeight = std::min(strip.height(), top + rowHeight - y);
            if (stripHeight <= 0)
                break;
            painter.drawImage(QRect(labelWidth, y, width, stripHeight), strip);
            y += stripHeight;
        }
    }
    return image;
}
