#include "analysis/measure.h"

#include "analysis/perceptual.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define REELMETER_AVX2 1
#endif

namespace {

struct SegmentSums {
    ChannelSums channels;
    uint64_t grey = 0; // sum of the per-pixel (r + g + b) / 3
};

inline void addPixel(SegmentSums &sums, uint32_t pixel)
{
    const uint32_t r = (pixel >> 16) & 0xff;
    const uint32_t g = (pixel >> 8) & 0xff;
    const uint32_t b = pixel & 0xff;
    sums.channels.red += r;
    sums.channels.green += g;
    sums.channels.blue += b;
    sums.grey += (r + g + b) / 3;
}

#if defined(__SSE2__)
// Per block every 16-bit lane receives at most 128 additions of two channel
// values (2 * 255 * 128 = 65280), so it cannot wrap before the block is folded.
constexpr int iterationsPerBlock = 128;

// Adds the even and odd 16-bit lanes of acc (unsigned) to even and odd.
inline void foldPairs(__m128i acc, uint64_t &even, uint64_t &odd)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i wide =
        _mm_add_epi32(_mm_unpacklo_epi16(acc, zero), _mm_unpackhi_epi16(acc, zero));
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), wide);
    even += uint64_t(lanes[0]) + lanes[2];
    odd += uint64_t(lanes[1]) + lanes[3];
}

// Sums n pixels eight at a time. Words are 0xAARRGGBB in memory order
// B, G, R, A; masking the low bytes of each 16-bit lane gives (blue, red)
// pairs and shifting gives (green, top byte) pairs, so no byte shuffles are
// needed. The top byte is dropped.
template <bool withGrey>
int sumBlocks(const uint32_t *pixels, int n, ChannelSums &channels, uint64_t &grey)
{
    const __m128i lowBytes = _mm_set1_epi32(0x00ff00ff);
    const __m128i lowWord = _mm_set1_epi32(0x0000ffff);
    const __m128i ones = _mm_set1_epi16(1);
    // x / 3 == (x * 0xaaab) >> 17 for every x below 2^17, and r + g + b <= 765.
    const __m128i third = _mm_set1_epi16(static_cast<short>(0xaaab));
    int i = 0;
    while (n - i >= 8) {
        const int iterations = std::min((n - i) / 8, iterationsPerBlock);
        __m128i blueRed = _mm_setzero_si128();
        __m128i greenTop = _mm_setzero_si128();
        __m128i greySum = _mm_setzero_si128();
        for (int k = 0; k < iterations; ++k, i += 8) {
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + i));
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + i + 4));
            const __m128i br0 = _mm_and_si128(v0, lowBytes);
            const __m128i br1 = _mm_and_si128(v1, lowBytes);
            const __m128i gt0 = _mm_srli_epi16(v0, 8);
            const __m128i gt1 = _mm_srli_epi16(v1, 8);
            blueRed = _mm_add_epi16(blueRed, _mm_add_epi16(br0, br1));
            greenTop = _mm_add_epi16(greenTop, _mm_add_epi16(gt0, gt1));
            if constexpr (withGrey) {
                // r + g + b per pixel in 32-bit lanes, packed to eight 16-bit lanes.
                const __m128i s0 =
                    _mm_madd_epi16(_mm_add_epi16(br0, _mm_and_si128(gt0, lowWord)), ones);
                const __m128i s1 =
                    _mm_madd_epi16(_mm_add_epi16(br1, _mm_and_si128(gt1, lowWord)), ones);
                const __m128i total = _mm_packs_epi32(s0, s1);
                greySum = _mm_add_epi16(greySum, _mm_srli_epi16(_mm_mulhi_epu16(total, third), 1));
            }
        }
        uint64_t top = 0;
        foldPairs(blueRed, channels.blue, channels.red);
        foldPairs(greenTop, channels.green, top);
        if constexpr (withGrey) {
            uint64_t odd = 0;
            foldPairs(greySum, grey, odd);
            grey += odd;
        }
    }
    return i;
}
#endif

#if defined(REELMETER_AVX2)
__attribute__((target("avx2"))) inline void foldPairs(__m256i acc, uint64_t &even, uint64_t &odd)
{
    foldPairs(_mm256_castsi256_si128(acc), even, odd);
    foldPairs(_mm256_extracti128_si256(acc, 1), even, odd);
}

// sumBlocks sixteen pixels at a time, for processors that have AVX2. The
// 128-bit lanes work as two of sumBlocks' registers side by side.
template <bool withGrey>
__attribute__((target("avx2"))) int sumWideBlocks(const uint32_t *pixels, int n,
                                                  ChannelSums &channels, uint64_t &grey)
{
    const __m256i lowBytes = _mm256_set1_epi32(0x00ff00ff);
    const __m256i lowWord = _mm256_set1_epi32(0x0000ffff);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i third = _mm256_set1_epi16(static_cast<short>(0xaaab));
    int i = 0;
    while (n - i >= 16) {
        const int iterations = std::min((n - i) / 16, iterationsPerBlock);
        __m256i blueRed = _mm256_setzero_si256();
        __m256i greenTop = _mm256_setzero_si256();
        __m256i greySum = _mm256_setzero_si256();
        for (int k = 0; k < iterations; ++k, i += 16) {
            const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + i));
            const __m256i v1 =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + i + 8));
            const __m256i br0 = _mm256_and_si256(v0, lowBytes);
            const __m256i br1 = _mm256_and_si256(v1, lowBytes);
            const __m256i gt0 = _mm256_srli_epi16(v0, 8);
            const __m256i gt1 = _mm256_srli_epi16(v1, 8);
            blueRed = _mm256_add_epi16(blueRed, _mm256_add_epi16(br0, br1));
            greenTop = _mm256_add_epi16(greenTop, _mm256_add_epi16(gt0, gt1));
            if constexpr (withGrey) {
                const __m256i s0 =
                    _mm256_madd_epi16(_mm256_add_epi16(br0, _mm256_and_si256(gt0, lowWord)), ones);
                const __m256i s1 =
                    _mm256_madd_epi16(_mm256_add_epi16(br1, _mm256_and_si256(gt1, lowWord)), ones);
                const __m256i total = _mm256_packs_epi32(s0, s1);
                greySum = _mm256_add_epi16(greySum,
                                           _mm256_srli_epi16(_mm256_mulhi_epu16(total, third), 1));
            }
        }
        uint64_t top = 0;
        foldPairs(blueRed, channels.blue, channels.red);
        foldPairs(greenTop, channels.green, top);
        if constexpr (withGrey) {
            uint64_t odd = 0;
            foldPairs(greySum, grey, odd);
            grey += odd;
        }
    }
    return i;
}

bool detectAvx2()
{
    // Static initialisers may run before the compiler's own CPU detection.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool hasAvx2 = detectAvx2();
#endif

// The vector loops measuring may use, chosen once per call that reads
// pixels rather than per row.
struct Kernels {
    bool sse2 = false;
    bool avx2 = false;
    bool vbmi = false; // the linear-light lookups
};

// How many of n pixels the vector loops took; the rest is left to the caller.
template <bool withGrey>
int sumVectors(const uint32_t *pixels, int n, ChannelSums &channels, uint64_t &grey,
               Kernels kernels)
{
    int i = 0;
#if defined(REELMETER_AVX2)
    if (kernels.avx2)
        i = sumWideBlocks<withGrey>(pixels, n, channels, grey);
#endif
#if defined(__SSE2__)
    if (kernels.sse2)
        i += sumBlocks<withGrey>(pixels + i, n - i, channels, grey);
#endif
    return i;
}

void sumSegment(const uint32_t *pixels, int n, SegmentSums &sums, Kernels kernels)
{
    int i = sumVectors<true>(pixels, n, sums.channels, sums.grey, kernels);
    for (; i < n; ++i)
        addPixel(sums, pixels[i]);
}

#if defined(REELMETER_AVX2)
// The table's entries split into their three bytes, one plane each: byte
// tables that AVX-512 VBMI looks up 64 at a time.
struct LinearPlanes {
    alignas(64) uint8_t bytes[3][256];
};

const LinearPlanes &linearPlanes()
{
    static const LinearPlanes planes = [] {
        LinearPlanes p;
        const std::array<uint32_t, 256> &table = linearTable();
        for (int plane = 0; plane < 3; ++plane)
            for (int v = 0; v < 256; ++v)
                p.bytes[plane][v] = uint8_t(table[size_t(v)] >> (8 * plane));
        return p;
    }();
    return planes;
}

// addLinear sixteen pixels at a time. Each pixel's bytes are grouped by
// channel, looked up plane by plane in two 128-entry halves, and summed by
// SAD against zero; the planes are weighted when the totals are taken.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int
addLinearVbmi(const uint32_t *pixels, int n, std::array<uint64_t, 3> &linear)
{
    const LinearPlanes &planes = linearPlanes();
    __m512i tables[3][4];
    for (int plane = 0; plane < 3; ++plane)
        for (int part = 0; part < 4; ++part)
            tables[plane][part] = _mm512_load_si512(planes.bytes[plane] + 64 * part);
    // Bytes 0..15: the red of the 16 pixels, 16..31 green, 32..47 blue,
    // 48..63 the unused top bytes.
    alignas(64) uint8_t order[64];
    for (int j = 0; j < 16; ++j) {
        order[j] = uint8_t(4 * j + 2);
        order[16 + j] = uint8_t(4 * j + 1);
        order[32 + j] = uint8_t(4 * j);
        order[48 + j] = uint8_t(4 * j + 3);
    }
    const __m512i grouping = _mm512_load_si512(order);
    const __m512i zero = _mm512_setzero_si512();
    __m512i sums[3] = {zero, zero, zero};
    int i = 0;
    for (; n - i >= 16; i += 16) {
        const __m512i v = _mm512_maskz_permutexvar_epi8(
            ~__mmask64(0), grouping,
            _mm512_loadu_si512(reinterpret_cast<const void *>(pixels + i)));
        const __mmask64 upper = _mm512_movepi8_mask(v);
        for (int plane = 0; plane < 3; ++plane) {
            const __m512i low = _mm512_permutex2var_epi8(tables[plane][0], v, tables[plane][1]);
            const __m512i high = _mm512_permutex2var_epi8(tables[plane][2], v, tables[plane][3]);
            const __m512i bytes = _mm512_mask_blend_epi8(upper, low, high);
            sums[plane] = _mm512_add_epi64(sums[plane], _mm512_sad_epu8(bytes, zero));
        }
    }
    for (int plane = 0; plane < 3; ++plane) {
        alignas(64) uint64_t lanes[8];
        _mm512_store_si512(lanes, sums[plane]);
        for (int c = 0; c < 3; ++c)
            linear[size_t(c)] += (lanes[2 * c] + lanes[2 * c + 1]) << (8 * plane);
    }
    return i;
}

bool detectVbmi()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

const bool hasVbmi = detectVbmi();
#endif

// Which kernels this processor runs, and which one a test or benchmark forced.
bool supported(MeasureKernel kernel)
{
    switch (kernel) {
    case MeasureKernel::Best:
    case MeasureKernel::Scalar:
        return true;
    case MeasureKernel::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case MeasureKernel::Avx2:
#if defined(REELMETER_AVX2)
        return hasAvx2;
#else
        return false;
#endif
    case MeasureKernel::Avx512:
#if defined(REELMETER_AVX2)
        return hasAvx2 && hasVbmi;
#else
        return false;
#endif
    }
    return false;
}

std::atomic<MeasureKernel> forcedKernel{MeasureKernel::Best};

Kernels activeKernels()
{
    Kernels k;
    switch (forcedKernel.load(std::memory_order_relaxed)) {
    case MeasureKernel::Best:
#if defined(__SSE2__)
        k.sse2 = true;
#endif
#if defined(REELMETER_AVX2)
        k.avx2 = hasAvx2;
        k.vbmi = hasVbmi;
#endif
        break;
    case MeasureKernel::Scalar:
        break;
    case MeasureKernel::Sse2:
        k.sse2 = true;
        break;
    case MeasureKernel::Avx2:
        k.sse2 = k.avx2 = true;
        break;
    case MeasureKernel::Avx512:
        k.sse2 = k.avx2 = k.vbmi = true;
        break;
    }
    return k;
}

// A table lookup per channel: the sums are exact integers.
void addLinear(const uint32_t *pixels, int n, std::array<uint64_t, 3> &linear, Kernels kernels)
{
    const std::array<uint32_t, 256> &table = linearTable();
    int i = 0;
#if defined(REELMETER_AVX2)
    if (kernels.vbmi)
        i = addLinearVbmi(pixels, n, linear);
#endif
    uint64_t red = 0;
    uint64_t green = 0;
    uint64_t blue = 0;
    for (; i < n; ++i) {
        const uint32_t pixel = pixels[i];
        red += table[(pixel >> 16) & 0xff];
        green += table[(pixel >> 8) & 0xff];
        blue += table[pixel & 0xff];
    }
    linear[0] += red;
    linear[1] += green;
    linear[2] += blue;
}

// Row y's linear-light sums, also by quadrant and kept per row, split as
// addRows splits the row for the quadrants.
void addLinearParts(RowSums &sums, const uint32_t *line, int y, Kernels kernels)
{
    const int halfW = sums.width / 2;
    const int halfH = sums.height / 2;
    std::array<uint64_t, 3> left{};
    std::array<uint64_t, 3> right{};
    std::array<uint64_t, 3> &whole = sums.rowLinear[size_t(y)];
    whole = {};
    addLinear(line, halfW, left, kernels);
    addLinear(line + halfW + 1, sums.width - halfW - 1, right, kernels);
    addLinear(line + halfW, 1, whole, kernels);
    for (size_t c = 0; c < 3; ++c) {
        whole[c] += left[c] + right[c];
        sums.linear[c] += whole[c];
        if (y < halfH) {
            sums.linearQuadrants[TopLeft][c] += left[c];
            sums.linearQuadrants[TopRight][c] += right[c];
        } else if (y > halfH) {
            sums.linearQuadrants[BottomLeft][c] += left[c];
            sums.linearQuadrants[BottomRight][c] += right[c];
        }
    }
}

// The pass reads 32-bit words in place; only unusual formats pay for a copy.
bool readableInPlace(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return true;
    default:
        return false;
    }
}

const QImage &readable(const QImage &image, QImage &copy)
{
    if (image.isNull() || readableInPlace(image))
        return image;
    copy = image.convertToFormat(QImage::Format_ARGB32);
    return copy;
}

// Whether sums were gathered from all of frame's rows, as they lie in place.
bool coversFrame(const RowSums &sums, const QImage &frame)
{
    return sums.rows == frame.height() && sums.width == frame.width() &&
           sums.height == frame.height() && readableInPlace(frame);
}

inline const uint32_t *row(const QImage &image, int y)
{
    return reinterpret_cast<const uint32_t *>(image.constScanLine(y));
}

// Truncated quotient; a zero divisor gives 0.
inline int quotient(uint64_t sum, int64_t divisor)
{
    return divisor == 0 ? 0 : static_cast<int>(static_cast<double>(sum) / divisor);
}

// QColor warns about out-of-range channels; the values are limited here.
inline int channel(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, 0, 255));
}

QColor makeColour(int64_t red, int64_t green, int64_t blue)
{
    QColor colour;
    colour.setRed(channel(red));
    colour.setGreen(channel(green));
    colour.setBlue(channel(blue));
    return colour;
}

QColor averageColour(const ChannelSums &sums, int64_t divisor)
{
    return makeColour(quotient(sums.red, divisor), quotient(sums.green, divisor),
                      quotient(sums.blue, divisor));
}

inline int64_t difference(uint64_t current, uint64_t previous, int64_t divisor)
{
    if (divisor == 0)
        return 0;
    return std::llabs(static_cast<int64_t>(current) - static_cast<int64_t>(previous)) / divisor;
}

QColor differenceColour(const ChannelSums &current, const ChannelSums &previous, int64_t divisor)
{
    return makeColour(difference(current.red, previous.red, divisor),
                      difference(current.green, previous.green, divisor),
                      difference(current.blue, previous.blue, divisor));
}

PictureSums toPictureSums(const ChannelSums &sums, const QImage &image)
{
    PictureSums result;
    result.channels = sums;
    result.size = image.size();
    result.set = !image.isNull();
    return result;
}

FrameColours coloursOf(const RowSums &sums, const ChannelSums &previousSums)
{
    const int w = sums.width;
    const int h = sums.height;
    const int64_t pixelCount = int64_t(w) * h;
    const int64_t quadrantCount = int64_t(w / 2) * (h / 2);
    // Wider than the band: the middle band has one row more, hence values above 255.
    const int64_t moodDivisor = int64_t(h / 3) * 255 * w;

    FrameColours colours;
    colours.average = averageColour(sums.whole, pixelCount);
    for (int q = 0; q < 4; ++q)
        colours.quadrants[q] = averageColour(sums.quadrants[q], quadrantCount);
    const int level = quotient(sums.grey, pixelCount);
    colours.brightness = makeColour(level, level, level);
    colours.difference = differenceColour(sums.whole, previousSums, pixelCount);
    if (moodDivisor == 0) {
        colours.mood = makeColour(0, 0, 0);
    } else {
        const double k = 255.0 / static_cast<double>(moodDivisor);
        colours.mood = makeColour(static_cast<int64_t>(static_cast<double>(sums.upper) * k),
                                  static_cast<int64_t>(static_cast<double>(sums.middle) * k),
                                  static_cast<int64_t>(static_cast<double>(sums.lower) * k));
    }
    return colours;
}

// The sums of all of frame's rows, with the linear parts when asked.
RowSums rowSumsOf(const QImage &frameImage, bool linearParts = false)
{
    QImage copy;
    const QImage &frame = readable(frameImage, copy);
    RowSums sums;
    sums.withLinear = sums.linearParts = linearParts;
    addRows(sums, frame.constBits(), frame.bytesPerLine(), frame.width(), frame.height(), 0,
            frame.height());
    return sums;
}

// What a picture of this size is compared against: the earlier picture's sums
// when it is a picture of the same size, else none (zero sums).
ChannelSums comparedSums(const PictureSums &previous, QSize size)
{
    if (!previous.set || previous.size != size)
        return {};
    return previous.channels;
}

void squeezeRows(const RowSums &sums, std::span<QColor> rows)
{
    const int64_t h = sums.height;
    const int64_t count = int64_t(rows.size());
    for (int64_t j = 0; j < count; ++j) {
        if (h == 0 || sums.width == 0) {
            rows[size_t(j)] = makeColour(0, 0, 0);
            continue;
        }
        const int64_t first = j * h / count;
        const int64_t last = std::max((j + 1) * h / count, first + 1);
        ChannelSums total;
        for (int64_t y = first; y < last; ++y)
            total += sums.rowChannels[size_t(y)];
        const uint64_t pixels = uint64_t(last - first) * uint64_t(sums.width);
        rows[size_t(j)] = makeColour(int64_t((total.red + pixels / 2) / pixels),
                                     int64_t((total.green + pixels / 2) / pixels),
                                     int64_t((total.blue + pixels / 2) / pixels));
    }
}

QColor linearColour(const std::array<uint64_t, 3> &sum, uint64_t count)
{
    return makeColour(srgbLevelOfSum(sum[0], count), srgbLevelOfSum(sum[1], count),
                      srgbLevelOfSum(sum[2], count));
}

// measurePicture's colours for ColourMean::Linear, over the sRGB ones.
void useLinearMeans(const RowSums &sums, FrameColours &colours, std::span<QColor> rows)
{
    const uint64_t w = uint64_t(std::max(sums.width, 0));
    const uint64_t h = uint64_t(std::max(sums.height, 0));
    colours.average = linearColour(sums.linear, w * h);
    for (int q = 0; q < 4; ++q)
        colours.quadrants[q] = linearColour(sums.linearQuadrants[q], (w / 2) * (h / 2));
    const uint64_t count = rows.size();
    for (uint64_t j = 0; j < count && h > 0 && w > 0; ++j) {
        const uint64_t first = j * h / count;
        const uint64_t last = std::max((j + 1) * h / count, first + 1);
        std::array<uint64_t, 3> total{};
        for (uint64_t y = first; y < last; ++y)
            for (size_t c = 0; c < 3; ++c)
                total[c] += sums.rowLinear[y][c];
        rows[j] = linearColour(total, (last - first) * w);
    }
}

} // namespace

void addRows(RowSums &sums, const uchar *pixels, qsizetype bytesPerLine, int width, int height,
             int firstRow, int rowCount)
{
    if (firstRow == 0) {
        std::vector<ChannelSums> kept = std::move(sums.rowChannels);
        std::vector<std::array<uint64_t, 3>> keptLinear = std::move(sums.rowLinear);
        const bool withLinear = sums.withLinear;
        const bool linearParts = sums.linearParts;
        sums = RowSums();
        sums.width = width;
        sums.height = height;
        sums.rowChannels = std::move(kept);
        sums.rowLinear = std::move(keptLinear);
        sums.withLinear = withLinear;
        sums.linearParts = linearParts;
        sums.rowChannels.resize(size_t(std::max(height, 0)));
        if (withLinear && linearParts)
            sums.rowLinear.resize(size_t(std::max(height, 0)));
    }
    // A band out of order leaves the sums incomplete, never wrong.
    if (firstRow != sums.rows || width != sums.width || height != sums.height ||
        rowCount > height - firstRow) {
        sums.rows = -1;
        return;
    }
    const Kernels kernels = activeKernels();
    const int halfW = width / 2;
    const int halfH = height / 2;
    const int third = height / 3;
    // Each row has one quadrant and one band class: sum it as [0, w/2), the
    // column w/2 (in no quadrant) and (w/2, w).
    for (int y = firstRow; y < firstRow + rowCount && width > 0; ++y) {
        const auto *line =
            reinterpret_cast<const uint32_t *>(pixels + (y - firstRow) * bytesPerLine);
        SegmentSums left;
        SegmentSums right;
        sumSegment(line, halfW, left, kernels);
        sumSegment(line + halfW + 1, width - halfW - 1, right, kernels);
        SegmentSums whole = left;
        whole.channels += right.channels;
        whole.grey += right.grey;
        addPixel(whole, line[halfW]);

        sums.whole += whole.channels;
        sums.rowChannels[size_t(y)] = whole.channels;
        sums.grey += whole.grey;
        if (y < halfH) {
            sums.quadrants[TopLeft] += left.channels;
            sums.quadrants[TopRight] += right.channels;
        } else if (y > halfH) {
            sums.quadrants[BottomLeft] += left.channels;
            sums.quadrants[BottomRight] += right.channels;
        }
        if (y < third)
            sums.upper += whole.channels.red;
        else if (y <= 2 * third)
            sums.middle += whole.channels.blue;
        else
            sums.lower += whole.channels.green;
        if (sums.withLinear && sums.linearParts)
            addLinearParts(sums, line, y, kernels);
        else if (sums.withLinear)
            addLinear(line, width, sums.linear, kernels);
    }
    sums.rows = firstRow + rowCount;
}

std::array<double, 3> linearMean(const QImage &frameImage, const RowSums &sums)
{
    QImage copy;
    const QImage &frame = readable(frameImage, copy);
    std::array<uint64_t, 3> linear = sums.linear;
    if (!(sums.withLinear && coversFrame(sums, frameImage))) {
        linear = {};
        const Kernels kernels = activeKernels();
        for (int y = 0; y < frame.height(); ++y)
            addLinear(row(frame, y), frame.width(), linear, kernels);
    }
    const double pixels = double(frame.width()) * frame.height();
    if (pixels == 0)
        return {};
    return {linear[0] / linearScale / pixels, linear[1] / linearScale / pixels,
            linear[2] / linearScale / pixels};
}

FrameColours measurePicture(const QImage &frame, const RowSums &sums, const PictureSums &previous,
                            PictureSums &own, std::span<QColor> frameRows, ColourMean mean)
{
    const bool linear = mean == ColourMean::Linear;
    const bool complete =
        coversFrame(sums, frame) && (!linear || (sums.withLinear && sums.linearParts));
    const RowSums taken = complete ? RowSums() : rowSumsOf(frame, linear);
    const RowSums &gathered = complete ? sums : taken;
    own = toPictureSums(gathered.whole, frame);
    squeezeRows(gathered, frameRows);
    FrameColours colours = coloursOf(gathered, comparedSums(previous, frame.size()));
    if (linear)
        useLinearMeans(gathered, colours, frameRows);
    return colours;
}

bool forceMeasureKernel(MeasureKernel kernel)
{
    if (!supported(kernel))
        return false;
    forcedKernel.store(kernel, std::memory_order_relaxed);
    return true;
}
