// Strip images: one pixel column per history entry, oldest at the left, built
// one column per picture so that a long run costs no more per picture than a
// short one. Display-free: the window, the export and the batch tool share it.
#pragma once

#include "analysis/measure.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QSize>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The colours of one kind, one entry per measured picture, oldest first.
using ColourHistory = QList<QColor>;

// Heights of the strips: one band of 20 rows, or four bands of 10 for the
// quadrant strip (top-left, top-right, bottom-left, bottom-right).
constexpr int stripHeight = 20;
constexpr int quadrantBandHeight = 10;

// One strip: bandCount bands of bandHeight rows stacked top to bottom. Column i
// holds entry i's colour as 0xffRRGGBB in every row of each band. Colours are
// taken as opaque (their alpha is ignored); an invalid colour gives black.
//
// Beside the exact strip it keeps a reduced copy of at most reducedBound()
// columns, each the sum of reducedFactor() consecutive columns, from which
// displayImage() scales at a cost that does not grow with the run.
class Strip
{
public:
    static constexpr int defaultReducedBound = 4096;
    // Pixels a strip may hold (1 GiB): beyond, columns are dropped.
    static constexpr qsizetype largestPixels = qsizetype(1) << 28;

    // reducedBound is rounded down to an even number of at least 2.
    explicit Strip(int bandCount = 1, int bandHeight = stripHeight,
                   int reducedBound = defaultReducedBound);

    // Adds one column, bandColours[b] for band b (exactly bandCount() colours).
    // O(height()) amortized; allocates only when the capacity doubles. A
    // column that would take the strip past largestPixels, or that memory
    // cannot hold, is dropped and the strip marked overflowed().
    void append(std::span<const QColor> bandColours);
    // One-band strips only.
    void append(const QColor &colour) { append(std::span<const QColor>(&colour, 1)); }

    // Empties the strip; keeps the allocated capacity for the next run.
    void clear();
    // Makes room for this many columns without further allocation.
    void reserve(int columns);

    int width() const { return m_width; }
    // Columns were dropped since the last clear().
    bool overflowed() const { return m_overflowed; }
    int height() const { return m_bandCount * m_bandHeight; }
    int bandCount() const { return m_bandCount; }
    int bandHeight() const { return m_bandHeight; }

    // The exact width() x height() strip in Format_RGB32, owning its pixels;
    // a null image while the strip is empty.
    QImage image() const;
    // The same pixels without a copy: a read-only view, valid while the strip
    // is neither changed nor destroyed; for writing a long run's strip out.
    QImage view() const;
    // Column's colour in band, as 0xffRRGGBB; both must be in range.
    QRgb colourAt(int column, int band) const;

    // The strip as a label with scaled contents shows it at this size (smooth
    // scaling, aspect ratio ignored). While width() <= reducedBound() this is
    // exactly image().scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // beyond, an area average of the reduced copy, at a cost bounded by
    // reducedBound() and the size. Null when the strip or the size is empty.
    QImage displayImage(QSize size) const;
    // Always exactly image().scaled(size, Qt::IgnoreAspectRatio,
    // Qt::SmoothTransformation), without the copy; costs O(width() * height()),
    // for what stays on screen after a run, a stop or a resize.
    QImage exactDisplayImage(QSize size) const;

    int reducedBound() const { return m_reducedBound; }
    // Columns of the reduced copy: ceil(width() / reducedFactor()), never more
    // than reducedBound().
    int reducedWidth() const { return m_reducedWidth; }
    // Strip columns per reduced column: a power of two, 1 while the strip is no
    // wider than reducedBound(). Only the last reduced column may hold fewer.
    int reducedFactor() const { return m_factor; }
    // The reduced copy as an image, each column the rounded average of its
    // strip columns; null while empty.
    QImage reducedImage() const;

private:
    // False, changing nothing, when the pixels cannot be had.
    bool growTo(int capacity);
    void addToReduced(std::span<const QColor> bandColours);
    void halveReduced();
    // Strip columns summed in reduced column j.
    int reducedCount(int j) const;
    QImage areaAverage(int targetWidth) const;

    int m_bandCount;
    int m_bandHeight;
    int m_reducedBound;
    int m_width = 0;
    bool m_overflowed = false;
    // Capacity columns wide; only the first m_width columns are meaningful.
    QImage m_pixels;

    int m_reducedWidth = 0;
    int m_factor = 1;
    // Per reduced column, per band: red, green and blue sums. 32 bits hold
    // 2^24 columns of 255 each, far beyond any factor a QImage width allows.
    std::vector<std::uint32_t> m_sums;
};

// The five strips of a run, in display order.
struct StripSet {
    Strip average{1, stripHeight};
    Strip quadrant{4, quadrantBandHeight};
    Strip brightness{1, stripHeight};
    Strip difference{1, stripHeight};
    Strip mood{1, stripHeight};
    // The pictures squeezed into columns, one band a row; filled only when a
    // run asks for it (AnalysisState::framesHeight).
    Strip frames{1, 1};
    // Each picture in its shot's average colour, and its shot's palette, one
    // band a row; drawn after a run, once its shots are known (drawShotStrips).
    Strip shots{1, stripHeight};
    Strip palette{1, 1};

    // One column for a measured picture in each of the five strips.
    void append(const FrameColours &colours);
    // The eight colours measured of the picture in column (average, quadrants
    // top-left to bottom-right, brightness, difference, mood), as 0xffRRGGBB.
    std::array<QRgb, 8> coloursAt(int column) const;
    // Empties the strips and gives each band a single row: all a poster reads
    // of them (band colours), at a twentieth of a long run's memory.
    void useOneRowBands();
    void clear();
};
