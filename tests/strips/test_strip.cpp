// The incremental strips against QPainter full redraws, their display images
// against smooth scaling of the full strip, and the bound of the reduced copy.
#include "analysis/poster.h"
#include "analysis/strip.h"
#include "reference.h"

#include <QRandomGenerator>
#include <QtTest>
#include <span>

#include <algorithm>
#include <cmath>

namespace {

constexpr int labelWidth = 546; // the window's initial 596 less the 50 of the cap

QColor randomColour(QRandomGenerator &rng)
{
    return QColor::fromRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256));
}

// Mostly random RGB colours, with now and then an invalid colour and one made
// in another colour model, as the painter must treat all of them alike.
ColourHistory randomHistory(QRandomGenerator &rng, int length)
{
    ColourHistory history;
    history.reserve(length);
    for (int i = 0; i < length; ++i) {
        const int kind = rng.bounded(50);
        if (kind == 0)
            history.append(QColor());
        else if (kind == 1)
            history.append(QColor::fromHsv(rng.bounded(360), rng.bounded(256), rng.bounded(256)));
        else
            history.append(randomColour(rng));
    }
    return history;
}

// Like a film: runs of one colour with cuts between, of random lengths.
ColourHistory sceneHistory(QRandomGenerator &rng, int length)
{
    ColourHistory history;
    history.reserve(length);
    while (history.size() < length) {
        const QColor colour = randomColour(rng);
        const int run = 1 + rng.bounded(400);
        for (int k = 0; k < run && history.size() < length; ++k)
            history.append(colour);
    }
    return history;
}

// Runs of exactly `block` columns from column 0: uniform within every reduced
// column once the reduction factor is `block`.
ColourHistory alignedBlockHistory(QRandomGenerator &rng, int length, int block)
{
    ColourHistory history;
    history.reserve(length);
    QColor colour;
    for (int i = 0; i < length; ++i) {
        if (i % block == 0)
            colour = randomColour(rng);
        history.append(colour);
    }
    return history;
}

std::array<ColourHistory, 4> historiesOf(ColourHistory (*make)(QRandomGenerator &, int),
                                         QRandomGenerator &rng, int length)
{
    return {make(rng, length), make(rng, length), make(rng, length), make(rng, length)};
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size() || actual.format() != expected.format())
        return QStringLiteral("size/format %1x%2/%3, expected %4x%5/%6")
            .arg(actual.width())
            .arg(actual.height())
            .arg(actual.format())
            .arg(expected.width())
            .arg(expected.height())
            .arg(expected.format());
    for (int y = 0; y < actual.height(); ++y) {
        const QRgb *a = reinterpret_cast<const QRgb *>(actual.constScanLine(y));
        const QRgb *e = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            if (a[x] != e[x])
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(a[x], 8, 16, QLatin1Char('0'))
                    .arg(e[x], 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}

#define COMPARE_IMAGES(actual, expected)                                                           \
    do {                                                                                           \
        const QString mismatch = firstDifference(actual, expected);                                \
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));                                        \
    } while (false)

struct ChannelError {
    int max = 0;
    double mean = 0;
};

ChannelError channelError(const QImage &actual, const QImage &expected)
{
    ChannelError error;
    qint64 total = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const QRgb *a = reinterpret_cast<const QRgb *>(actual.constScanLine(y));
        const QRgb *e = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            for (int d : {qRed(a[x]) - qRed(e[x]), qGreen(a[x]) - qGreen(e[x]),
                          qBlue(a[x]) - qBlue(e[x])}) {
                error.max = std::max(error.max, std::abs(d));
                total += std::abs(d);
            }
        }
    }
    error.mean = double(total) / (3.0 * actual.width() * actual.height());
    return error;
}

QImage smoothlyScaled(const QImage &image, QSize size)
{
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The slow obvious reduction: each column the rounded box average of `factor`
// columns of the full strip (fewer for the last).
QImage boxReduced(const QImage &full, int factor)
{
    const int width = (full.width() + factor - 1) / factor;
    QImage reduced(width, full.height(), QImage::Format_RGB32);
    for (int y = 0; y < full.height(); ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(full.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(reduced.scanLine(y));
        for (int j = 0; j < width; ++j) {
            const int begin = j * factor;
            const int end = std::min(begin + factor, full.width());
            int sum[3] = {0, 0, 0};
            for (int x = begin; x < end; ++x) {
                sum[0] += qRed(in[x]);
                sum[1] += qGreen(in[x]);
                sum[2] += qBlue(in[x]);
            }
            const int count = end - begin;
            out[j] = qRgb((sum[0] + count / 2) / count, (sum[1] + count / 2) / count,
                          (sum[2] + count / 2) / count);
        }
    }
    return reduced;
}

// Appends one column per entry: one history per band, all of one length.
void fill(Strip &strip, std::span<const ColourHistory> bands)
{
    std::array<QColor, 4> column;
    for (qsizetype i = 0; i < bands[0].size(); ++i) {
        for (std::size_t b = 0; b < bands.size(); ++b)
            column[b] = bands[b][i];
        strip.append(std::span<const QColor>(column.data(), bands.size()));
    }
}

void fill(Strip &strip, const ColourHistory &history)
{
    fill(strip, std::span<const ColourHistory>(&history, 1));
}

// The colours of a run of random pictures, kind by kind.
struct RunColours {
    ColourHistory average;
    std::array<ColourHistory, 4> quadrants;
    ColourHistory brightness;
    ColourHistory difference;
    ColourHistory mood;

    RunColours(QRandomGenerator &rng, int length)
        : average(randomHistory(rng, length)), quadrants(historiesOf(randomHistory, rng, length)),
          brightness(randomHistory(rng, length)), difference(randomHistory(rng, length)),
          mood(randomHistory(rng, length))
    {
    }
    FrameColours at(qsizetype i) const
    {
        return {average[i],
                {quadrants[0][i], quadrants[1][i], quadrants[2][i], quadrants[3][i]},
                brightness[i],
                difference[i],
                mood[i]};
    }
    void appendTo(StripSet &strips) const
    {
        for (qsizetype i = 0; i < average.size(); ++i)
            strips.append(at(i));
    }
};

} // namespace

class TestStrip : public QObject
{
    Q_OBJECT

private slots:
    void incrementalEqualsFullRedraw_data();
    void incrementalEqualsFullRedraw();
    void entryFillsItsColumnInExactlyItsBandRows();
    void emptyStripsAreNullAndClearStartsAfresh();
    void displayEqualsSmoothScalingWhileShort_data();
    void displayEqualsSmoothScalingWhileShort();
    void displayStaysCloseWhenReduced_data();
    void displayStaysCloseWhenReduced();
    void reducedCopyIsBoxAverageWithinBound_data();
    void reducedCopyIsBoxAverageWithinBound();
    void posterAveragesPartsAndFillsGaps_data();
    void posterAveragesPartsAndFillsGaps();
    void posterHeightSplitsBands();
};

void TestStrip::incrementalEqualsFullRedraw_data()
{
    QTest::addColumn<int>("length");
    // Around the first capacity doublings and the default reduction bound.
    for (int length : {1, 2, 255, 256, 257, 1000, 4096, 4097, 9000})
        QTest::addRow("%d entries", length) << length;
}

void TestStrip::incrementalEqualsFullRedraw()
{
    QFETCH(int, length);
    QRandomGenerator rng(length);
    const RunColours run(rng, length);
    // Appended picture by picture, as each recorded picture does.
    StripSet strips;
    run.appendTo(strips);

    const QImage average = drawStrip(run.average, stripHeight);
    const QImage quadrant = drawQuadrantStrip(run.quadrants);
    QCOMPARE(average.size(), QSize(length, 20));
    QCOMPARE(quadrant.size(), QSize(length, 40));
    COMPARE_IMAGES(strips.average.image(), average);
    COMPARE_IMAGES(strips.quadrant.image(), quadrant);
    COMPARE_IMAGES(strips.brightness.image(), drawStrip(run.brightness, stripHeight));
    COMPARE_IMAGES(strips.difference.image(), drawStrip(run.difference, stripHeight));
    COMPARE_IMAGES(strips.mood.image(), drawStrip(run.mood, stripHeight));
}

void TestStrip::entryFillsItsColumnInExactlyItsBandRows()
{
    // Neighbouring entries and bands all differ, so any overlap or gap shows.
    QRandomGenerator rng(7);
    std::array<ColourHistory, 4> histories;
    for (int i = 0; i < 300; ++i) {
        for (int q = 0; q < 4; ++q)
            histories[q].append(QColor::fromRgb(i % 256, 60 * q, (i * 7 + q) % 256));
    }
    const ColourHistory single = randomHistory(rng, 300);

    Strip quadrant(4, quadrantBandHeight);
    fill(quadrant, histories);
    Strip one;
    fill(one, single);

    // The painter's flat cap must cover rows y0 .. y1-1, no more and no less;
    // the reference redraws are checked here, not trusted.
    for (const QImage &image : {quadrant.image(), drawQuadrantStrip(histories)}) {
        QCOMPARE(image.size(), QSize(300, 40));
        QCOMPARE(image.format(), QImage::Format_RGB32);
        for (int y = 0; y < 40; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < 300; ++x)
                QCOMPARE(row[x], histories[y / 10][x].rgb());
        }
    }
    for (const QImage &image : {one.image(), drawStrip(single, stripHeight)}) {
        QCOMPARE(image.size(), QSize(300, 20));
        for (int y = 0; y < 20; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < 300; ++x)
                QCOMPARE(row[x], single[x].rgb());
        }
    }
}

void TestStrip::emptyStripsAreNullAndClearStartsAfresh()
{
    QVERIFY(drawStrip({}, stripHeight).isNull());
    QVERIFY(drawQuadrantStrip({}).isNull());

    StripSet strips;
    for (const Strip *strip : {&strips.average, &strips.quadrant, &strips.mood}) {
        QCOMPARE(strip->width(), 0);
        QVERIFY(strip->image().isNull());
        QVERIFY(strip->displayImage(QSize(labelWidth, strip->height())).isNull());
        QVERIFY(strip->reducedImage().isNull());
    }

    // A first run long enough to grow and reduce, then a short second run:
    // nothing of the first may show through.
    QRandomGenerator rng(11);
    RunColours(rng, 5000).appendTo(strips);
    QCOMPARE(strips.quadrant.reducedFactor(), 2);
    strips.clear();
    QCOMPARE(strips.quadrant.width(), 0);
    QVERIFY(strips.quadrant.image().isNull());
    QVERIFY(strips.quadrant.displayImage(QSize(labelWidth, 40)).isNull());
    QCOMPARE(strips.quadrant.reducedWidth(), 0);
    QCOMPARE(strips.quadrant.reducedFactor(), 1);

    const RunColours second(rng, 3);
    second.appendTo(strips);
    COMPARE_IMAGES(strips.average.image(), drawStrip(second.average, stripHeight));
    COMPARE_IMAGES(strips.quadrant.image(), drawQuadrantStrip(second.quadrants));
    COMPARE_IMAGES(strips.quadrant.reducedImage(), strips.quadrant.image());
    const QSize size(labelWidth, 40);
    COMPARE_IMAGES(strips.quadrant.displayImage(size),
                   smoothlyScaled(strips.quadrant.image(), size));
}

void TestStrip::displayEqualsSmoothScalingWhileShort_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("bands");
    QTest::addColumn<QSize>("size");
    QTest::addRow("one picture stretched") << 1 << 1 << QSize(labelWidth, 20);
    QTest::addRow("stretched quadrants") << 100 << 4 << QSize(labelWidth, 40);
    QTest::addRow("as wide as the label") << labelWidth << 1 << QSize(labelWidth, 20);
    QTest::addRow("squeezed") << 2000 << 1 << QSize(labelWidth, 20);
    QTest::addRow("squeezed quadrants at the bound") << 4096 << 4 << QSize(labelWidth, 40);
    QTest::addRow("taller label") << 700 << 1 << QSize(300, 27);
    QTest::addRow("wide window") << 3000 << 4 << QSize(3790, 40);
}

void TestStrip::displayEqualsSmoothScalingWhileShort()
{
    QFETCH(int, length);
    QFETCH(int, bands);
    QFETCH(QSize, size);
    QRandomGenerator rng(length);
    Strip strip(bands, bands == 1 ? stripHeight : quadrantBandHeight);
    if (bands == 1)
        fill(strip, randomHistory(rng, length));
    else
        fill(strip, historiesOf(randomHistory, rng, length));

    QCOMPARE(strip.reducedFactor(), 1);
    const QImage display = strip.displayImage(size);
    COMPARE_IMAGES(display, smoothlyScaled(strip.image(), size));

    // At the strip's own size the display image must not share the strip's
    // growing buffer: later columns must leave it alone.
    const QImage own = strip.displayImage(QSize(strip.width(), strip.height()));
    const QImage before = own.copy();
    const std::array<QColor, 4> white = {Qt::white, Qt::white, Qt::white, Qt::white};
    for (int i = 0; i < 300; ++i)
        strip.append(std::span<const QColor>(white.data(), bands));
    COMPARE_IMAGES(own, before);
    COMPARE_IMAGES(display, smoothlyScaled(before, size));
}

void TestStrip::displayStaysCloseWhenReduced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("bands");
    QTest::addRow("scenes, just past the bound") << "scenes" << 4097 << 1;
    QTest::addRow("scenes, 20000") << "scenes" << 20000 << 4;
    QTest::addRow("scenes, 150000") << "scenes" << 150000 << 4;
    QTest::addRow("noise, 20000") << "noise" << 20000 << 1;
    QTest::addRow("noise, 150000") << "noise" << 150000 << 1;
    QTest::addRow("aligned blocks, 150000") << "aligned" << 150000 << 4;
    QTest::addRow("aligned blocks, 40001") << "aligned" << 40001 << 1;
}

void TestStrip::displayStaysCloseWhenReduced()
{
    QFETCH(QString, kind);
    QFETCH(int, length);
    QFETCH(int, bands);
    QRandomGenerator rng(length + bands);
    // The factor the reduction reaches at this length: the smallest power of
    // two that brings the strip within the bound.
    int factor = 1;
    while ((length + factor - 1) / factor > Strip::defaultReducedBound)
        factor *= 2;
    auto make = kind == "scenes" ? sceneHistory : kind == "noise" ? randomHistory : nullptr;
    const auto history = [&] {
        return make ? make(rng, length) : alignedBlockHistory(rng, length, factor);
    };

    Strip strip(bands, bands == 1 ? stripHeight : quadrantBandHeight);
    if (bands == 1)
        fill(strip, history());
    else
        fill(strip, std::array<ColourHistory, 4>{history(), history(), history(), history()});
    QCOMPARE(strip.reducedFactor(), factor);
    QVERIFY(strip.reducedWidth() <= strip.reducedBound());

    const QSize size(labelWidth, strip.height());
    const QImage display = strip.displayImage(size);
    QCOMPARE(display.size(), size);
    QCOMPARE(display.format(), QImage::Format_RGB32);
    const QImage exact = smoothlyScaled(strip.image(), size);
    COMPARE_IMAGES(strip.exactDisplayImage(size), exact);
    const ChannelError error = channelError(display, exact);

    // Qt's smooth scaling differs from an exact box average by up to about one
    // level (fixed-point weights), ours rounds: 2 levels. Beyond that, the only
    // approximation is taking a reduced column as uniform where a label
    // column's edge cuts it: at most 255 * f / 4 per edge, over the s = n / w
    // strip columns a label column averages. That bounds any data.
    const double cutBound = 2 + 255.0 * factor * labelWidth / (2.0 * length);
    // On average it is far smaller: for independent random columns (sigma =
    // 255 / sqrt(12) a channel) the guess errs by sigma * sqrt(f / 6) per edge,
    // sigma * sqrt(f / 3) / s over two edges, 0.8 times that as a mean absolute
    // error. One level for rounding, and half as much again for the spread.
    const double noiseMean =
        0.8 * (255.0 / std::sqrt(12.0)) * std::sqrt(factor / 3.0) * labelWidth / length;
    if (kind == "aligned") {
        // Uniform reduced columns: nothing is lost, only rounding remains.
        QVERIFY2(error.max <= 2, qPrintable(QString::number(error.max)));
    } else {
        QVERIFY2(error.max <= cutBound,
                 qPrintable(QStringLiteral("max %1 > %2").arg(error.max).arg(cutBound)));
        QVERIFY2(
            error.mean <= 1 + 1.5 * noiseMean,
            qPrintable(QStringLiteral("mean %1 > %2").arg(error.mean).arg(1 + 1.5 * noiseMean)));
    }
}

void TestStrip::reducedCopyIsBoxAverageWithinBound_data()
{
    QTest::addColumn<int>("bound");
    QTest::addColumn<int>("bands");
    QTest::addRow("bound 16") << 16 << 1;
    QTest::addRow("odd bound 15 rounds down") << 15 << 4;
    QTest::addRow("bound 2") << 2 << 1;
    QTest::addRow("bound 256") << 256 << 4;
}

void TestStrip::reducedCopyIsBoxAverageWithinBound()
{
    QFETCH(int, bound);
    QFETCH(int, bands);
    const int expectedBound = std::max(bound / 2 * 2, 2);
    QRandomGenerator rng(bound);
    Strip strip(bands, bands == 1 ? stripHeight : quadrantBandHeight, bound);
    QCOMPARE(strip.reducedBound(), expectedBound);

    std::array<QColor, 4> column;
    for (int n = 1; n <= 6000; ++n) {
        for (int b = 0; b < bands; ++b)
            column[b] = randomColour(rng);
        strip.append(std::span<const QColor>(column.data(), bands));

        const int factor = strip.reducedFactor();
        QVERIFY(strip.reducedWidth() <= expectedBound);
        QCOMPARE(strip.reducedWidth(), (n + factor - 1) / factor);
        QVERIFY((factor & (factor - 1)) == 0);
        // The factor is the smallest power of two that keeps within the bound.
        QVERIFY(factor == 1 || (n + factor / 2 - 1) / (factor / 2) > expectedBound);
        // Checking every length would be quadratic; these cross the halvings.
        if (n <= 3 * expectedBound || n % 997 == 0 || n == 6000) {
            const QImage full = strip.image();
            COMPARE_IMAGES(strip.reducedImage(), boxReduced(full, factor));
        }
    }
}

void TestStrip::posterAveragesPartsAndFillsGaps_data()
{
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<double>("end");
    QTest::addColumn<QList<int>>("reds");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("two per part, halves up")
        << QList<double>{0, 1, 2, 3} << 4.0 << QList<int>{10, 11, 20, 23} << 2
        << QList<int>{11, 22};
    // Part 1's middle (1.5) is as near to picture 0 as to picture 1.
    QTest::newRow("empty parts take the nearest picture")
        << QList<double>{0, 3} << 4.0 << QList<int>{10, 30} << 4 << QList<int>{10, 10, 30, 30};
    QTest::newRow("late start, one picture")
        << QList<double>{5} << 5.04 << QList<int>{7} << 3 << QList<int>{7, 7, 7};
    QTest::newRow("no width: one column per picture")
        << QList<double>{0, 1, 2} << 3.0 << QList<int>{1, 2, 3} << 0 << QList<int>{1, 2, 3};
}

void TestStrip::posterAveragesPartsAndFillsGaps()
{
    QFETCH(QList<double>, times);
    QFETCH(double, end);
    QFETCH(QList<int>, reds);
    QFETCH(int, width);
    QFETCH(QList<int>, expected);
    Strip strip;
    for (int red : reds)
        strip.append(QColor(red, red, 0));
    const std::vector<double> spanTimes(times.begin(), times.end());
    const QImage poster = posterImage(strip, {spanTimes, end}, width, 7);
    QCOMPARE(poster.size(), QSize(int(expected.size()), 7));
    for (int x = 0; x < poster.width(); ++x)
        for (int y : {0, 6})
            QCOMPARE(poster.pixel(x, y), qRgb(expected[x], expected[x], 0));
}

void TestStrip::posterHeightSplitsBands()
{
    Strip quadrant(4, quadrantBandHeight);
    const std::array<QColor, 4> column = {Qt::red, Qt::green, Qt::blue, Qt::white};
    quadrant.append(column);
    const std::vector<double> times{0};
    const QImage poster = posterImage(quadrant, {times, 1}, 2, 6);
    // Rows b * 6 / 4 to (b + 1) * 6 / 4 - 1: 0, 1-2, 3, 4-5.
    const QList<QRgb> expected = {qRgb(255, 0, 0), qRgb(0, 255, 0),     qRgb(0, 255, 0),
                                  qRgb(0, 0, 255), qRgb(255, 255, 255), qRgb(255, 255, 255)};
    for (int y = 0; y < 6; ++y)
        QCOMPARE(poster.pixel(1, y), expected[y]);
}

QTEST_GUILESS_MAIN(TestStrip)
#include "test_strip.moc"
