#include "export/ringposter.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

QImage ringImage(const QImage &posterImage, int side, bool transparent)
{
    if (posterImage.isNull() || side < 1)
        return {};
    const QImage poster = posterImage.format() == QImage::Format_RGB32
                              ? posterImage
                              : posterImage.convertToFormat(QImage::Format_RGB32);
    QImage image;
    try {
        image = QImage(side, side, transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    } catch (const std::bad_alloc &) {
    }
    if (image.isNull())
        return image;
    const int columns = poster.width();
    const int bands = poster.height();
    const double centre = side / 2.0;
    const double radius = side / 2.0;
    const QRgb outside = transparent ? 0x00000000u : 0xff000000u;
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double dy = y + 0.5 - centre;
        for (int x = 0; x < side; ++x) {
            const double dx = x + 0.5 - centre;
            const double distance = std::hypot(dx, dy);
            // The part of the pixel inside the rim, by its centre's distance.
            const double coverage = std::clamp(radius - distance + 0.5, 0.0, 1.0);
            if (coverage <= 0) {
                line[x] = outside;
                continue;
            }
            // Clockwise from 12 o'clock: y grows downwards.
            double turn = std::atan2(dx, -dy) / (2 * std::numbers::pi);
            if (turn < 0)
                turn += 1;
            const int column = std::clamp(int(turn * columns), 0, columns - 1);
            const int band = std::clamp(int(distance / radius * bands), 0, bands - 1);
            const QRgb colour = reinterpret_cast<const QRgb *>(poster.constScanLine(band))[column];
            if (coverage >= 1) {
                line[x] = colour | 0xff000000u;
            } else if (transparent) {
                line[x] = (colour & 0x00ffffffu) | (uint32_t(std::lround(coverage * 255)) << 24);
            } else {
                const auto blend = [coverage](int channel) {
                    return int(std::lround(channel * coverage));
                };
                line[x] = qRgb(blend(qRed(colour)), blend(qGreen(colour)), blend(qBlue(colour)));
            }
        }
    }
    return image;
}
