// Perceptual colour and shots: L*a*b* against values computed by hand, and
// cuts, flicker and palettes on pictures made here.
#include "analysis/analysisstate.h"
#include "analysis/perceptual.h"
#include "analysis/shots.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

namespace {

LabColour labOf(const QImage &picture)
{
    AnalysisState state;
    state.perceptual = true;
    recordPicture(state, picture);
    return labFromLinear(state.linearMeans.front());
}

// A shot: a pattern of its own (stripes at an angle, in two colours), moving
// a little from picture to picture, with noise and, when asked, flicker.
QImage shotPicture(int shot, int index, bool flicker, quint32 seed)
{
    QImage picture(96, 64, QImage::Format_RGB32);
    const QColor ink = QColor::fromHsv((shot * 97) % 360, 160, 200);
    const QColor ground = QColor::fromHsv((shot * 97 + 180) % 360, 120, 90);
    QRandomGenerator noise(seed);
    const double gain = flicker ? (index % 2 ? 1.25 : 0.75) : 1.0;
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const bool stripe = ((x * (shot % 3 + 1) + y * (shot % 4) + index) / 8 + shot) % 2;
            const QColor c = stripe ? ink : ground;
            const auto channel = [&](int v) {
                return std::clamp(int(v * gain) + int(noise.bounded(21)) - 10, 0, 255);
            };
            line[x] = qRgb(channel(c.red()), channel(c.green()), channel(c.blue()));
        }
    }
    return picture;
}

// picture's channels times gain, as a fade to or from black makes them.
QImage faded(QImage picture, double gain)
{
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            line[x] = qRgb(int(qRed(line[x]) * gain), int(qGreen(line[x]) * gain),
                           int(qBlue(line[x]) * gain));
    }
    return picture;
}

// (1 - t) of from and t of to, pixel by pixel: a picture of a dissolve.
QImage dissolved(const QImage &from, const QImage &to, double t)
{
    QImage picture(from.size(), QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(from.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(to.constScanLine(y));
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const auto mix = [t](int u, int v) { return int(std::lround(u + (v - u) * t)); };
        for (int x = 0; x < picture.width(); ++x)
            line[x] = qRgb(mix(qRed(a[x]), qRed(b[x])), mix(qGreen(a[x]), qGreen(b[x])),
                           mix(qBlue(a[x]), qBlue(b[x])));
    }
    return picture;
}

// The cuts in pictures first + 1 .. last: the changes within that stretch.
std::vector<int> cutsWithin(const std::vector<int> &cuts, int first, int last)
{
    std::vector<int> within;
    for (int cut : cuts)
        if (cut > first && cut <= last)
            within.push_back(cut);
    return within;
}

} // namespace

class TestShots : public QObject
{
    Q_OBJECT

private slots:
    void labOfKnownColours_data();
    void labOfKnownColours();
    void meanIsTakenInLinearLight();
    void cutsAtTheKnownPictures();
    void paletteOfTwoColoursIsDeterministic();
};

void TestShots::labOfKnownColours_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<double>("L");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    // Values worked out from the sRGB primaries and D65 white by hand.
    QTest::newRow("white") << qRgb(255, 255, 255) << 100.0 << 0.0 << 0.0;
    QTest::newRow("black") << qRgb(0, 0, 0) << 0.0 << 0.0 << 0.0;
    QTest::newRow("red") << qRgb(255, 0, 0) << 53.24 << 80.09 << 67.20;
    QTest::newRow("green") << qRgb(0, 255, 0) << 87.74 << -86.18 << 83.19;
    QTest::newRow("blue") << qRgb(0, 0, 255) << 32.30 << 79.19 << -107.86;
    QTest::newRow("grey 119") << qRgb(119, 119, 119) << 50.03 << 0.0 << 0.0;
}

void TestShots::labOfKnownColours()
{
    QFETCH(QRgb, colour);
    QFETCH(double, L);
    QFETCH(double, a);
    QFETCH(double, b);
    QImage picture(31, 17, QImage::Format_RGB32);
    picture.fill(colour);
    const LabColour lab = labOf(picture);
    QVERIFY2(qAbs(lab.L - L) < 0.01 && qAbs(lab.a - a) < 0.01 && qAbs(lab.b - b) < 0.01,
             qPrintable(QStringLiteral("%1 %2 %3").arg(lab.L).arg(lab.a).arg(lab.b)));
}

void TestShots::meanIsTakenInLinearLight()
{
    // Half black, half white: half the light, L* 76.07, not the L* of the
    // sRGB mean (127.5, L* 53.6).
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter(&picture).fillRect(20, 0, 20, 20, Qt::white);
    const LabColour lab = labOf(picture);
    QVERIFY2(qAbs(lab.L - 76.07) < 0.01, qPrintable(QString::number(lab.L)));
    QVERIFY(qAbs(lab.a) < 0.01 && qAbs(lab.b) < 0.01);
}

void TestShots::cutsAtTheKnownPictures()
{
    // Five shots; the second flickers hard, the third is the first again in
    // other colours of the same mean, the fourth has a two-picture flash.
    // Then, at 25 pictures a second, a sixth shot fades to black over a second
    // and a seventh fades in from black over a second; the seventh dissolves
    // into an eighth over a second, and a cut leads to a ninth.
    const QList<int> lengths = {30, 40, 25, 35, 30};
    constexpr int second = 25;
    std::vector<PictureGrid> grids;
    std::vector<int> expected;
    const auto add = [&grids](const QImage &picture) {
        grids.emplace_back();
        measureGrid(picture, grids.back());
    };
    const auto seed = [&grids] { return quint32(grids.size()); };
    for (int shot = 0; shot < lengths.size(); ++shot) {
        expected.push_back(int(grids.size()));
        for (int i = 0; i < lengths[shot]; ++i) {
            QImage picture = shotPicture(shot == 2 ? 0 : shot, i, shot == 1, seed());
            if (shot == 2)
                picture.mirror(true, false);
            if (shot == 3 && (i == 12 || i == 13))
                picture.fill(Qt::white);
            add(picture);
        }
    }

    expected.push_back(int(grids.size()));
    for (int i = 0; i < 10; ++i)
        add(shotPicture(5, i, false, seed()));
    const int fadeFirst = int(grids.size());
    for (int i = 0; i < second; ++i)
        add(faded(shotPicture(5, 10 + i, false, seed()), double(second - 1 - i) / second));
    for (int i = 0; i < second; ++i)
        add(faded(shotPicture(6, i, false, seed()), double(i + 1) / second));
    const int fadeLast = int(grids.size()) - 1;
    for (int i = second; i < second + 10; ++i)
        add(shotPicture(6, i, false, seed()));
    const int dissolveFirst = int(grids.size());
    for (int i = 0; i < second; ++i)
        add(dissolved(shotPicture(6, second + 10 + i, false, seed()),
                      shotPicture(7, i, false, seed() + 1000), double(i + 1) / (second + 1)));
    const int dissolveLast = int(grids.size()) - 1;
    for (int i = second; i < second + 10; ++i)
        add(shotPicture(7, i, false, seed()));
    expected.push_back(int(grids.size()));
    for (int i = 0; i < 30; ++i)
        add(shotPicture(8, i, false, seed()));

    const std::vector<int> cuts = detectCuts(grids);
    QCOMPARE(cutsWithin(cuts, fadeFirst - 1, fadeLast + 1), std::vector<int>());
    QCOMPARE(cutsWithin(cuts, dissolveFirst - 1, dissolveLast + 1), std::vector<int>());
    QCOMPARE(cuts, expected);
}

void TestShots::paletteOfTwoColoursIsDeterministic()
{
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(qRgb(200, 40, 40));
    QPainter(&picture).fillRect(0, 0, 64, 16, qRgb(30, 60, 160));
    std::vector<PictureGrid> grids(3);
    for (PictureGrid &grid : grids)
        measureGrid(picture, grid);
    const std::vector<PaletteColour> palette = paletteOf(grids, 0, 2);
    QCOMPARE(palette.size(), size_t(2));
    QCOMPARE(palette[0].colour, qRgb(200, 40, 40));
    QCOMPARE(palette[0].share, 0.75);
    QCOMPARE(palette[1].colour, qRgb(30, 60, 160));
    const std::vector<PaletteColour> again = paletteOf(grids, 0, 2);
    QCOMPARE(again.size(), palette.size());
    for (size_t i = 0; i < again.size(); ++i)
        QVERIFY(again[i].colour == palette[i].colour && again[i].share == palette[i].share);
}

QTEST_GUILESS_MAIN(TestShots)
#include "test_shots.moc"
