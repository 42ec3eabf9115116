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
    const QList<int> lengths = {30, 40, 25, 35, 30};
    std::vector<PictureGrid> grids;
    std::vector<int> expected;
    for (int shot = 0; shot < lengths.size(); ++shot) {
        expected.push_back(int(grids.size()));
        for (int i = 0; i < lengths[shot]; ++i) {
            QImage picture = shotPicture(shot == 2 ? 0 : shot, i, shot == 1, quint32(grids.size()));
            if (shot == 2)
                picture.mirror(true, false);
            if (shot == 3 && (i == 12 || i == 13))
                picture.fill(Qt::white);
            grids.emplace_back();
            measureGrid(picture, grids.back());
        }
    }
    QCOMPARE(detectCuts(grids), expected);
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
