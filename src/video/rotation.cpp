#include "video/rotation.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// Output tiles of a swapping turn read this many stored rows, a few cache
// lines each, and come back to them for the next output row.
constexpr int tileSize = 64;

// Where the output pixels of a tile come from: stored pixel of output (x, y)
// is at origin + x * stepX + y * stepY bytes.
struct Walk {
    const uint8_t *origin;
    ptrdiff_t stepX;
    ptrdiff_t stepY;
};

template <int PixelBytes>
void turnTile(const Walk &walk, int pixelBytes, uint8_t *output, int lineSize, int x0, int x1,
              int y0, int y1)
{
    // PixelBytes 0: any size, known only at run time.
    const size_t bytes = PixelBytes > 0 ? size_t(PixelBytes) : size_t(pixelBytes);
    for (int y = y0; y < y1; ++y) {
        ptrdiff_t offset = y * walk.stepY + x0 * walk.stepX;
        uint8_t *out = output + ptrdiff_t(y) * lineSize + ptrdiff_t(x0) * ptrdiff_t(bytes);
        for (int x = x0; x < x1; ++x, offset += walk.stepX, out += bytes)
            std::memcpy(out, walk.origin + offset, bytes);
    }
}

} // namespace

Orientation matrixOrientation(const int32_t *matrix)
{
    if (!matrix)
        return {};
    // A stored pixel (x, y), rows counted downwards, is shown at
    // (a x + c y, b x + d y) plus a shift.
    const double a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    Orientation orientation;
    if (std::abs(a) + std::abs(d) >= std::abs(b) + std::abs(c)) {
        if (a == 0 || d == 0)
            return {};
        orientation.reversesX = a < 0;
        orientation.reversesY = d < 0;
    } else {
        if (b == 0 || c == 0)
            return {};
        orientation.swapsAxes = true;
        orientation.reversesX = b < 0;
        orientation.reversesY = c < 0;
    }
    return orientation;
}

Orientation streamOrientation(const AVStream &stream)
{
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    int32_t matrix[9];
    if (!data || size < sizeof matrix)
        return {};
    std::memcpy(matrix, data, sizeof matrix);
    return matrixOrientation(matrix);
}

int turnablePixelBytes(int pixelFormat)
{
    const AVPixFmtDescriptor *descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (!descriptor ||
        descriptor->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                             AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PLANAR) ||
        descriptor->log2_chroma_w != 0 || descriptor->log2_chroma_h != 0)
        return 0;
    const int bits = av_get_bits_per_pixel(descriptor);
    return bits > 0 && bits % 8 == 0 ? bits / 8 : 0;
}

void turnRows(const StoredPicture &picture, Orientation orientation, uint8_t *output, int lineSize,
              int firstRow, int rowCount)
{
    const ptrdiff_t pixel = picture.pixelBytes;
    const ptrdiff_t line = picture.lineSize;
    const ptrdiff_t alongX = orientation.reversesX ? -pixel : pixel;
    const ptrdiff_t alongY = orientation.reversesY ? -line : line;
    const Walk walk{picture.pixels + (orientation.reversesX ? (picture.width - 1) * pixel : 0) +
                        (orientation.reversesY ? (picture.height - 1) * line : 0),
                    orientation.swapsAxes ? alongY : alongX,
                    orientation.swapsAxes ? alongX : alongY};
    const int width = orientation.swapsAxes ? picture.height : picture.width;
    // Without a swap both pictures are read row by row: no tiles needed.
    const int tile = orientation.swapsAxes ? tileSize : std::max(width, 1);
    const int end = firstRow + rowCount;
    for (int y0 = firstRow; y0 < end; y0 += tile) {
        const int y1 = std::min(y0 + tile, end);
        for (int x0 = 0; x0 < width; x0 += tile) {
            const int x1 = std::min(x0 + tile, width);
            switch (picture.pixelBytes) {
            case 1:
                turnTile<1>(walk, 1, output, lineSize, x0, x1, y0, y1);
                break;
            case 3:
                turnTile<3>(walk, 3, output, lineSize, x0, x1, y0, y1);
                break;
            case 4:
                turnTile<4>(walk, 4, output, lineSize, x0, x1, y0, y1);
                break;
            default:
                turnTile<0>(walk, picture.pixelBytes, output, lineSize, x0, x1, y0, y1);
                break;
            }
        }
    }
}
