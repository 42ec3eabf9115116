// Posters at a print size: a page (A4 to A0, or any size in millimetres)
// and the dots per inch of the files at it.
#pragma once

#include <QSize>
#include <QSizeF>
#include <QString>

#include <optional>

struct StripLayout;

// Without --dpi: a print shop's usual resolution.
constexpr int defaultPrintDpi = 300;
constexpr int fewestDpi = 10;
constexpr int mostDpi = 2400;
// Pages from 1 cm up to 200 inches a side, the largest page PDF viewers
// take (14,400 points).
constexpr double smallestPageSide = 10;
constexpr double largestPageSide = 5080;

// "A4", "A3", "A2", "A1", "A0" (landscape: a strip is wide, any case) or
// "WxHmm" (decimals allowed); the size in millimetres, or nothing with the
// reason in why.
std::optional<QSizeF> parsePageSize(const QString &text, QString *why);
// The text parsePageSize reads back as size: "A2" or "500x300mm".
QString pageSizeText(QSizeF size);
// size at dpi in whole pixels, rounded to nearest: A2 at 300 is 7016 x 4961.
QSize pagePixels(QSizeF size, int dpi);
// The dpi layout gives its files: its own, else defaultPrintDpi.
int printDpi(const StripLayout &layout);

// A picture format's poster on layout's page: sets the width and height that
// make each file, strip, title and axis together, the page at its dpi. A
// PDF's strip fills its page: its height goes back to each kind's own.
// False with the reason in why when the page leaves no room for the strip.
bool fitToPage(StripLayout &layout, QString *why);
