#include "analysis/strip.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int initialCapacity = 256;
constexpr int channels = 3;

QRgb *rowAt(uchar *bits, qsizetype bytesPerLine, int row)
{
    return reinterpret_cast<QRgb *>(bits + row * bytesPerLine);
}

} // namespace

Strip::Strip(int bandCount, int bandHeight, int reducedBound)
    : m_bandCount(std::max(bandCount, 1)), m_bandHeight(std::max(bandHeight, 1)),
      m_reducedBound(std::max(reducedBound / 2 * 2, 2))
{
}

bool Strip::growTo(int capacity)
{
    if (qsizetype(capacity) * height() > largestPixels)
        return false;
    QImage grown(capacity, height(), QImage::Format_RGB32);
    if (grown.isNull())
        return false;
    if (m_width > 0) {
        const qsizetype used = qsizetype(m_width) * sizeof(QRgb);
        for (int row = 0; row < height(); ++row)
            std::memcpy(grown.scanLine(row), m_pixels.constScanLine(row), used);
    }
    m_pixels = std::move(grown);
    return true;
}

void Strip::reserve(int columns)
{
    if (columns > m_pixels.width())
        growTo(columns);
}

void Strip::append(std::span<const QColor> bandColours)
{
    Q_ASSERT(bandColours.size() == std::size_t(m_bandCount));
    if (m_width == m_pixels.width()) {
        const qsizetype room = largestPixels / height();
        const int capacity =
            int(std::min<qsizetype>(std::max(initialCapacity, 2 * m_pixels.width()), room));
        if (capacity <= m_width || !growTo(capacity)) {
            m_overflowed = true;
            return;
        }
    }

    // bits() once: scanLine() would check for sharing on every row.
    uchar *bits = m_pixels.bits();
    const qsizetype bytesPerLine = m_pixels.bytesPerLine();
    for (int band = 0; band < m_bandCount; ++band) {
        // rgb() is 0xffRRGGBB, and 0xff000000 for an invalid colour, as the
        // painter draws it.
        const QRgb pixel = bandColours[band].rgb();
        const int top = band * m_bandHeight;
        for (int row = top; row < top + m_bandHeight; ++row)
            rowAt(bits, bytesPerLine, row)[m_width] = pixel;
    }
    addToReduced(bandColours);
    ++m_width;
}

void Strip::addToReduced(std::span<const QColor> bandColours)
{
    const std::size_t stride = std::size_t(m_bandCount) * channels;
    if (m_width % m_factor == 0) {
        if (m_reducedWidth == m_reducedBound)
            halveReduced();
        // The bound is even, so after halving the new column starts afresh.
        const std::size_t begin = std::size_t(m_reducedWidth) * stride;
        if (m_sums.size() < begin + stride)
            m_sums.resize(begin + stride);
        std::fill_n(m_sums.begin() + begin, stride, 0u);
        ++m_reducedWidth;
    }
    std::uint32_t *sums = m_sums.data() + std::size_t(m_reducedWidth - 1) * stride;
    for (int band = 0; band < m_bandCount; ++band) {
        const QRgb pixel = bandColours[band].rgb();
        sums[band * channels + 0] += qRed(pixel);
        sums[band * channels + 1] += qGreen(pixel);
        sums[band * channels + 2] += qBlue(pixel);
    }
}

void Strip::halveReduced()
{
    const std::size_t stride = std::size_t(m_bandCount) * channels;
    const int half = m_reducedWidth / 2;
    for (int j = 0; j < half; ++j) {
        for (std::size_t k = 0; k < stride; ++k)
            m_sums[j * stride + k] = m_sums[2 * j * stride + k] + m_sums[(2 * j + 1) * stride + k];
    }
    m_reducedWidth = half;
    m_factor *= 2;
}

int Strip::reducedCount(int j) const
{
    return j < m_reducedWidth - 1 ? m_factor : m_width - (m_reducedWidth - 1) * m_factor;
}

void Strip::clear()
{
    m_width = 0;
    m_overflowed = false;
    m_reducedWidth = 0;
    m_factor = 1;
}

QImage Strip::image() const
{
    if (m_width == 0)
        return {};
    return m_pixels.copy(0, 0, m_width, height());
}

QRgb Strip::colourAt(int column, int band) const
{
    return reinterpret_cast<const QRgb *>(m_pixels.constScanLine(band * m_bandHeight))[column];
}

QImage Strip::reducedImage() const
{
    if (m_reducedWidth == 0)
        return {};
    QImage reduced(m_reducedWidth, height(), QImage::Format_RGB32);
    if (reduced.isNull())
        return reduced;
    const std::size_t stride = std::size_t(m_bandCount) * channels;
    for (int band = 0; band < m_bandCount; ++band) {
        const int top = band * m_bandHeight;
        QRgb *first = reinterpret_cast<QRgb *>(reduced.scanLine(top));
        for (int j = 0; j < m_reducedWidth; ++j) {
            const std::uint32_t count = reducedCount(j);
            const std::uint32_t *sums = m_sums.data() + j * stride + band * channels;
            first[j] = qRgb((sums[0] + count / 2) / count, (sums[1] + count / 2) / count,
                            (sums[2] + count / 2) / count);
        }
        for (int row = top + 1; row < top + m_bandHeight; ++row)
            std::memcpy(reduced.scanLine(row), first, m_reducedWidth * sizeof(QRgb));
    }
    return reduced;
}

QImage Strip::areaAverage(int targetWidth) const
{
    // Positions are counted in 1/targetWidth of a strip column, so that both the
    // target columns (n units each) and the reduced columns (f * targetWidth
    // units each) have integer bounds.
    const std::int64_t n = m_width;
    const std::int64_t f = m_factor;
    const std::int64_t w = targetWidth;
    const std::size_t stride = std::size_t(m_bandCount) * channels;

    QImage out(targetWidth, height(), QImage::Format_RGB32);
    for (int band = 0; band < m_bandCount; ++band) {
        const int top = band * m_bandHeight;
        QRgb *first = reinterpret_cast<QRgb *>(out.scanLine(top));
        int j = 0;
        for (std::int64_t x = 0; x < w; ++x) {
            const std::int64_t x0 = x * n;
            const std::int64_t x1 = x0 + n;
            double acc[channels] = {0, 0, 0};
            while (j < m_reducedWidth) {
                const std::int64_t c0 = j * f * w;
                const std::int64_t c1 = std::min((j + 1) * f, n) * w;
                if (c0 >= x1)
                    break;
                // Within a reduced column the strip is taken as uniform.
                const double weight =
                    double(std::min(c1, x1) - std::max(c0, x0)) / double(reducedCount(j));
                const std::uint32_t *sums = m_sums.data() + j * stride + band * channels;
                for (int c = 0; c < channels; ++c)
                    acc[c] += weight * sums[c];
                if (c1 > x1)
                    break;
                ++j;
            }
            int value[channels];
            for (int c = 0; c < channels; ++c)
                value[c] = std::clamp(int(acc[c] / double(n) + 0.5), 0, 255);
            first[x] = qRgb(value[0], value[1], value[2]);
        }
        for (int row = top + 1; row < top + m_bandHeight; ++row)
            std::memcpy(out.scanLine(row), first, targetWidth * sizeof(QRgb));
    }
    return out;
}

QImage Strip::displayImage(QSize size) const
{
    if (m_width == 0 || size.isEmpty())
        return {};
    if (m_factor == 1)
        return exactDisplayImage(size);
    QImage out = areaAverage(size.width());
    if (size.height() != height())
        out = out.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return out;
}

QImage Strip::exactDisplayImage(QSize size) const
{
    if (m_width == 0 || size.isEmpty())
        return {};
    // scaled() hands back the image itself at its own size, which would alias
    // our growing buffer.
    if (size == QSize(m_width, height()))
        return image();
    return view().scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage Strip::view() const
{
    if (m_width == 0)
        return {};
    return QImage(m_pixels.constBits(), m_width, height(), m_pixels.bytesPerLine(),
                  QImage::Format_RGB32);
}

void StripSet::append(const FrameColours &colours)
{
    average.append(colours.average);
    quadrant.append(colours.quadrants);
    brightness.append(colours.brightness);
    difference.append(colours.difference);
    mood.append(colours.mood);
}

std::array<QRgb, 8> StripSet::coloursAt(int column) const
{
    return {average.colourAt(column, 0),
            quadrant.colourAt(column, TopLeft),
            quadrant.colourAt(column, TopRight),
            quadrant.colourAt(column, BottomLeft),
            quadrant.colourAt(column, BottomRight),
            brightness.colourAt(column, 0),
            difference.colourAt(column, 0),
            mood.colourAt(column, 0)};
}

void StripSet::useOneRowBands()
{
    for (Strip *strip : {&average, &quadrant, &brightness, &difference, &mood, &shots})
        *strip = Strip(strip->bandCount(), 1);
}

void StripSet::clear()
{
    average.clear();
    quadrant.clear();
    brightness.clear();
    difference.clear();
    mood.clear();
    frames.clear();
    shots.clear();
    palette.clear();
}
