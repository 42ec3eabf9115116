// Perceptual colour and shots: L*a*b* against values computed by hand, and
// cuts, flicker and palettes on pictures made here.
#include "analysis/analysisstate.h"
#include "analysis/keycuts.h"
#include "analysis/perceptual.h"
#include "analysis/shots.h"
#include "testfiles.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <iterator>
#include <utility>

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

// Pictures recorded as a run with shots does: grids and motions.
struct ShotRecorder {
    AnalysisState state;
    ShotRecorder() { state.shotGrids = true; }
    void add(const QImage &picture) { recordPicture(state, picture); }
    int count() const { return int(state.grids.size()); }
    std::vector<ShotStart> starts() const { return detectShots(state.grids, state.motion); }
    std::vector<int> cuts() const
    {
        std::vector<int> cuts;
        for (const ShotStart &start : starts())
            if (start.gradual == 0)
                cuts.push_back(start.first);
        return cuts;
    }
};

// A large still scene of its own colours (shapes at random of hues near
// scene's), which a camera looks at a part of.
QImage scenePicture(int scene, QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor::fromHsv(scene * 71 % 360, 90, 60 + scene * 23 % 90));
    QPainter painter(&picture);
    QRandomGenerator random(quint32(scene) + 7);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 160; ++i) {
        painter.setBrush(QColor::fromHsv((scene * 71 + random.bounded(60)) % 360,
                                         80 + random.bounded(170), 40 + random.bounded(215)));
        const QRect shape(random.bounded(size.width()), random.bounded(size.height()),
                          10 + random.bounded(70), 10 + random.bounded(50));
        if (i % 2)
            painter.drawEllipse(shape);
        else
            painter.drawRect(shape);
    }
    return picture;
}

// What a camera of size view sees of scene: centred at centre, magnified by
// zoom, blurred along a move over the pictures from blurFrom to centre,
// with a little noise.
QImage cameraView(const QImage &scene, QPointF centre, double zoom, QPointF blurFrom, quint32 seed,
                  QSize view)
{
    constexpr int steps = 4;
    std::vector<int> sums(size_t(view.width() * view.height() * 3), 0);
    for (int s = 0; s < steps; ++s) {
        const QPointF at = blurFrom + (centre - blurFrom) * (s + 1.0) / steps;
        const QSizeF seen = QSizeF(view) / zoom;
        const QImage part =
            scene.copy(QRectF(at - QPointF(seen.width(), seen.height()) / 2, seen).toRect())
                .scaled(view, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (int y = 0; y < view.height(); ++y)
            for (int x = 0; x < view.width(); ++x) {
                const QRgb c = part.pixel(x, y);
                int *sum = &sums[size_t((y * view.width() + x) * 3)];
                sum[0] += qRed(c);
                sum[1] += qGreen(c);
                sum[2] += qBlue(c);
            }
    }
    QImage picture(view, QImage::Format_RGB32);
    QRandomGenerator noise(seed);
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x) {
            const int *sum = &sums[size_t((y * view.width() + x) * 3)];
            const auto channel = [&](int v) {
                return std::clamp(v / steps + int(noise.bounded(13)) - 6, 0, 255);
            };
            picture.setPixel(x, y, qRgb(channel(sum[0]), channel(sum[1]), channel(sum[2])));
        }
    return picture;
}

// A fine pattern that changes all the time, as a cellular pattern does:
// cells of two pixels, ink or ground at random, row by row, the rows moving
// down one a picture.
QImage busyPicture(QColor ink, QColor ground, int index)
{
    QImage picture(96, 64, QImage::Format_RGB32);
    QPainter painter(&picture);
    for (int y = 0; y < picture.height(); y += 2) {
        QRandomGenerator row(quint32(1000 + y / 2 - index));
        for (int x = 0; x < picture.width(); x += 2)
            painter.fillRect(x, y, 2, 2, row.bounded(2) ? ink : ground);
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
    void movesAreNoCutsAndTransitionsAreGradual();
    void mixingBackAndForthIsNoTransition();
    void busyShotsCutAndWhipPansDoNot();
    void cutsInFilmsMadeByFfmpeg_data();
    void cutsInFilmsMadeByFfmpeg();
    void cutBetweenBusyShotsOfOneSetOfColours();
    void cutAsAPeakBetweenMovingShots();
    void keyPicturesPlacedEarlyAreCuts();
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
    ShotRecorder shots;
    std::vector<int> expected;
    const auto add = [&shots](const QImage &picture) { shots.add(picture); };
    const auto seed = [&shots] { return quint32(shots.count()); };
    for (int shot = 0; shot < lengths.size(); ++shot) {
        expected.push_back(shots.count());
        for (int i = 0; i < lengths[shot]; ++i) {
            QImage picture = shotPicture(shot == 2 ? 0 : shot, i, shot == 1, seed());
            if (shot == 2)
                picture.mirror(true, false);
            if (shot == 3 && (i == 12 || i == 13))
                picture.fill(Qt::white);
            add(picture);
        }
    }

    expected.push_back(shots.count());
    for (int i = 0; i < 10; ++i)
        add(shotPicture(5, i, false, seed()));
    const int fadeFirst = shots.count();
    for (int i = 0; i < second; ++i)
        add(faded(shotPicture(5, 10 + i, false, seed()), double(second - 1 - i) / second));
    for (int i = 0; i < second; ++i)
        add(faded(shotPicture(6, i, false, seed()), double(i + 1) / second));
    const int fadeLast = shots.count() - 1;
    for (int i = second; i < second + 10; ++i)
        add(shotPicture(6, i, false, seed()));
    const int dissolveFirst = shots.count();
    for (int i = 0; i < second; ++i)
        add(dissolved(shotPicture(6, second + 10 + i, false, seed()),
                      shotPicture(7, i, false, seed() + 1000), double(i + 1) / (second + 1)));
    const int dissolveLast = shots.count() - 1;
    for (int i = second; i < second + 10; ++i)
        add(shotPicture(7, i, false, seed()));
    expected.push_back(shots.count());
    for (int i = 0; i < 30; ++i)
        add(shotPicture(8, i, false, seed()));

    // The fades and the dissolve are no cuts, but begin shots of their own.
    QCOMPARE(shots.cuts(), expected);
    for (const ShotStart &start : shots.starts())
        if (start.gradual > 0)
            QVERIFY((start.first >= fadeFirst - 1 && start.first <= fadeLast) ||
                    (start.first >= dissolveFirst - 1 && start.first <= dissolveLast));
}

void TestShots::movesAreNoCutsAndTransitionsAreGradual()
{
    // A camera over still scenes: a whip pan across two widths in four
    // blurred pictures, a cut, a zoom to twice the size in six, a slide of
    // twelve pictures into another scene, a cut, a dissolve of fifteen, and
    // a fade through black of sixteen between two slow pans.
    const QSize view(192, 108);
    std::vector<QImage> scenes;
    for (int scene = 0; scene < 6; ++scene)
        scenes.push_back(scenePicture(scene, view * 3));
    const QPointF left(view.width() * 0.6, view.height() * 1.5);
    const QPointF right = left + QPointF(view.width() * 1.8, 0);
    ShotRecorder shots;
    const auto seen = [&](int scene, QPointF at, double zoom = 1.0, QPointF from = {}) {
        return cameraView(scenes[size_t(scene)], at, zoom, from.isNull() ? at : from,
                          quint32(shots.count()), view);
    };
    for (int i = 0; i < 20; ++i)
        shots.add(seen(0, left));
    for (int i = 1; i <= 4; ++i)
        shots.add(seen(0, left + (right - left) * i / 4, 1.0, left + (right - left) * (i - 1) / 4));
    for (int i = 0; i < 20; ++i)
        shots.add(seen(0, right));
    const int cut1 = shots.count();
    const QPointF middle(view.width() * 1.5, view.height() * 1.5);
    for (int i = 0; i < 15; ++i)
        shots.add(seen(1, middle));
    for (int i = 1; i <= 6; ++i)
        shots.add(seen(1, middle, 1.0 + i / 6.0));
    for (int i = 0; i < 15; ++i)
        shots.add(seen(1, middle, 2.0));
    const int slide = shots.count();
    for (int i = 1; i <= 12; ++i) {
        QImage picture = seen(1, middle, 2.0);
        const int offset = view.width() * i / 12;
        QPainter painter(&picture);
        painter.drawImage(-offset, 0, picture.copy());
        painter.drawImage(view.width() - offset, 0, seen(2, middle));
        painter.end();
        shots.add(picture);
    }
    for (int i = 0; i < 20; ++i)
        shots.add(seen(2, middle));
    const int cut2 = shots.count();
    for (int i = 0; i < 20; ++i)
        shots.add(seen(3, middle + QPointF(i, 0)));
    const int dissolve = shots.count();
    for (int i = 1; i <= 15; ++i)
        shots.add(dissolved(seen(3, middle + QPointF(20, 0)), seen(4, middle), i / 16.0));
    for (int i = 0; i < 20; ++i)
        shots.add(seen(4, middle + QPointF(2 * i, 0)));
    const int throughBlack = shots.count();
    QImage black(view, QImage::Format_RGB32);
    black.fill(Qt::black);
    for (int i = 1; i <= 16; ++i)
        shots.add(i <= 8 ? dissolved(seen(4, middle + QPointF(40 + 2 * i, 0)), black, i / 8.0)
                         : dissolved(black, seen(5, middle + QPointF(2 * i, 0)), (i - 8) / 8.0));
    for (int i = 17; i < 37; ++i)
        shots.add(seen(5, middle + QPointF(2 * i, 0)));

    QCOMPARE(shots.cuts(), std::vector<int>({0, cut1, cut2}));
    std::vector<ShotStart> gradual;
    for (const ShotStart &start : shots.starts())
        if (start.gradual > 0)
            gradual.push_back(start);
    // Each found within a picture or two of where it is.
    const std::pair<int, int> expected[] = {{slide, 12}, {dissolve, 15}, {throughBlack, 16}};
    QCOMPARE(gradual.size(), std::size(expected));
    for (size_t k = 0; k < gradual.size(); ++k)
        QVERIFY2(std::abs(gradual[k].first - expected[k].first) <= 2 &&
                     std::abs(gradual[k].gradual - expected[k].second) <= 3,
                 qPrintable(QStringLiteral("%1 %2").arg(gradual[k].first).arg(gradual[k].gradual)));
}

void TestShots::mixingBackAndForthIsNoTransition()
{
    // Two scenes mixed to and fro over six seconds (every stretch of it is a
    // mix of its ends, but the pictures around go the same way), then a wipe
    // of twelve pictures into a third scene.
    const QSize view(160, 90);
    const QImage a = scenePicture(0, view);
    const QImage b = scenePicture(1, view);
    const QImage c = scenePicture(2, view);
    ShotRecorder shots;
    for (int i = 0; i < 150; ++i)
        shots.add(dissolved(a, b, 0.5 - 0.5 * std::cos(2 * M_PI * i / 50)));
    for (int i = 0; i < 20; ++i)
        shots.add(a);
    const int wipe = shots.count();
    for (int i = 1; i <= 12; ++i) {
        QImage picture = a;
        QPainter(&picture).drawImage(0, 0, c.copy(0, 0, view.width() * i / 12, view.height()));
        shots.add(picture);
    }
    for (int i = 0; i < 30; ++i)
        shots.add(c);
    const std::vector<ShotStart> starts = shots.starts();
    QCOMPARE(starts.size(), size_t(2));
    QVERIFY2(starts[1].gradual > 0 && std::abs(starts[1].first - wipe) <= 3,
             qPrintable(QStringLiteral("%1 %2").arg(starts[1].first).arg(starts[1].gradual)));
}

void TestShots::busyShotsCutAndWhipPansDoNot()
{
    // Whip pans to and fro over one scene (new content in every region,
    // blurred), cuts to gradients with something passing the lens, a cut to
    // a busy pattern and a cut to the same pattern in other colours, which
    // luma thumbnails cannot tell apart.
    const QSize view(160, 90);
    const QImage scene = scenePicture(5, view * 3);
    const QPointF left(view.width() * 0.6, view.height() * 1.5);
    const QPointF across(view.width() * 1.8, 0);
    // Every period pictures, a pan across in four from out on, and back in
    // four from back on.
    const auto toAndFro = [&](int i, int period, int out, int back) {
        const int m = i % period;
        return left + across * (std::clamp(m - out, 0, 4) - std::clamp(m - back, 0, 4)) / 4.0;
    };
    // Still for ten pictures, a pan of four, still for ten, back in four.
    const auto at = [&](int i) { return toAndFro(i, 28, 10, 24); };
    ShotRecorder shots;
    for (int i = 0; i < 80; ++i) {
        QImage picture = cameraView(scene, at(i), 1.0, at(i - 1), quint32(i), view);
        // Now and then a flat shape by the lens comes while the camera is
        // still and goes as it pans.
        if (i % 56 >= 6 && i % 56 < 12)
            QPainter(&picture).fillRect(0, 0, view.width() / 3, view.height(), QColor(32, 24, 16));
        shots.add(picture);
    }
    std::vector<int> expected = {0};
    // Then whips, slower in the middle, over soft bands of quite other
    // colours (dark teal, bright green, pastel pink): new colours at one step.
    QImage bands(view * 3, QImage::Format_RGB32);
    QLinearGradient hues(0, 0, bands.width(), bands.height() / 4);
    hues.setStops({{0.25, QColor(10, 50, 60)},
                   {0.4, QColor(120, 190, 60)},
                   {0.6, QColor(120, 190, 60)},
                   {0.75, QColor(200, 160, 200)}});
    QPainter(&bands).fillRect(bands.rect(), hues);
    const auto whip = [&](int i) {
        constexpr double way[] = {0, 0.3, 0.5, 0.55, 0.85, 1};
        const int m = i % 30;
        return left + across * (way[std::clamp(m - 10, 0, 5)] - way[std::clamp(m - 24, 0, 5)]);
    };
    expected.push_back(shots.count());
    for (int i = 0; i < 60; ++i)
        shots.add(cameraView(bands, whip(i), 1.0, whip(i - 1), quint32(i), view));
    // Then whips to and fro between a flat field and soft bands of green
    // and cyan: no shift fits the flat field, so each whip looks like a cut
    // through blended pictures until the camera comes back.
    QImage field(view * 3, QImage::Format_RGB32);
    field.fill(QColor(165, 28, 85));
    QLinearGradient greens(view.width() * 2, 0, view.width() * 3, view.height());
    greens.setStops(
        {{0, QColor(20, 140, 70)}, {0.5, QColor(200, 240, 225)}, {1, QColor(20, 220, 190)}});
    QPainter(&field).fillRect(QRect(view.width() * 2, 0, view.width(), view.height() * 3), greens);
    const auto flatWhip = [&](int i) { return toAndFro(i, 32, 0, 16); };
    expected.push_back(shots.count());
    for (int i = 0; i < 100; ++i)
        shots.add(cameraView(field, flatWhip(i), 1.0, flatWhip(i - 1), quint32(i), view));
    // Then drifting gradients, a dark shape close to the lens covering their
    // left third for seven pictures now and then: it comes and goes within a
    // shot, or comes with one.
    const auto gradient = [&](int hue, int i, bool shape) {
        QImage picture(view, QImage::Format_RGB32);
        QPainter painter(&picture);
        QLinearGradient ramp(-i * 2.0, 0, view.width() * 2 - i * 2.0, 0);
        ramp.setColorAt(0, QColor::fromHsv(hue, 120, 240));
        ramp.setColorAt(1, QColor::fromHsv((hue + 90) % 360, 200, 200));
        painter.fillRect(picture.rect(), ramp);
        if (shape)
            painter.fillRect(0, 0, view.width() * 3 / 10, view.height(), QColor(32, 24, 16));
        return picture;
    };
    const auto shaped = [](int i) { return i % 40 < 7; };
    expected.push_back(shots.count());
    for (int i = 10; i < 70; ++i)
        shots.add(gradient(200, i, shaped(i)));
    expected.push_back(shots.count());
    for (int i = 0; i < 40; ++i)
        shots.add(gradient(20, i, shaped(i)));
    expected.push_back(shots.count());
    for (int i = 40; i < 70; ++i)
        shots.add(gradient(120, i, shaped(i)));
    for (const QColor ink : {QColor(230, 150, 40), QColor(90, 220, 90)}) {
        expected.push_back(shots.count());
        for (int i = 0; i < 20; ++i)
            shots.add(busyPicture(ink, Qt::black, shots.count()));
    }
    // A last picture unlike the rest is too short to be a shot.
    shots.add(gradient(300, 0, false));
    QCOMPARE(shots.cuts(), expected);
}

void TestShots::cutsInFilmsMadeByFfmpeg_data()
{
    QTest::addColumn<QString>("filters");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<int>>("cuts");
    // A camera that goes out in steps pictures, holds, and comes back, over
    // and over every period pictures (number: "in" for zoompan's).
    const auto toAndFro = [](int period, int steps, const QString &number = "n") {
        return QString("if(lt(mod(%1,%2),%3),min(mod(%1,%2),%4)/%4,1-min(mod(%1,%2)-%3,%4)/%4)")
            .arg(number)
            .arg(period)
            .arg(period / 2)
            .arg(steps);
    };
    // A zoom in and out, blurred, with a strobe on every third picture for
    // a while: as the zoom comes back, the strobe's last picture and the
    // still one after it change at once, as a cut does.
    const QString ramp = toAndFro(56, 6, "in");
    QTest::newRow("strobe as a zoom comes back")
        << "smptehdbars=size=480x180:rate=25,zoompan=z='1+1.5*" + ramp +
               "':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=160x90:fps=25,tmix=frames=2,"
               "eq=eval=frame:brightness='lte(mod(n,80),12)*eq(mod(n,3),0)*0.7'"
        << QSize(160, 90) << QList<int>{0};
    // A dark shape by the lens over three quarters of the picture for seven
    // pictures, twice, while the camera turns.
    QTest::newRow("shape by the lens of a turning camera")
        << "testsrc2=size=960x360:rate=25,rotate=a='0.15*n':c=black,crop=320:180,"
           "drawbox=x='mod(round(t*25),43)*iw/3-iw*0.8':y=-20:w=iw*0.8:h=ih+40:c=0x201810:"
           "t=fill:enable='lte(mod(round(t*25),43),6)',trim=start_frame=10"
        << QSize(320, 180) << QList<int>{0};
    // Whip pans to and fro, the camera drifting up and down between them.
    QTest::newRow("whip pans with a drift between")
        << QString(
               "smptehdbars=size=960x360:rate=25,drawgrid=w=97:h=61:t=5:c=0x546129,crop=320:180:"
               "x='640*%1':"
               "y='90+90*sin(n/9)',tmix=frames=3,trim=start_frame=100")
               .arg(toAndFro(46, 5))
        << QSize(320, 180) << QList<int>{0};
    // A dark shape by the lens over nearly all of a shaking picture for
    // seven pictures, twice: the scene comes back as it was.
    QTest::newRow("shape by the lens of a shaking camera")
        << "gradients=size=960x540:rate=25:speed=0.01:seed=7:nb_colors=5:c0=0x3f6e9a:"
           "c1=0xc9a227:c2=0x5b8c3e:c3=0xa33b52:c4=0x2d2f6b,crop=320:180:"
           "x='320+16*sin(n*1.9)+10*sin(n*4.3)':y='180+10*sin(n*2.3)+16*cos(n*3.7)',"
           "drawbox=x=0:y=0:w=iw*0.9:h=ih:c=0x201810:t=fill:enable='between(mod(n,50),20,26)'"
        << QSize(320, 180) << QList<int>{0};
    // A dark shape by the lens, now and then, over a shaking camera on a
    // scene that changes all over all the time: its coming and going
    // change the colours at once, as a cut does, but they come back.
    QTest::newRow("shape by the lens over a scene that keeps changing")
        << "life=size=240x90:rate=25:mold=10:ratio=0.3:seed=341837:life_color=0x6c9d43:"
           "death_color=0x8ac62b,scale=960:360:flags=neighbor,crop=320:180:"
           "x='320+16*sin(n*1.9)+10*sin(n*4.3)':y='90+10*sin(n*2.3)+16*cos(n*3.7)',"
           "drawbox=x='mod(round(t*25),44)*iw/3-iw*0.8':y=-20:w=iw*0.8:h=ih+40:c=0x201810:"
           "t=fill:enable='lte(mod(round(t*25),44),6)',trim=start_frame=30"
        << QSize(320, 180) << QList<int>{0};
    // Whips too fast for a shift to explain, over colour bars, the camera
    // drifting up and down after them as well: a burst between a calm
    // stretch and a slower drift.
    QTest::newRow("fast whip pans with a drift after")
        << QString(
               "smptehdbars=size=960x360:rate=25,drawgrid=w=97:h=61:t=5:c=0x62abb9,crop=320:180:"
               "x='640*%1':"
               "y='90+90*sin(n/9)',tmix=frames=3,trim=start_frame=450")
               .arg(toAndFro(48, 3))
        << QSize(320, 180) << QList<int>{0};
    // Whips at an even pace over colour bars: no step of one stands out
    // from the steps beside it.
    QTest::newRow("whip pans at an even pace")
        << QString(
               "smptehdbars=size=1440x540:rate=25,drawgrid=w=97:h=61:t=5:c=0xad4020,crop=480:270:"
               "x='960*%1':"
               "y='135+135*sin(n/9)',tmix=frames=3,trim=start_frame=400")
               .arg(toAndFro(42, 5))
        << QSize(480, 270) << QList<int>{0};
    // A zoom in and out, a box shown now and then (drawbox places it once,
    // so it stands still while shown): where the zoom ends, colours come
    // that it had not shown, but the move explains them.
    QTest::newRow("zoom coming back with a box passing")
        << QString("testsrc2=size=960x360:rate=25,zoompan=z='1+1.5*%1':x='iw/2-iw/zoom/2':"
                   "y='ih/2-ih/zoom/2':d=1:s=320x180:fps=25,tmix=frames=2,"
                   "drawbox=x='mod(round(t*25),82)*iw/5-iw/2':y=60:w=iw/2:h=ih/3:c=0x65426f:"
                   "t=fill:enable='lte(mod(round(t*25),82),8)',trim=start_frame=100")
               .arg(toAndFro(56, 7, "in"))
        << QSize(320, 180) << QList<int>{0};
    // A cut into a whip pan that starts at the new shot's first picture.
    QTest::newRow("cut into a whip pan")
        << QString("cellauto=size=160x90:rate=25:rule=110:seed=5,scale=320:180:flags=neighbor,"
                   "lutrgb=r=val*0.9:b=val*0.5,"
                   "trim=end_frame=60,setpts=PTS-STARTPTS[a];"
                   "testsrc2=size=960x360:rate=25,crop=320:180:"
                   "x='640*%1':y=90,"
                   "tmix=frames=3,trim=end_frame=60,setpts=PTS-STARTPTS[b];[a][b]concat")
               .arg(toAndFro(40, 3))
        << QSize(320, 180) << QList<int>{0, 60};
    // Sixty pictures of a hand-held camera over a cellular scene, as [a],
    // then a cut to a take that moves, with a shape passing, from its first
    // picture: the moves bring colours unseen and take larger steps than the
    // cut, which must not hide it.
    const auto fromShake = [](int seed, const QString &red, int first, const QString &take) {
        return QString("cellauto=size=240x90:rate=25:rule=30:seed=%1,scale=960:360:flags=neighbor,"
                       "lutrgb=r=val*%2:b=val*0.4,crop=320:180:x='320+16*sin(n*1.9)+"
                       "10*sin(n*4.3)':y='90+10*sin(n*2.3)+16*cos(n*3.7)',trim=start_frame=%3:"
                       "end_frame=%4,setpts=PTS-STARTPTS[a];%5,trim=end_frame=60,"
                       "setpts=PTS-STARTPTS[b];[a][b]concat")
            .arg(seed)
            .arg(red)
            .arg(first)
            .arg(first + 60)
            .arg(take);
    };
    QTest::newRow("cut from a shake into a whip pan with a box passing")
        << fromShake(291463, "0.6", 617,
                     QString("testsrc2=size=960x360:rate=25,crop=320:180:x='640*%1':y=90,"
                             "tmix=frames=3[m];color=c=0x58a96b:size=160x60[box];[m][box]overlay="
                             "x='mod(n,60)*W/5-w':y=60:enable='lte(mod(n,60),8)'")
                         .arg(toAndFro(34, 3)))
        << QSize(320, 180) << QList<int>{0, 60};
    QTest::newRow("cut from a shake into a zoom as a shape passes the lens")
        << fromShake(5, "1.2", 481,
                     QString("sierpinski=size=960x360:rate=25:seed=7:type=carpet,lutrgb=r=val*1.2:"
                             "g=val*0.8,zoompan=z='1+1.5*%1':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':"
                             "d=1:s=320x180:fps=25,tmix=frames=2[m];color=c=0x201810:size=256x220"
                             "[box];[m][box]overlay=x='mod(n,84)*W/3-w':y=-20:"
                             "enable='lte(mod(n,84),6)'")
                         .arg(toAndFro(42, 8, "in")))
        << QSize(320, 180) << QList<int>{0, 60};
    // A cut into a take whose first picture is a strobe's flash, the camera
    // whipping at once; and a strobe that starts as a whip pan starts,
    // within one take.
    QTest::newRow("cut into a strobe and a whip at once")
        << QString(
               "cellauto=size=240x90:rate=25:rule=30:seed=693092,scale=960x360:flags=neighbor,"
               "lutrgb=r=val*0.6:b=val*0.4,crop=320:180:x=0:y=0,trim=end_frame=60,"
               "setpts=PTS-STARTPTS[a];testsrc2=size=960x360:rate=25,crop=320:180:"
               "x='640*%1':"
               "y='90+90*sin(n/9)',tmix=frames=3,"
               "eq=eval=frame:brightness='lte(mod(n,47),12)*eq(mod(n,3),0)*0.7',trim=end_frame=60,"
               "setpts=PTS-STARTPTS[b];[a][b]concat")
               .arg(toAndFro(40, 3))
        << QSize(320, 180) << QList<int>{0, 60};
    // The same, out of a take whipping to and fro over colour bars: both
    // sides move all the time, the cut one more large step among theirs.
    QTest::newRow("whip pan, then a cut into a strobe and a whip at once")
        << QString("smptehdbars=size=1440x540:rate=25,drawgrid=w=97:h=61:t=5:c=0x776432,"
                   "crop=480:270:x='960*%1':y=135,tmix=frames=3,trim=start_frame=65:end_frame=125,"
                   "setpts=PTS-STARTPTS[a];testsrc2=size=1440x540:rate=25,crop=480:270:"
                   "x='960*%2':y=135,tmix=frames=3,"
                   "eq=eval=frame:brightness='lte(mod(n,66),12)*eq(mod(n,3),0)*0.7',"
                   "trim=end_frame=60,setpts=PTS-STARTPTS[b];[a][b]concat")
               .arg(toAndFro(72, 3), toAndFro(82, 3))
        << QSize(480, 270) << QList<int>{0, 60};
    QTest::newRow("strobe as a whip pan starts")
        << QString("testsrc2=size=960x360:rate=25,crop=320:180:"
                   "x='640*%1':"
                   "y='90+90*sin(n/9)',tmix=frames=3,"
                   "eq=eval=frame:brightness='lte(mod(n,89),12)*eq(mod(n,3),0)*0.7',"
                   "trim=start_frame=130")
               .arg(toAndFro(40, 4))
        << QSize(320, 180) << QList<int>{0};
    // A dark shape by the lens over nearly all of the picture for seven
    // pictures, twice, while the camera turns on behind it.
    QTest::newRow("shape by the lens over nearly all of a turning picture")
        << "sierpinski=size=960x360:rate=25:seed=590367:type=carpet,lutrgb=r=val*0.6:g=val*0.8,"
           "rotate=a='0.15*n':c=black,crop=320:180,drawbox=x=0:y=0:w=iw:h=ih*0.95:c=0x201810:"
           "t=fill:enable='between(mod(n,50),20,26)'"
        << QSize(320, 180) << QList<int>{0};
    // A dark shape by the lens over a dark scene, for eight pictures now
    // and then, as a zoom goes in and out: the shape's colour is all over
    // the scene, so only where the cells take it on tells the shape.
    QTest::newRow("dark shape by the lens over a dark scene")
        << QString("life=size=120x68:rate=25:mold=10:ratio=0.3:seed=9:life_color=0x3f9fa8:"
                   "death_color=0x000000,scale=960:544:flags=neighbor,zoompan=z='1+1.5*%1':"
                   "x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=320x180:fps=25,tmix=frames=2,"
                   "drawbox=x=0:y=0:w=iw/3:h=ih:c=0x201810:t=fill:"
                   "enable='between(mod(n,37),20,27)'")
               .arg(toAndFro(60, 6, "in"))
        << QSize(320, 180) << QList<int>{0};
    // Whip pans over a flat field to a box that only their last step
    // shows: blur brings it in over three pictures, as a dissolve would.
    QTest::newRow("whip pans over a flat field to a box")
        << QString("color=c=0x006400:size=960x180:rate=25,drawbox=x=760:y=20:w=200:h=140:"
                   "c=0x00dc00:t=fill,crop=320:180:x='640*%1':y=0,tmix=frames=3,"
                   "trim=start_frame=20")
               .arg(toAndFro(66, 3))
        << QSize(320, 180) << QList<int>{0};
    // A strobe going on as a whip pan over colour bars comes back: the
    // whip's blur and the flashes leave no step that a shift explains, but
    // it settles where the camera was.
    QTest::newRow("strobe as a whip pan comes back")
        << QString("smptehdbars=size=1440x540:rate=25,drawgrid=w=97:h=61:t=5:c=0x5ba470,"
                   "crop=480:270:x='960*%1':y=135,tmix=frames=3,"
                   "eq=eval=frame:brightness='lte(mod(n,75),12)*eq(mod(n,3),0)*0.7',"
                   "trim=start_frame=300")
               .arg(toAndFro(68, 3))
        << QSize(480, 270) << QList<int>{0};
    // A fast zoom to 2.5 times that stops on a still, over colour bars:
    // new colours at once, and never back, but no transition.
    QTest::newRow("zoom that stops on a still")
        << "smptehdbars=size=960x540:rate=25,zoompan=z='1+1.5*min(max(in-50,0),6)/6':"
           "x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=320x180:fps=25,tmix=frames=2"
        << QSize(320, 180) << QList<int>{0};
    // A fade to black, then at once a cut to a dark shot: no fade through
    // black, for the dark shot comes at once.
    QTest::newRow("fade to black, then a cut to a dark shot")
        << "testsrc2=size=320x180:rate=25,fade=t=out:start_frame=51:nb_frames=9,"
           "trim=end_frame=60,setpts=PTS-STARTPTS[a];"
           "sierpinski=size=320x180:rate=25:seed=5,lutrgb=r=val*0.25:g=val*0.25:b=val*0.3,"
           "trim=end_frame=60,setpts=PTS-STARTPTS[b];[a][b]concat"
        << QSize(320, 180) << QList<int>{0, 60};
    // A turning camera with a flash of two pictures every 37: the picture
    // after each flash changes at once, as a cut does.
    QTest::newRow("two-picture flashes in a turning shot")
        << "smptehdbars=size=960x360:rate=25,rotate=a='0.1*n':c=black,crop=320:180,"
           "eq=eval=frame:brightness='if(between(mod(n,37),20,21),0.55,0)'"
        << QSize(320, 180) << QList<int>{0};
    // A tumbling camera, then a cut to another whose first picture is a
    // strobe's flash, the strobe going on every third picture.
    QTest::newRow("cut into a strobe")
        << "sierpinski=size=480x270:rate=25:seed=3,rotate=a='0.15*n':c=black,crop=320:180,"
           "trim=end_frame=60,setpts=PTS-STARTPTS[a];"
           "smptehdbars=size=480x270:rate=25,rotate=a='0.15*n':c=black,crop=320:180,"
           "eq=eval=frame:brightness='lte(n,12)*eq(mod(n,3),0)*0.7',trim=end_frame=60,"
           "setpts=PTS-STARTPTS[b];[a][b]concat"
        << QSize(320, 180) << QList<int>{0, 60};
}

void TestShots::cutsInFilmsMadeByFfmpeg()
{
    // ffmpeg's own zoom, blur, shapes and light, as the test films have them.
    QFETCH(QString, filters);
    QFETCH(QSize, size);
    QFETCH(QList<int>, cuts);
    constexpr int count = 120;
    QTemporaryDir dir;
    const QString raw = dir.filePath("pictures.bgra");
    QCOMPARE(runFfmpeg({"-f", "lavfi", "-i", filters, "-frames:v", QString::number(count), "-f",
                        "rawvideo", "-pix_fmt", "bgra"},
                       raw),
             QString());
    const QByteArray pictures = contentsOf(raw);
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 4;
    QCOMPARE(pictures.size(), count * bytes);
    ShotRecorder shots;
    for (int i = 0; i < count; ++i)
        shots.add(QImage(reinterpret_cast<const uchar *>(pictures.constData()) + i * bytes,
                         size.width(), size.height(), QImage::Format_RGB32));
    // Every shot begins at a cut, none gradually: a camera that moves to and
    // fro over one scene comes back to what it showed, as no transition does.
    std::vector<int> starts;
    for (const ShotStart &start : shots.starts())
        starts.push_back(start.first);
    QCOMPARE(starts, std::vector<int>(cuts.begin(), cuts.end()));
}

void TestShots::cutBetweenBusyShotsOfOneSetOfColours()
{
    // Cells of five colours, a quarter of them painted anew every picture,
    // and in bursts of three, well away from the cut, 60%; the cut paints
    // all of them. The bursts keep it from standing out from the shots'
    // windows, and the colours stay the same.
    QRandomGenerator random(3);
    const QRgb palette[] = {qRgb(200, 40, 40), qRgb(30, 60, 160), qRgb(220, 220, 200),
                            qRgb(20, 20, 20), qRgb(60, 160, 60)};
    std::vector<PictureGrid> grids;
    PictureGrid grid{};
    for (int i = 0; i < 80; ++i) {
        const int share = i % 40 == 0                   ? 100
                          : i % 40 >= 32 && i % 40 < 35 ? 60
                          : i % 40 >= 5 && i % 40 < 8   ? 60
                                                        : 25;
        for (auto &cell : grid.means)
            if (int(random.bounded(100)) < share) {
                const QRgb c = palette[random.bounded(5)];
                cell = {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))};
            }
        grid.samples = grid.means;
        grids.push_back(grid);
    }
    QCOMPARE(detectShots(grids, {}), (std::vector<ShotStart>{{0, 0}, {40, 0}}));
}

void TestShots::cutAsAPeakBetweenMovingShots()
{
    // A dark shot, then a bright one, a tenth of the cells painted anew
    // every picture, the camera jumping three cells aside every fourth: the
    // cut, two pictures from a jump, is twice the changes beside it but does
    // not stand out from the jumps, and near black its colours alone tell
    // nothing.
    QRandomGenerator random(5);
    const QRgb palettes[2][3] = {{qRgb(30, 8, 8), qRgb(4, 4, 4), qRgb(10, 20, 30)},
                                 {qRgb(30, 60, 160), qRgb(40, 170, 190), qRgb(20, 20, 70)}};
    std::vector<PictureGrid> grids;
    PictureGrid grid{};
    for (int i = 0; i < 80; ++i) {
        const int share = i % 40 == 0 ? 100 : 10;
        for (auto &cell : grid.means)
            if (int(random.bounded(100)) < share) {
                const QRgb c = palettes[i / 40][random.bounded(3)];
                cell = {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))};
            }
        if (i % 4 == 2)
            for (int row = 0; row < PictureGrid::side; ++row)
                std::rotate(grid.means.begin() + row * PictureGrid::side,
                            grid.means.begin() + row * PictureGrid::side + 3,
                            grid.means.begin() + (row + 1) * PictureGrid::side);
        grid.samples = grid.means;
        grids.push_back(grid);
    }
    QCOMPARE(detectShots(grids, {}), (std::vector<ShotStart>{{0, 0}, {40, 0}}));
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

void TestShots::keyPicturesPlacedEarlyAreCuts()
{
    // Every 10 s, a picture late once, and two placed at changes of scene.
    QCOMPARE(earlyKeyPictures({0, 10, 13.5, 23.5, 33.46, 36, 46, 56}),
             (std::vector<double>{13.5, 36}));
    // A fixed group of pictures, and a long gap seen once, tell no interval.
    QVERIFY(earlyKeyPictures({0, 0.5, 1, 1.5, 2, 2.5}).empty());
    QVERIFY(earlyKeyPictures({0, 2, 3, 13, 15, 16.5}).empty());
}

QTEST_GUILESS_MAIN(TestShots)
#include "test_shots.moc"
