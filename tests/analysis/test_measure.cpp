#include "analysis/activearea.h"
#include "analysis/analysisstate.h"
#include "analysis/perceptual.h"
#include "analysis/poster.h"
#include "reference.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <cstdint>
#include <cstdlib>

namespace {

int limited(int64_t value)
{
    return value > 255 ? 255 : value < 0 ? 0 : static_cast<int>(value);
}

QColor colourOf(int64_t red, int64_t green, int64_t blue)
{
    QColor colour;
    colour.setRed(limited(red));
    colour.setGreen(limited(green));
    colour.setBlue(limited(blue));
    return colour;
}

// The slow, obvious measurement: column by column, QImage::pixel and a QColor
// per pixel, double sums, 32-bit sizes; 64-bit only for the sum differences
// and the mood divisor, and 0 for a zero divisor.
FrameColours referenceMeasure(const QImage &frame, const QImage *previous)
{
    const int w = frame.width();
    const int h = frame.height();
    const bool withPrevious = previous && !previous->isNull() && previous->size() == frame.size();
    const int hw = w / 2;
    const int hh = h / 2;
    const int t = h / 3;

    double sum[3] = {};
    double quadrant[4][3] = {};
    double previousSum[3] = {};
    double grey = 0;
    double upper = 0;
    double middle = 0;
    double lower = 0;
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            const QColor c(frame.pixel(x, y));
            const int rgb[3] = {c.red(), c.green(), c.blue()};
            int q = -1;
            if (x < hw && y < hh)
                q = TopLeft;
            else if (x > hw && y < hh)
                q = TopRight;
            else if (x < hw && y > hh)
                q = BottomLeft;
            else if (x > hw && y > hh)
                q = BottomRight;
            for (int i = 0; i < 3; ++i) {
                if (q >= 0)
                    quadrant[q][i] += rgb[i];
                sum[i] += rgb[i];
            }
            grey += (rgb[0] + rgb[1] + rgb[2]) / 3;
            if (withPrevious) {
                const QColor p(previous->pixel(x, y));
                previousSum[0] += p.red();
                previousSum[1] += p.green();
                previousSum[2] += p.blue();
            }
            if (y < t)
                upper += rgb[0];
            else if (y <= 2 * t)
                middle += rgb[2];
            else
                lower += rgb[1];
        }
    }

    const int area = w * h;
    const int quadrantArea = (w / 2) * (h / 2);
    auto divide = [](double value, int divisor) {
        return divisor == 0 ? 0 : static_cast<int>(value / divisor);
    };
    FrameColours r;
    r.average = colourOf(divide(sum[0], area), divide(sum[1], area), divide(sum[2], area));
    for (int q = 0; q < 4; ++q)
        r.quadrants[q] =
            colourOf(divide(quadrant[q][0], quadrantArea), divide(quadrant[q][1], quadrantArea),
                     divide(quadrant[q][2], quadrantArea));
    const int level = divide(grey, area);
    r.brightness = colourOf(level, level, level);
    int64_t diff[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t d = static_cast<int64_t>(sum[i] - previousSum[i]);
        diff[i] = area == 0 ? 0 : std::llabs(d) / area;
    }
    r.difference = colourOf(diff[0], diff[1], diff[2]);
    const int64_t moodDivisor = int64_t(t) * 255 * w;
    if (moodDivisor == 0) {
        r.mood = colourOf(0, 0, 0);
    } else {
        const double k = 255.0 / moodDivisor;
        r.mood = colourOf(static_cast<int64_t>(upper * k), static_cast<int64_t>(middle * k),
                          static_cast<int64_t>(lower * k));
    }
    return r;
}

// Each pixel's channels looked up one by one in linearTable, averaged.
std::array<double, 3> referenceLinearMean(const QImage &frame)
{
    const std::array<uint32_t, 256> &table = linearTable();
    std::array<uint64_t, 3> plain{};
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb pixel = frame.pixel(x, y);
            plain[0] += table[size_t(qRed(pixel))];
            plain[1] += table[size_t(qGreen(pixel))];
            plain[2] += table[size_t(qBlue(pixel))];
        }
    }
    const double pixels = double(frame.width()) * frame.height();
    if (pixels == 0)
        return {};
    return {plain[0] / linearScale / pixels, plain[1] / linearScale / pixels,
            plain[2] / linearScale / pixels};
}

QImage uniform(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Random words, top byte included: RGB32 must ignore it as QImage::pixel does.
// floor > 0 keeps every byte near 255, which fills wide accumulators fastest.
QImage randomImage(int w, int h, QImage::Format format, quint32 seed, int floor = 0)
{
    QRandomGenerator random(seed);
    QImage image(w, h, format);
    const int bytes = w * image.depth() / 8;
    for (int y = 0; y < h; ++y) {
        uchar *line = image.scanLine(y);
        for (int i = 0; i < bytes; ++i)
            line[i] = static_cast<uchar>(random.bounded(floor, 256));
    }
    return image;
}

void compareColours(const FrameColours &actual, const FrameColours &expected)
{
    QCOMPARE(actual.average, expected.average);
    QCOMPARE(actual.quadrants[TopLeft], expected.quadrants[TopLeft]);
    QCOMPARE(actual.quadrants[TopRight], expected.quadrants[TopRight]);
    QCOMPARE(actual.quadrants[BottomLeft], expected.quadrants[BottomLeft]);
    QCOMPARE(actual.quadrants[BottomRight], expected.quadrants[BottomRight]);
    QCOMPARE(actual.brightness, expected.brightness);
    QCOMPARE(actual.difference, expected.difference);
    QCOMPARE(actual.mood, expected.mood);
}

QColor grey(int v)
{
    return QColor(v, v, v);
}

qsizetype historyLength(const AnalysisState &state)
{
    const qsizetype n = state.averageHistory.size();
    for (const ColourHistory *history : historiesInOrder(state))
        if (history->size() != n)
            return -1;
    return n;
}

// Records pictures, each 32-bit one with its rows gathered in random bands
// when banded.
void recordAll(AnalysisState &state, const QList<QImage> &pictures, bool banded = false)
{
    QRandomGenerator random(uint(pictures.size()));
    for (const QImage &frame : pictures) {
        RowSums sums;
        sums.withLinear = state.perceptual;
        for (int y = 0; banded && frame.depth() == 32 && y < frame.height();) {
            const int rows = std::min(random.bounded(1, 40), frame.height() - y);
            addRows(sums, frame.constScanLine(y), frame.bytesPerLine(), frame.width(),
                    frame.height(), y, rows);
            y += rows;
        }
        recordPicture(state, frame, -1.0, sums);
    }
}

} // namespace

class TestMeasure : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void matchesReference_data();
    void matchesReference();

    void whitePictures_data();
    void whitePictures();
    void greyLevelTruncatesPerPixel();
    void middleColumnAndRowBelongToNoQuadrant();

    void differenceSequenceOfFirstRun();
    void secondRunComparesWithLastOddPictureOfFirstRun();
    void previousUsedOnlyAtOddCounts_data();
    void previousUsedOnlyAtOddCounts();
    void previousOfAnotherSizeCountsAsAbsent_data();
    void previousOfAnotherSizeCountsAsAbsent();

    void bandsMeasureLikeTheWholePicture_data();
    void bandsMeasureLikeTheWholePicture();
    void recordedRunsMatchPixelPass();
    void pictureSumsMatchPixels_data();
    void pictureSumsMatchPixels();

    void squeezedPictureRows_data();
    void squeezedPictureRows();
    void linearMeansAverageTheLight();

    void tinyPicturesGiveZeroForZeroDivisors_data();
    void tinyPicturesGiveZeroForZeroDivisors();
    void eightKWhiteDoesNotOverflow();

    void activeAreaStopsAtBlackBars_data();
    void activeAreaStopsAtBlackBars();
};

void TestMeasure::init()
{
    // Out-of-range channels must be limited before QColor sees them.
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TestMeasure::cleanup()
{
    QVERIFY(forceMeasureKernel(MeasureKernel::Best));
}

void TestMeasure::matchesReference_data()
{
    QTest::addColumn<MeasureKernel>("kernel");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("withPrevious");
    QTest::addColumn<int>("floor");

    // Every kernel on every case, each row named after its kernel: a row whose
    // kernel this processor lacks is skipped, never passed.
    const std::pair<MeasureKernel, const char *> kernels[] = {{MeasureKernel::Scalar, "scalar"},
                                                              {MeasureKernel::Sse2, "sse2"},
                                                              {MeasureKernel::Avx2, "avx2"},
                                                              {MeasureKernel::Avx512, "avx512"}};
    const QSize sizes[] = {{1, 1},     {2, 1},    {1, 2},    {2, 2},   {3, 5},  {5, 3},
                           {4, 4},     {7, 9},    {16, 3},   {17, 4},  {33, 2}, {640, 480},
                           {641, 479}, {2500, 7}, {4200, 3}, {2049, 6}};
    for (const auto &[kernel, kernelName] : kernels) {
        auto row = [&](const QByteArray &name) -> QTestData & {
            return QTest::newRow((kernelName + (": " + name)).constData()) << kernel;
        };
        for (const QSize &s : sizes) {
            for (bool withPrevious : {false, true}) {
                const QByteArray name = QByteArray::number(s.width()) + "x" +
                                        QByteArray::number(s.height()) +
                                        (withPrevious ? " with previous" : "");
                row(name) << s << int(QImage::Format_RGB32) << withPrevious << 0;
            }
        }
        row("bright 4200x3 with previous")
            << QSize(4200, 3) << int(QImage::Format_RGB32) << true << 250;
        row("bright 2049x6") << QSize(2049, 6) << int(QImage::Format_RGB32) << false << 250;
        row("ARGB32 37x11") << QSize(37, 11) << int(QImage::Format_ARGB32) << true << 0;
        row("ARGB32 premultiplied 37x11")
            << QSize(37, 11) << int(QImage::Format_ARGB32_Premultiplied) << true << 0;
        row("RGB888 37x11") << QSize(37, 11) << int(QImage::Format_RGB888) << true << 0;
        row("Grayscale8 20x9") << QSize(20, 9) << int(QImage::Format_Grayscale8) << false << 0;
    }
}

void TestMeasure::matchesReference()
{
    QFETCH(MeasureKernel, kernel);
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(bool, withPrevious);
    QFETCH(int, floor);

    if (!forceMeasureKernel(kernel))
        QSKIP("This processor cannot run this kernel: it is not tested here.");
    const auto f = static_cast<QImage::Format>(format);
    const quint32 seed = size.width() * 7919u + size.height() + format;
    const QImage frame = randomImage(size.width(), size.height(), f, seed, floor);
    const QImage previous = randomImage(size.width(), size.height(), f, seed + 1, floor);
    const QImage *p = withPrevious ? &previous : nullptr;

    compareColours(measurePixels(frame, p), referenceMeasure(frame, p));
    QCOMPARE(linearMean(frame, RowSums()), referenceLinearMean(frame));
}

void TestMeasure::bandsMeasureLikeTheWholePicture_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("bandMissing");
    QTest::newRow("641x479") << QSize(641, 479) << false;
    QTest::newRow("33x7") << QSize(33, 7) << false;
    QTest::newRow("1x1") << QSize(1, 1) << false;
    // Incomplete sums must not be trusted: the pixels are read instead.
    QTest::newRow("641x479, a band missing") << QSize(641, 479) << true;
}

void TestMeasure::bandsMeasureLikeTheWholePicture()
{
    QFETCH(QSize, size);
    QFETCH(bool, bandMissing);

    QList<QImage> pictures;
    for (int i = 0; i < 3; ++i)
        pictures << randomImage(size.width(), size.height(), QImage::Format_RGB32, 31 * i + 7, 0);
    AnalysisState banded;
    AnalysisState whole;
    banded.perceptual = whole.perceptual = true;
    recordAll(whole, pictures);
    if (bandMissing) {
        // The second band of every picture is never added.
        for (const QImage &frame : pictures) {
            RowSums sums;
            addRows(sums, frame.constScanLine(0), frame.bytesPerLine(), frame.width(),
                    frame.height(), 0, 10);
            addRows(sums, frame.constScanLine(20), frame.bytesPerLine(), frame.width(),
                    frame.height(), 20, frame.height() - 20);
            recordPicture(banded, frame, -1.0, sums);
        }
    } else {
        recordAll(banded, pictures, true);
    }
    QCOMPARE(historyLength(banded), 3);
    for (int h = 0; h < 8; ++h)
        QCOMPARE(*historiesInOrder(banded)[h], *historiesInOrder(whole)[h]);
    QVERIFY(banded.linearMeans == whole.linearMeans);
    // The vector lookups against a plain one, pixel by pixel.
    for (qsizetype i = 0; i < pictures.size(); ++i)
        QCOMPARE(whole.linearMeans[size_t(i)], referenceLinearMean(pictures[i]));
}

void TestMeasure::whitePictures_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<int>>("quadrants");
    QTest::addColumn<QColor>("mood");

    QTest::newRow("512x768") << QSize(512, 768) << QList<int>{255, 254, 254, 253}
                             << QColor(255, 255, 254);
    QTest::newRow("640x480") << QSize(640, 480) << QList<int>{255, 254, 253, 253}
                             << QColor(255, 255, 253);
    // Column 2 and row 2 are in no quadrant, the divisor still counts them.
    QTest::newRow("4x4") << QSize(4, 4) << QList<int>{255, 127, 127, 63} << QColor();
}

void TestMeasure::whitePictures()
{
    QFETCH(QSize, size);
    QFETCH(QList<int>, quadrants);
    QFETCH(QColor, mood);

    const QImage white = uniform(size.width(), size.height(), Qt::white);
    AnalysisState state;
    recordPicture(state, white);

    QCOMPARE(historyLength(state), 1);
    QCOMPARE(state.averageHistory.last(), grey(255));
    for (int q = 0; q < 4; ++q)
        QCOMPARE(state.quadrantHistories[q].last(), grey(quadrants[q]));
    QCOMPARE(state.brightnessHistory.last(), grey(255));
    QCOMPARE(state.differenceHistory.last(), grey(255));
    if (mood.isValid())
        QCOMPARE(state.moodHistory.last(), mood);
    compareColours(measurePixels(white, nullptr), referenceMeasure(white, nullptr));
}

void TestMeasure::greyLevelTruncatesPerPixel()
{
    const QImage frame = uniform(6, 6, QColor(1, 1, 0));
    const FrameColours c = measurePixels(frame, nullptr);
    QCOMPARE(c.average, QColor(1, 1, 0));
    QCOMPARE(c.brightness, grey(0));
}

void TestMeasure::middleColumnAndRowBelongToNoQuadrant()
{
    // 3x3: column 1 and row 1 white, each corner its own colour.
    QImage frame = uniform(3, 3, Qt::white);
    frame.setPixel(0, 0, qRgb(10, 0, 0));
    frame.setPixel(2, 0, qRgb(0, 20, 0));
    frame.setPixel(0, 2, qRgb(0, 0, 30));
    frame.setPixel(2, 2, qRgb(40, 40, 40));
    const FrameColours c = measurePixels(frame, nullptr);
    QCOMPARE(c.quadrants[TopLeft], QColor(10, 0, 0));
    QCOMPARE(c.quadrants[TopRight], QColor(0, 20, 0));
    QCOMPARE(c.quadrants[BottomLeft], QColor(0, 0, 30));
    QCOMPARE(c.quadrants[BottomRight], grey(40));

    // A white middle column alone leaves every quadrant black.
    QImage column = uniform(3, 5, Qt::black);
    for (int y = 0; y < 5; ++y)
        column.setPixel(1, y, qRgb(255, 255, 255));
    const FrameColours m = measurePixels(column, nullptr);
    for (int q = 0; q < 4; ++q)
        QCOMPARE(m.quadrants[q], grey(0));
    QCOMPARE(m.average, grey(85));
}

void TestMeasure::differenceSequenceOfFirstRun()
{
    AnalysisState state;
    QVERIFY(!state.differenceColour.isValid());
    const QColor colours[] = {{10, 20, 30}, {50, 50, 50}, {40, 20, 0}};
    double time = 0.5;
    for (const QColor &c : colours)
        recordPicture(state, uniform(8, 6, c), time++);

    const ColourHistory expected{{10, 20, 30}, {50, 50, 50}, {30, 0, 30}};
    QCOMPARE(state.frameCount, 3.0);
    QCOMPARE(state.differenceHistory, expected);
    QCOMPARE(state.differenceColour, expected.last());
    QCOMPARE(state.differenceColour.alpha(), 255);
    QCOMPARE(historyLength(state), 3);
    QCOMPARE(state.pictureTimes, (std::vector<double>{0.5, 1.5, 2.5}));
    QCOMPARE(state.strips.difference.image(), drawStrip(expected, stripHeight));
    QCOMPARE(state.strips.quadrant.image(), drawQuadrantStrip(state.quadrantHistories));
}

void TestMeasure::secondRunComparesWithLastOddPictureOfFirstRun()
{
    AnalysisState state;
    for (const QColor &c :
         {QColor(10, 20, 30), QColor(50, 50, 50), QColor(40, 20, 0), QColor(200, 200, 200)})
        recordPicture(state, uniform(8, 6, c));
    const QColor lastOfFirstRun = state.differenceColour;

    // Start of a new run: count and histories reset, the previous picture, the
    // difference colour and the strips with their times kept until the first
    // picture.
    resetForNewRun(state);
    QCOMPARE(state.frameCount, 0.0);
    QCOMPARE(historyLength(state), 0);
    QCOMPARE(state.pictureTimes.size(), size_t(4));
    QCOMPARE(state.differenceColour, lastOfFirstRun);
    QCOMPARE(state.strips.average.width(), 4);
    recordPicture(state, uniform(8, 6, QColor(100, 100, 100)));
    recordPicture(state, uniform(8, 6, QColor(7, 8, 9)));

    // Picture 3 (40, 20, 0) was the last one kept; picture 4 is not compared.
    const ColourHistory expected{{60, 80, 100}, {7, 8, 9}};
    QCOMPARE(state.differenceHistory, expected);
    QCOMPARE(historyLength(state), 2);
    QCOMPARE(state.pictureTimes.size(), size_t(2));
    QCOMPARE(state.strips.difference.image(), drawStrip(expected, stripHeight));
}

void TestMeasure::previousUsedOnlyAtOddCounts_data()
{
    QTest::addColumn<double>("count");
    QTest::addColumn<bool>("compared");

    QTest::newRow("1") << 1.0 << true;
    QTest::newRow("2") << 2.0 << false;
    QTest::newRow("3") << 3.0 << true;
    QTest::newRow("2.5 truncates to 2") << 2.5 << false;
    QTest::newRow("3.9 truncates to 3") << 3.9 << true;
    QTest::newRow("2^32 + 1") << 4294967297.0 << true;
}

void TestMeasure::previousUsedOnlyAtOddCounts()
{
    QFETCH(double, count);
    QFETCH(bool, compared);

    AnalysisState state;
    state.frameCount = count - 1;
    state.previous = pictureSums(uniform(5, 4, QColor(30, 30, 30)));
    const QImage frame = uniform(5, 4, QColor(100, 50, 20));
    recordPicture(state, frame);
    QCOMPARE(state.differenceColour, compared ? QColor(70, 20, 10) : QColor(100, 50, 20));
    // Only odd-counted pictures are kept for the next comparison.
    const PictureSums kept =
        compared ? pictureSums(frame) : pictureSums(uniform(5, 4, QColor(30, 30, 30)));
    QCOMPARE(state.previous.channels.red, kept.channels.red);
}

void TestMeasure::previousOfAnotherSizeCountsAsAbsent_data()
{
    QTest::addColumn<QSize>("previousSize");

    QTest::newRow("smaller") << QSize(2, 2);
    QTest::newRow("larger") << QSize(9, 9);
    QTest::newRow("wider, shorter") << QSize(9, 2);
    QTest::newRow("narrower, taller") << QSize(2, 9);
}

void TestMeasure::previousOfAnotherSizeCountsAsAbsent()
{
    QFETCH(QSize, previousSize);

    AnalysisState state;
    state.previous = pictureSums(uniform(previousSize.width(), previousSize.height(), Qt::white));
    recordPicture(state, uniform(4, 4, QColor(100, 50, 20)));
    QCOMPARE(state.differenceColour, QColor(100, 50, 20));
}

namespace {

QColor rgbOf(const QColor &colour)
{
    return QColor(colour.red(), colour.green(), colour.blue());
}

// A run that changes size, format and brightness, with a null picture at an
// odd count and other formats kept; then a second run whose first picture is
// compared with the last odd picture of the first.
QList<QList<QImage>> mixedRuns()
{
    QList<QImage> first;
    quint32 seed = 100;
    for (int i = 0; i < 7; ++i)
        first << randomImage(37, 11, QImage::Format_RGB32, seed++, i == 4 ? 250 : 0);
    for (int i = 0; i < 4; ++i) // the first of these meets a previous of another size
        first << randomImage(20, 8, QImage::Format_RGB32, seed++);
    first << randomImage(20, 8, QImage::Format_ARGB32, seed++);
    first << randomImage(20, 8, QImage::Format_RGB888, seed++); // count 13: kept
    first << randomImage(20, 8, QImage::Format_Grayscale8, seed++);
    first << randomImage(20, 8, QImage::Format_Grayscale8, seed++); // count 15: kept
    first << randomImage(20, 8, QImage::Format_RGB32, seed++);
    first << QImage(); // count 17: kept
    first << randomImage(20, 8, QImage::Format_RGB32, seed++);
    first << randomImage(20, 8, QImage::Format_RGB32, seed++); // count 19: against the null
    first << randomImage(20, 8, QImage::Format_RGB32, seed++);

    QList<QImage> second;
    second << randomImage(20, 8, QImage::Format_RGB32, seed++);
    second << randomImage(20, 8, QImage::Format_RGB32, seed++);
    second << randomImage(1030, 3, QImage::Format_RGB32, seed++, 250);
    second << randomImage(1030, 3, QImage::Format_RGB32, seed++);
    second << randomImage(1030, 3, QImage::Format_RGB32, seed++);
    return {first, second};
}

} // namespace

void TestMeasure::recordedRunsMatchPixelPass()
{
    // Kept sums must compare as the kept picture's pixels would.
    AnalysisState state;
    QImage kept;
    for (const QList<QImage> &run : mixedRuns()) {
        resetForNewRun(state);
        QList<FrameColours> expected;
        for (qsizetype i = 0; i < run.size(); ++i) {
            const bool odd = i % 2 == 0;
            expected << measurePixels(run[i], odd ? &kept : nullptr);
            if (odd)
                kept = run[i];
        }
        recordAll(state, run, true);
        QCOMPARE(historyLength(state), run.size());
        for (qsizetype i = 0; i < run.size(); ++i) {
            QCOMPARE(state.averageHistory[i], expected[i].average);
            for (int q = 0; q < 4; ++q)
                QCOMPARE(state.quadrantHistories[q][i], expected[i].quadrants[q]);
            QCOMPARE(state.brightnessHistory[i], expected[i].brightness);
            QCOMPARE(rgbOf(state.differenceHistory[i]), expected[i].difference);
            QCOMPARE(state.moodHistory[i], expected[i].mood);
        }
        QCOMPARE(state.strips.mood.width(), int(run.size()));
    }
}

void TestMeasure::pictureSumsMatchPixels_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("floor");

    QTest::newRow("RGB32 1x1") << QSize(1, 1) << int(QImage::Format_RGB32) << 0;
    QTest::newRow("RGB32 33x5") << QSize(33, 5) << int(QImage::Format_RGB32) << 0;
    QTest::newRow("bright RGB32 4200x3") << QSize(4200, 3) << int(QImage::Format_RGB32) << 250;
    QTest::newRow("ARGB32 17x4") << QSize(17, 4) << int(QImage::Format_ARGB32) << 0;
    QTest::newRow("RGB888 17x4") << QSize(17, 4) << int(QImage::Format_RGB888) << 0;
    QTest::newRow("Grayscale8 17x4") << QSize(17, 4) << int(QImage::Format_Grayscale8) << 0;
}

void TestMeasure::pictureSumsMatchPixels()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(int, floor);

    const QImage image =
        randomImage(size.width(), size.height(), static_cast<QImage::Format>(format), 77, floor);
    qint64 sums[3] = {};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c(image.pixel(x, y));
            sums[0] += c.red();
            sums[1] += c.green();
            sums[2] += c.blue();
        }
    }
    const PictureSums actual = pictureSums(image);
    QVERIFY(actual.set);
    QCOMPARE(actual.size, size);
    QCOMPARE(qint64(actual.channels.red), sums[0]);
    QCOMPARE(qint64(actual.channels.green), sums[1]);
    QCOMPARE(qint64(actual.channels.blue), sums[2]);
    QVERIFY(!pictureSums(QImage()).set);
}

void TestMeasure::squeezedPictureRows_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rows");
    QTest::newRow("5 rows into 3") << QSize(7, 5) << 3;
    QTest::newRow("5 rows into 8: some taken twice") << QSize(7, 5) << 8;
    QTest::newRow("as many rows") << QSize(3, 4) << 4;
    QTest::newRow("41 rows into 100, wide") << QSize(1030, 41) << 100;
}

void TestMeasure::squeezedPictureRows()
{
    QFETCH(QSize, size);
    QFETCH(int, rows);
    const QList<QImage> pictures = {
        randomImage(size.width(), size.height(), QImage::Format_RGB32, 3),
        randomImage(size.width(), size.height(), QImage::Format_RGB32, 4)};
    AnalysisState state;
    state.framesHeight = rows;
    recordAll(state, pictures, true);
    const Strip &frames = state.strips.frames;
    QCOMPARE(frames.width(), 2);
    QCOMPARE(frames.height(), rows);
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < rows; ++j) {
            const int first = j * size.height() / rows;
            const int last = std::max((j + 1) * size.height() / rows, first + 1);
            qint64 sum[3] = {};
            for (int y = first; y < last; ++y) {
                for (int x = 0; x < size.width(); ++x) {
                    const QColor c(pictures[i].pixel(x, y));
                    sum[0] += c.red();
                    sum[1] += c.green();
                    sum[2] += c.blue();
                }
            }
            const qint64 n = qint64(last - first) * size.width();
            const QRgb expected =
                qRgb(int((2 * sum[0] + n) / (2 * n)), int((2 * sum[1] + n) / (2 * n)),
                     int((2 * sum[2] + n) / (2 * n)));
            QCOMPARE(frames.colourAt(i, j), expected);
        }
    }
}

// The sRGB encoding of linear light, written out apart from perceptual.cpp.
int encoded(double linear)
{
    const double v =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return int(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

void TestMeasure::linearMeansAverageTheLight()
{
    // A checkerboard of black and white: half the light of white, sRGB 188,
    // where the mean of the values gives 127.
    // An odd size leaves every quadrant 32 x 24, half white (the middle
    // column and row belong to none).
    const auto checkerboard = [](int w, int h) {
        QImage board(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                board.setPixel(x, y, (x + y) % 2 ? 0xffffffff : 0xff000000);
        return board;
    };
    const int half = encoded(0.5);
    QCOMPARE(half, 188);
    const QImage odd = randomImage(37, 23, QImage::Format_RGB32, 5);
    for (bool banded : {false, true}) {
        AnalysisState state;
        state.mean = ColourMean::Linear;
        state.framesHeight = 5;
        recordAll(state, {checkerboard(64, 48), odd, checkerboard(65, 49)}, banded);
        QCOMPARE(state.averageHistory[0], grey(half));
        for (const ColourHistory &quadrant : state.quadrantHistories)
            QCOMPARE(quadrant[2], grey(half));
        QCOMPARE(state.strips.frames.colourAt(0, 2), qRgb(half, half, half));
        // Grey level, difference and mood do not change with the mean.
        QCOMPARE(state.brightnessHistory[0], grey(127));

        // An odd picture's quadrants and rows against a plain pass over its pixels.
        const std::array<uint32_t, 256> &table = linearTable();
        const auto expected = [&](QRect area) {
            double sum[3] = {};
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QRgb p = odd.pixel(x, y);
                    sum[0] += table[size_t(qRed(p))];
                    sum[1] += table[size_t(qGreen(p))];
                    sum[2] += table[size_t(qBlue(p))];
                }
            const double n = double(area.width()) * area.height() * linearScale;
            return QColor(encoded(sum[0] / n), encoded(sum[1] / n), encoded(sum[2] / n));
        };
        QCOMPARE(state.averageHistory[1], expected(odd.rect()));
        QCOMPARE(state.quadrantHistories[TopLeft][1], expected(QRect(0, 0, 18, 11)));
        QCOMPARE(state.quadrantHistories[BottomRight][1], expected(QRect(19, 12, 18, 11)));
        QCOMPARE(QColor(state.strips.frames.colourAt(1, 4)), expected(QRect(0, 18, 37, 5)));
    }

    // A poster's column of a black and a white picture.
    Strip strip;
    strip.append(QColor(Qt::black));
    strip.append(QColor(Qt::white));
    const std::vector<double> times = {0.0, 1.0};
    const PictureSpan span{times, 2.0};
    QCOMPARE(posterImage(strip, span, 1, 1, ColourMean::Linear).pixel(0, 0),
             qRgb(half, half, half));
    QCOMPARE(posterImage(strip, span, 1, 1).pixel(0, 0), qRgb(128, 128, 128));
}

void TestMeasure::tinyPicturesGiveZeroForZeroDivisors_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("quadrantsZero");
    QTest::addColumn<bool>("moodZero");

    QTest::newRow("null") << QSize(0, 0) << true << true;
    QTest::newRow("1x1") << QSize(1, 1) << true << true;
    QTest::newRow("2x1") << QSize(2, 1) << true << true;
    QTest::newRow("1x2") << QSize(1, 2) << true << true;
    QTest::newRow("1x3") << QSize(1, 3) << true << false;
    QTest::newRow("2x2") << QSize(2, 2) << false << true;
}

void TestMeasure::tinyPicturesGiveZeroForZeroDivisors()
{
    QFETCH(QSize, size);
    QFETCH(bool, quadrantsZero);
    QFETCH(bool, moodZero);

    const QColor colour(90, 120, 150);
    const QImage frame = size.isEmpty() ? QImage() : uniform(size.width(), size.height(), colour);
    const QImage black =
        frame.isNull() ? QImage() : uniform(size.width(), size.height(), Qt::black);
    AnalysisState state;
    state.previous = pictureSums(black);
    recordPicture(state, frame);

    QCOMPARE(historyLength(state), 1);
    const QColor average = frame.isNull() ? grey(0) : colour;
    QCOMPARE(state.averageHistory.last(), average);
    QCOMPARE(state.differenceHistory.last(), average);
    if (quadrantsZero) {
        for (int q = 0; q < 4; ++q)
            QCOMPARE(state.quadrantHistories[q].last(), grey(0));
    } else {
        QCOMPARE(state.quadrantHistories[TopLeft].last(), colour);
    }
    if (moodZero)
        QCOMPARE(state.moodHistory.last(), grey(0));
    else
        QVERIFY(state.moodHistory.last() != grey(0));
    compareColours(measurePixels(frame, &black), referenceMeasure(frame, &black));
}

void TestMeasure::eightKWhiteDoesNotOverflow()
{
    // 7680 * 4320 * 255 is beyond 32 bits, and so is the mood divisor.
    const QImage white = uniform(7680, 4320, Qt::white);
    const QImage black = uniform(7680, 4320, Qt::black);
    AnalysisState state;
    state.previous = pictureSums(black);
    recordPicture(state, white);

    QCOMPARE(state.averageHistory.last(), grey(255));
    QCOMPARE(state.brightnessHistory.last(), grey(255));
    QCOMPARE(state.differenceHistory.last(), grey(255));
    compareColours(measurePixels(white, &black), referenceMeasure(white, &black));
}

void TestMeasure::activeAreaStopsAtBlackBars_data()
{
    QTest::addColumn<QRgb>("bars");
    QTest::addColumn<QRgb>("picture");
    QTest::addColumn<QRect>("active");
    const QRect inner(5, 3, 20, 12);
    // Grey 9 is 23.7 on the limited-range scale, grey 10 is 24.6.
    QTest::newRow("black bars") << qRgb(0, 0, 0) << qRgb(90, 60, 30) << inner;
    QTest::newRow("grey 9 counts as black") << qRgb(9, 9, 9) << qRgb(90, 60, 30) << inner;
    QTest::newRow("grey 10 does not")
        << qRgb(10, 10, 10) << qRgb(90, 60, 30) << QRect(0, 0, 31, 20);
    QTest::newRow("luma, not the channels' sum: dark blue is black")
        << qRgb(0, 0, 120) << qRgb(90, 60, 30) << inner;
    QTest::newRow("all black") << qRgb(0, 0, 0) << qRgb(0, 0, 0) << QRect();
}

void TestMeasure::activeAreaStopsAtBlackBars()
{
    QFETCH(QRgb, bars);
    QFETCH(QRgb, picture);
    QFETCH(QRect, active);
    QImage frame(31, 20, QImage::Format_RGB32);
    frame.fill(bars);
    for (int y = 3; y < 15; ++y)
        for (int x = 5; x < 25; ++x)
            frame.setPixel(x, y, picture);
    QCOMPARE(activeArea(frame), active);
}

QTEST_GUILESS_MAIN(TestMeasure)
#include "test_measure.moc"
