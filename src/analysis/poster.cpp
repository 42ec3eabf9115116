#include "analysis/poster.h"

#include "analysis/perceptual.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

int nearestPicture(std::span<const double> times, double t)
{
    const auto after = std::lower_bound(times.begin(), times.end(), t);
    if (after == times.begin())
        return 0;
    if (after == times.end())
        return int(times.size()) - 1;
    const auto before = after - 1;
    return t - *before <= *after - t ? int(before - times.begin()) : int(after - times.begin());
}

QImage posterImage(const Strip &strip, const PictureSpan &span, int width, int height,
                   ColourMean mean)
{
    const bool inLight = mean == ColourMean::Linear;
    const std::array<uint32_t, 256> &table = linearTable();
    const int pictures = strip.width();
    const int bands = strip.bandCount();
    if (pictures == 0 || height < 1)
        return {};
    const int columns = width > 0 ? width : pictures;

    // Band colours of every output column, 0xffRRGGBB.
    std::vector<QRgb> colours(size_t(columns) * bands);
    if (width <= 0) {
        for (int x = 0; x < columns; ++x)
            for (int b = 0; b < bands; ++b)
                colours[size_t(x) * bands + b] = strip.colourAt(x, b);
    } else {
        const double first = span.times.front();
        const double length = span.end - first;
        std::vector<uint64_t> sums(size_t(columns) * bands * 3, 0);
        std::vector<uint32_t> counts(size_t(columns), 0);
        for (int i = 0; i < pictures; ++i) {
            const double at = length > 0 ? (span.times[size_t(i)] - first) / length : 0;
            const int x = std::clamp(int(std::floor(at * columns)), 0, columns - 1);
            ++counts[size_t(x)];
            for (int b = 0; b < bands; ++b) {
                const QRgb pixel = strip.colourAt(i, b);
                uint64_t *sum = &sums[(size_t(x) * bands + b) * 3];
                if (inLight) {
                    sum[0] += table[size_t(qRed(pixel))];
                    sum[1] += table[size_t(qGreen(pixel))];
                    sum[2] += table[size_t(qBlue(pixel))];
                    continue;
                }
                sum[0] += uint64_t(qRed(pixel));
                sum[1] += uint64_t(qGreen(pixel));
                sum[2] += uint64_t(qBlue(pixel));
            }
        }
        for (int x = 0; x < columns; ++x) {
            const uint64_t count = counts[size_t(x)];
            for (int b = 0; b < bands; ++b) {
                QRgb &colour = colours[size_t(x) * bands + b];
                if (count == 0) {
                    const double middle = first + length * (x + 0.5) / columns;
                    colour = strip.colourAt(nearestPicture(span.times, middle), b);
                    continue;
                }
                const uint64_t *sum = &sums[(size_t(x) * bands + b) * 3];
                if (inLight) {
                    colour = qRgb(srgbLevelOfSum(sum[0], count), srgbLevelOfSum(sum[1], count),
                                  srgbLevelOfSum(sum[2], count));
                    continue;
                }
                colour = qRgb(int((sum[0] + count / 2) / count), int((sum[1] + count / 2) / count),
                              int((sum[2] + count / 2) / count));
            }
        }
    }

    QImage image(columns, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int b = 0; b < bands; ++b) {
        const int top = b * height / bands;
        const int bottom = (b + 1) * height / bands;
        for (int y = top; y < bottom; ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < columns; ++x)
                row[x] = colours[size_t(x) * bands + b];
        }
    }
    return image;
}
