#include "analysis/activearea.h"

#include <cstdint>
#include <vector>

namespace {

// BT.709 luma of a pixel, in ten-thousandths of a level of full-range RGB.
uint64_t lumaOf(QRgb pixel)
{
    return 2126u * uint(qRed(pixel)) + 7152u * uint(qGreen(pixel)) + 722u * uint(qBlue(pixel));
}

// Whether pixels of this luma sum average at most blackLumaLimit once mapped
// to limited range (16 + luma * 219 / 255), in integers.
bool isBlack(uint64_t lumaSum, uint64_t pixels)
{
    return lumaSum * 219 <= uint64_t(blackLumaLimit - 16) * 255 * 10000 * pixels;
}

} // namespace

QRect activeArea(const QImage &frame)
{
    const int width = frame.width();
    const int height = frame.height();
    std::vector<uint64_t> columns(size_t(std::max(width, 0)), 0);
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        uint64_t sum = 0;
        for (int x = 0; x < width; ++x) {
            const uint64_t luma = lumaOf(row[x]);
            sum += luma;
            columns[size_t(x)] += luma;
        }
        if (!isBlack(sum, uint64_t(width))) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    int left = -1;
    int right = -1;
    for (int x = 0; x < width; ++x) {
        if (!isBlack(columns[size_t(x)], uint64_t(height))) {
            if (left < 0)
                left = x;
            right = x;
        }
    }
    if (top < 0 || left < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}
