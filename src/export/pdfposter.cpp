#include "export/pdfposter.h"

#include "export/atomicfile.h"
#include "export/posterframe.h"
#include "export/printsize.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <new>

namespace {

// Adjacent rectangles that only touch show hairline seams in viewers that
// smooth edges: each reaches this far under the next, which covers it.
constexpr double overlap = 0.5;

void drawStrip(QPainter &painter, const QImage &bands, const QRectF &area)
{
    const int columns = bands.width();
    const int rows = bands.height();
    const double columnWidth = area.width() / columns;
    for (int b = 0; b < rows; ++b) {
        const QRgb *colours = reinterpret_cast<const QRgb *>(bands.constScanLine(b));
        const double top = area.top() + area.height() * b / rows;
        const double bottom = area.top() + area.height() * (b + 1) / rows;
        const double height = bottom - top + (b + 1 < rows ? overlap : 0);
        for (int x = 0; x < columns;) {
            int end = x + 1;
            while (end < columns && colours[end] == colours[x])
                ++end;
            const double width = (end - x) * columnWidth + (end < columns ? overlap : 0);
            painter.fillRect(QRectF(area.left() + x * columnWidth, top, width, height),
                             QColor::fromRgb(colours[x]));
            x = end;
        }
    }
}

} // namespace

bool writePdfPoster(const Strip &strip, StripKind kind, const QString &fileName,
                    const StripLayout &layout, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    // One row per band: all a rectangle needs.
    QImage bands;
    try {
        bands =
            posterImage(strip, layout.span, layout.width, strip.bandCount(), layout.meanOf(kind));
    } catch (const std::bad_alloc &) {
    }
    if (bands.isNull())
        return fail(QStringLiteral("There is not enough memory for the strip."));
    const int dpi = printDpi(layout);
    const int columns = bands.width();
    QSize pixels =
        layout.page.isEmpty() ? QSize(columns, layout.rows(kind)) : pagePixels(layout.page, dpi);
    const int top = layout.title.isEmpty() ? 0 : titleRows(pixels.width());
    const int bottom = layout.axis ? axisRows(pixels.width()) : 0;
    if (layout.page.isEmpty())
        pixels.rheight() += top + bottom;
    else if (pixels.height() - top - bottom < 1)
        return fail(
            QStringLiteral("The page is too low at %1 dpi for the title and the axis.").arg(dpi));
    const QSizeF page(pixels.width() * 25.4 / dpi, pixels.height() * 25.4 / dpi);
    if (page.width() > largestPageSide + 0.5 || page.height() > largestPageSide + 0.5)
        return fail(QStringLiteral("The page would be %1 x %2 mm at %3 dpi, larger than a PDF "
                                   "page may be (%4 mm a side); a page size (--page) or more "
                                   "dots per inch (--dpi) fits it.")
                        .arg(std::lround(page.width()))
                        .arg(std::lround(page.height()))
                        .arg(dpi)
                        .arg(largestPageSide));
    return writeFileAtomically(
        fileName,
        [&](QIODevice &file) {
            QPdfWriter writer(&file);
            writer.setCreator(QStringLiteral("Reelmeter"));
            writer.setTitle(layout.title);
            writer.setResolution(dpi);
            writer.setPageMargins(QMarginsF());
            if (!writer.setPageSize(QPageSize(layout.page.isEmpty() ? page : layout.page,
                                              QPageSize::Millimeter, QString(),
                                              QPageSize::ExactMatch)))
                return false;
            QPainter painter;
            if (!painter.begin(&writer))
                return false;
            // The page in the pixels of a picture of it at dpi.
            const double scale = double(writer.width()) / pixels.width();
            painter.scale(scale, scale);
            painter.fillRect(QRectF(0, 0, pixels.width(), pixels.height()), posterGround());
            drawStrip(painter, bands,
                      QRectF(0, top, pixels.width(), pixels.height() - top - bottom));
            drawPosterFrame(painter, pixels.width(), top, pixels.height() - bottom, layout.span,
                            columns, double(pixels.width()) / columns, layout.axis, layout.title);
            return painter.end();
        },
        QStringLiteral("The PDF could not be written."), why);
}
