// The film overview below the strips: filled from the key pictures while the
// window's run goes on, redrawn from every picture at its end, and replaced
// by the next start without waiting for the old film's reader.
#include "analysis/timeaxis.h"
#include "app/filmoverview.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QHelpEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QWheelEvent>
#include <QtTest>

using namespace guidriver;

namespace {

constexpr int halfCount = 24;
constexpr QRgb red = 0xffd02020;
constexpr QRgb blue = 0xff2020d0;

bool reddish(QRgb colour)
{
    return qRed(colour) > qBlue(colour) + 100;
}

bool bluish(QRgb colour)
{
    return qBlue(colour) > qRed(colour) + 100;
}

// Turns the wheel over widget at x by delta (120 a notch).
void turnWheel(QWidget *widget, double x, QPoint delta, Qt::KeyboardModifiers modifiers = {})
{
    const QPointF at(x, 10);
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), delta, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

// The overview's tip at x.
QString tipAt(QWidget *widget, int x)
{
    QToolTip::hideText();
    const QPoint at(x, 10);
    QHelpEvent hover(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &hover);
    return QToolTip::text();
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keyPicturesThenEveryPicture();
    void newStartCancelsTheOldReader();
    void axisSteps();
    void wheelZoom();

private:
    FilmOverview *overview() const { return window->overview(); }
    // The overview as drawn: the left part of both strips red, the right blue.
    void verifyHalves();

    QTemporaryDir dir;
    QString halves; // red, then blue, a key picture every 8
    QString green;  // every picture a key picture, 800 of them
    std::unique_ptr<MainWindow> window;
};

void TestOverview::initTestCase()
{
    halves = dir.filePath(QStringLiteral("halves.mkv"));
    testvideo::VideoStream stream = testvideo::uniformColours(
        {96, 64}, QList<QRgb>(halfCount, red) + QList<QRgb>(halfCount, blue),
        testvideo::Codec::Mpeg4);
    stream.gopSize = 8;
    QString error;
    QVERIFY2(testvideo::writeVideo(halves, stream, &error), qPrintable(error));
    green = dir.filePath(QStringLiteral("green.mkv"));
    QVERIFY2(testvideo::writeVideo(
                 green, testvideo::uniformColours({64, 48}, QList<QRgb>(800, 0xff20c020)), &error),
             qPrintable(error));
}

void TestOverview::init()
{
    window = openFreshWindow();
    window->resize(800, 700);
}

void TestOverview::cleanup()
{
    closeWindow(window);
}

void TestOverview::verifyHalves()
{
    const QImage shown = overview()->grab().toImage();
    const int width = overview()->width();
    QVERIFY(width > 100);
    for (const QRect &area : {overview()->framesArea(), overview()->averageArea()}) {
        const int y = area.center().y();
        QVERIFY2(reddish(shown.pixel(width / 5, y)), qPrintable(QString::number(y)));
        QVERIFY2(bluish(shown.pixel(width * 4 / 5, y)), qPrintable(QString::number(y)));
    }
}

void TestOverview::keyPicturesThenEveryPicture()
{
    window->startRun(halves);
    // The window's run waits, so that the key pictures' overview shows alone.
    windowRun.tickTimer->stop();
    QTRY_VERIFY_WITH_TIMEOUT(overview()->isComplete(), 60000);
    QVERIFY(!overview()->isExact());
    QCOMPARE(overview()->pictureCount(), 6);
    verifyHalves();
    if (QTest::currentTestFailed())
        return;
    const QPoint right(overview()->width() * 4 / 5, 10);
    QHelpEvent hover(QEvent::ToolTip, right, overview()->mapToGlobal(right));
    QApplication::sendEvent(overview(), &hover);
    QTRY_VERIFY2(QToolTip::text().startsWith(QStringLiteral("Key picture at 0:00:01.")),
                 qPrintable(QToolTip::text()));

    windowRun.tickTimer->start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunning(), 60000);
    QVERIFY(overview()->isExact());
    QCOMPARE(overview()->pictureCount(), 2 * halfCount);
    verifyHalves();

    // A click shows that picture, from a reader of its own.
    QTest::mouseClick(overview(), Qt::LeftButton, {}, right);
    const QString said = window->form()->statusBar->currentMessage();
    const QRegularExpressionMatch named =
        QRegularExpression(QStringLiteral("^Picture (\\d+) at 0:00:01\\.\\d{3}\\.$")).match(said);
    QVERIFY2(named.hasMatch() && named.captured(1).toInt() > halfCount, qPrintable(said));
    const QImage preview = window->form()->label->pixmap().toImage();
    QVERIFY(bluish(preview.pixel(preview.width() / 2, preview.height() / 2)));

    // A resize redraws from what is kept.
    const int wide = overview()->width();
    window->resize(600, 700);
    QTRY_VERIFY(overview()->width() < wide);
    verifyHalves();
}

void TestOverview::newStartCancelsTheOldReader()
{
    // The first film's reader is stopped wherever it is.
    window->startRun(green);
    window->startRun(halves);
    QTRY_VERIFY_WITH_TIMEOUT(overview()->isComplete(), 60000);
    QCOMPARE(overview()->videoPath(), halves);
    verifyHalves();

    // So is a reader still going when the window closes.
    window->startRun(green);
    closeWindow(window);
}

void TestOverview::axisSteps()
{
    // Labels 60 pixels apart at least, on panels of several sizes.
    QCOMPARE(axisStep(1000.0 / 16, 60), 1.0);
    QCOMPARE(axisStep(1000.0 / 300, 60), 30.0);
    QCOMPARE(axisStep(1000.0 / 1200, 60), 120.0);
    QCOMPARE(axisStep(1000.0 / 7200, 70), 600.0);
    QCOMPARE(axisTicks(0.5, 7.0, 2.0), (std::vector<double>{2.0, 4.0, 6.0}));
    QCOMPARE(formatDuration(754, true), QStringLiteral("0:12:34"));
    QCOMPARE(formatDuration(754), QStringLiteral("12:34"));
}

void TestOverview::wheelZoom()
{
    // More pictures than columns; the run stopped a little way in.
    window->resize(400, 700);
    window->startRun(green);
    windowRun.tickTimer->stop();
    for (int i = 0; i < 100; ++i)
        QVERIFY(QMetaObject::invokeMethod(window.get(), "timerDone"));
    QTest::mouseClick(window->form()->pushButton_2, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(overview()->isComplete(), 60000);
    const int width = overview()->width();

    // A notch keeps the time under the pointer; the part the run read is
    // drawn from its pictures, the rest from the key pictures.
    const double x = width * 0.3, under = overview()->timeAt(x);
    turnWheel(overview(), x, {0, 120});
    QVERIFY(overview()->isZoomed());
    QVERIFY(std::abs(overview()->timeAt(x) - under) < 1e-9);
    QVERIFY2(tipAt(overview(), 1).startsWith(QStringLiteral("Picture ")),
             qPrintable(tipAt(overview(), 1)));
    QVERIFY(tipAt(overview(), width - 2).startsWith(QStringLiteral("Key picture at ")));

    // Shift pans later; all the way in, a column is a picture.
    const double before = overview()->viewStart();
    turnWheel(overview(), x, {0, -120}, Qt::ShiftModifier);
    QVERIFY(overview()->viewStart() > before);
    turnWheel(overview(), x, {0, 20 * 120}, Qt::ShiftModifier);
    for (int i = 0; i < 30; ++i)
        turnWheel(overview(), 0, {0, 120});
    QCOMPARE(overview()->viewStart(), 0.0);
    QVERIFY(std::abs((overview()->viewEnd() - overview()->viewStart()) / width - 0.04) < 1e-6);
    for (int column = 10; column < 13; ++column)
        QCOMPARE(tipAt(overview(), column), QStringLiteral("Picture %1 at 0:00:00.%2")
                                                .arg(column + 1)
                                                .arg(column * 40, 3, 10, QLatin1Char('0')));
    // A double click shows the whole film again.
    QTest::mouseDClick(overview(), Qt::LeftButton, {}, QPoint(5, 10));
    QVERIFY(!overview()->isZoomed());
}

QTEST_MAIN(TestOverview)
#include "test_overview.moc"
