#include "export/printsize.h"

#include "export/posterframe.h"
#include "export/stripexport.h"

#include <QRegularExpression>

#include <cmath>

namespace {

struct NamedPage {
    const char *name;
    QSizeF size;
};

// ISO 216, landscape.
const NamedPage namedPages[] = {{"A4", {297, 210}},
                                {"A3", {420, 297}},
                                {"A2", {594, 420}},
                                {"A1", {841, 594}},
                                {"A0", {1189, 841}}};

} // namespace

std::optional<QSizeF> parsePageSize(const QString &text, QString *why)
{
    for (const NamedPage &page : namedPages) {
        if (text.compare(QLatin1String(page.name), Qt::CaseInsensitive) == 0)
            return page.size;
    }
    static const QRegularExpression sized(
        QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)x([0-9]+(?:\\.[0-9]+)?)mm$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = sized.match(text);
    if (!match.hasMatch()) {
        *why = QStringLiteral("Unknown page \"%1\": A4, A3, A2, A1, A0 or WxHmm (e.g. 500x300mm).")
                   .arg(text);
        return std::nullopt;
    }
    const QSizeF size(match.captured(1).toDouble(), match.captured(2).toDouble());
    for (const double side : {size.width(), size.height()}) {
        if (side < smallestPageSide || side > largestPageSide) {
            *why = QStringLiteral("A page side of %1 mm is outside %2 to %3 mm.")
                       .arg(side)
                       .arg(smallestPageSide)
                       .arg(largestPageSide);
            return std::nullopt;
        }
    }
    return size;
}

QString pageSizeText(QSizeF size)
{
    for (const NamedPage &page : namedPages) {
        if (page.size == size)
            return QLatin1String(page.name);
    }
    return QStringLiteral("%1x%2mm").arg(size.width()).arg(size.height());
}

QSize pagePixels(QSizeF size, int dpi)
{
    return QSize(int(std::lround(size.width() / 25.4 * dpi)),
                 int(std::lround(size.height() / 25.4 * dpi)));
}

int printDpi(const StripLayout &layout)
{
    return layout.dpi > 0 ? layout.dpi : defaultPrintDpi;
}

bool fitToPage(StripLayout &layout, QString *why)
{
    if (layout.page.isEmpty())
        return true;
    // A PDF's strip fills its page whatever its rows: the bands are the
    // kind's own (one rectangle each).
    if (layout.format == QLatin1String("pdf")) {
        layout.height = 0;
        return true;
    }
    const QSize pixels = pagePixels(layout.page, printDpi(layout));
    const int frame = (layout.axis ? axisRows(pixels.width()) : 0) +
                      (layout.title.isEmpty() ? 0 : titleRows(pixels.width()));
    if (pixels.height() - frame < 1) {
        *why = QStringLiteral("The page is %1 pixels high at %2 dpi, too low for the title and "
                              "the axis.")
                   .arg(pixels.height())
                   .arg(printDpi(layout));
        return false;
    }
    layout.width = pixels.width();
    layout.height = pixels.height() - frame;
    return true;
}
