#include "video/exactyuv.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cmath>

// Rows are plain loops the compiler vectorises, for AVX2 where the processor
// has it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VECTORISED __attribute__((target_clones("avx2", "default"), optimize("tree-vectorize")))
#else
#define VECTORISED
#endif

namespace {

struct LumaWeights {
    double red, blue;
};

bool weightsOf(int colorspace, LumaWeights *weights)
{
    switch (colorspace) {
    case AVCOL_SPC_BT709:
        *weights = {0.2126, 0.0722};
        return true;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_UNSPECIFIED:
        *weights = {0.299, 0.114};
        return true;
    case AVCOL_SPC_FCC:
        *weights = {0.30, 0.11};
        return true;
    case AVCOL_SPC_SMPTE240M:
        *weights = {0.212, 0.087};
        return true;
    case AVCOL_SPC_BT2020_NCL:
        *weights = {0.2627, 0.0593};
        return true;
    default:
        return false;
    }
}

int32_t fixed(double value)
{
    return static_cast<int32_t>(std::lround(value * 65536.0));
}

uint32_t clamped(int32_t value)
{
    return static_cast<uint32_t>(std::clamp(value >> 16, 0, 255));
}

VECTORISED void convertPixels(const uint8_t *__restrict luma, const int16_t *__restrict cb,
                              const int16_t *__restrict cr, uint32_t *__restrict out, int width,
                              const ExactYuvConverter::Coefficients &k)
{
    const int32_t yOffset = k.yOffset, yScale = k.yScale, crToRed = k.crToRed,
                  cbToGreen = k.cbToGreen, crToGreen = k.crToGreen, cbToBlue = k.cbToBlue;
    constexpr int32_t half = 1 << 15, grey = 128 * 16;
    for (int x = 0; x < width; ++x) {
        const int32_t l = (luma[x] - yOffset) * yScale + half;
        const int32_t u = cb[x] - grey, v = cr[x] - grey;
        const int32_t r = l + crToRed * v;
        const int32_t g = l - cbToGreen * u - crToGreen * v;
        const int32_t b = l + cbToBlue * u;
        out[x] = 0xff000000u | clamped(r) << 16 | clamped(g) << 8 | clamped(b);
    }
}

} // namespace

bool ExactYuvConverter::fit(int width, int height, int format, int range, int colorspace,
                            int chromaLocation)
{
    reset();
    LumaWeights k;
    const bool full = format == AV_PIX_FMT_YUVJ420P || range == AVCOL_RANGE_JPEG;
    if ((format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) || width <= 0 ||
        height <= 0 || !weightsOf(colorspace, &k))
        return false;
    // In 4:2:0 a chroma row sits between two luma rows; a chroma column on
    // the left one of two luma columns (MPEG-2 and later) or between them
    // (MPEG-1, JPEG).
    if (chromaLocation == AVCHROMA_LOC_CENTER)
        m_centredColumns = true;
    else if (chromaLocation == AVCHROMA_LOC_LEFT)
        m_centredColumns = false;
    else if (chromaLocation == AVCHROMA_LOC_UNSPECIFIED)
        m_centredColumns = format == AV_PIX_FMT_YUVJ420P;
    else
        return false;

    const double luma = full ? 1.0 : 255.0 / 219.0;
    const double chroma = (full ? 1.0 : 255.0 / 224.0) / 16.0;
    const double green = 1.0 - k.red - k.blue;
    m_coefficients.yOffset = full ? 0 : 16;
    m_coefficients.yScale = fixed(luma);
    m_coefficients.crToRed = fixed(2 * (1 - k.red) * chroma);
    m_coefficients.cbToBlue = fixed(2 * (1 - k.blue) * chroma);
    m_coefficients.cbToGreen = fixed(2 * k.blue * (1 - k.blue) / green * chroma);
    m_coefficients.crToGreen = fixed(2 * k.red * (1 - k.red) / green * chroma);

    const size_t chromaWidth = (static_cast<size_t>(width) + 1) / 2;
    m_blendCb.assign(chromaWidth, 0);
    m_blendCr.assign(chromaWidth, 0);
    m_rowCb.assign(static_cast<size_t>(width), 0);
    m_rowCr.assign(static_cast<size_t>(width), 0);
    m_width = width;
    m_height = height;
    return true;
}

namespace {

// Row y's chroma from the plane's rows, sited between luma rows: three
// quarters of the nearer row, a quarter of the other.
VECTORISED void blendRows(const uint8_t *__restrict near, const uint8_t *__restrict far,
                          int16_t *__restrict out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(3 * near[i] + far[i]);
}

// Across the row, to one value per luma column, in sixteenths. The ends
// repeat the edge sample.
VECTORISED void spreadColumns(const int16_t *__restrict in, int16_t *__restrict out, int width,
                              bool centred)
{
    const int n = (width + 1) / 2;
    auto at = [&](int i) { return in[std::clamp(i, 0, n - 1)]; };
    auto ends = [&](int i) {
        const int x = 2 * i;
        out[x] = static_cast<int16_t>(centred ? 3 * in[i] + at(i - 1) : 4 * in[i]);
        if (x + 1 < width)
            out[x + 1] =
                static_cast<int16_t>(centred ? 3 * in[i] + at(i + 1) : 2 * in[i] + 2 * at(i + 1));
    };
    ends(0);
    if (centred) {
        for (int i = 1; i < n - 1; ++i) {
            out[2 * i] = static_cast<int16_t>(3 * in[i] + in[i - 1]);
            out[2 * i + 1] = static_cast<int16_t>(3 * in[i] + in[i + 1]);
        }
    } else {
        for (int i = 1; i < n - 1; ++i) {
            out[2 * i] = static_cast<int16_t>(4 * in[i]);
            out[2 * i + 1] = static_cast<int16_t>(2 * in[i] + 2 * in[i + 1]);
        }
    }
    if (n > 1)
        ends(n - 1);
}

} // namespace

void ExactYuvConverter::convertRows(const AVFrame &picture, int first, int count, uint8_t *rgb,
                                    int stride)
{
    const int chromaWidth = (m_width + 1) / 2;
    const int chromaRows = (m_height + 1) / 2;
    for (int y = first; y < first + count; ++y) {
        const int row = y / 2;
        const int other = std::clamp(y % 2 ? row + 1 : row - 1, 0, chromaRows - 1);
        const uint8_t *cb = picture.data[1] + ptrdiff_t(picture.linesize[1]) * row;
        const uint8_t *cr = picture.data[2] + ptrdiff_t(picture.linesize[2]) * row;
        blendRows(cb, picture.data[1] + ptrdiff_t(picture.linesize[1]) * other, m_blendCb.data(),
                  chromaWidth);
        blendRows(cr, picture.data[2] + ptrdiff_t(picture.linesize[2]) * other, m_blendCr.data(),
                  chromaWidth);
        spreadColumns(m_blendCb.data(), m_rowCb.data(), m_width, m_centredColumns);
        spreadColumns(m_blendCr.data(), m_rowCr.data(), m_width, m_centredColumns);

        const uint8_t *luma = picture.data[0] + ptrdiff_t(picture.linesize[0]) * y;
        auto *out = reinterpret_cast<uint32_t *>(rgb + ptrdiff_t(stride) * (y - first));
        convertPixels(luma, m_rowCb.data(), m_rowCr.data(), out, m_width, m_coefficients);
    }
}
