// The frame tick: one picture per timeout, counted, measured, drawn and shown.
#include "analysis/analysisstate.h"
#include "analysis/strip.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "guidriver.h"
#include "reference.h"
#include "testvideo.h"

#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace guidriver;

namespace {

constexpr int pictureCount = 9;
const QSize pictureSize(64, 48);

QRgb colourOf(int picture)
{
    return testvideo::paletteColour(picture);
}

QRgb cornerOf(const QImage &image)
{
    return image.pixel(0, 0) | 0xff000000u;
}

} // namespace

class TestTick : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeVideoPlaysToTheEnd();
    void tickWhileBusyChangesNothing();
    void endOnFirstTickChangesNothingShown();
    void statusCountFormat_data();
    void statusCountFormat();
    void previousKeptAfterOddPictures();
    void stripsMatchFullRedraw();
    void longStripsStayExactAfterRun();
    void capFollowsWindowWidth();
    void delayedOutputVideoCountsEveryPicture();
    void previewShowsCurrentPicture();

private:
    MainWindowForm *form() const { return window->form(); }
    // Starts a run on path with the timer stopped, so the test drives each tick.
    void startStepping(const QString &path);
    void tick() { QVERIFY(QMetaObject::invokeMethod(window.get(), "timerDone")); }

    QTemporaryDir dir;
    QString video;
    std::unique_ptr<MainWindow> window;
};

void TestTick::initTestCase()
{
    video = dir.filePath(QStringLiteral("nine.mkv"));
    QString error;
    QVERIFY2(testvideo::writeVideo(
                 video,
                 testvideo::uniformColours(pictureSize, testvideo::paletteColours(pictureCount)),
                 &error),
             qPrintable(error));
}

void TestTick::init()
{
    window = openFreshWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestTick::cleanup()
{
    closeWindow(window);
}

void TestTick::startStepping(const QString &path)
{
    QVERIFY(startThroughDialog(form(), path));
    QVERIFY(windowRun.run);
    windowRun.tickTimer->stop();
}

void TestTick::wholeVideoPlaysToTheEnd()
{
    QVERIFY(startThroughDialog(form(), video));
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));

    QCOMPARE(analysisState.frameCount, double(pictureCount));
    QCOMPARE(form()->statusBar->currentMessage(), QStringLiteral("9 frames processed."));
    QVERIFY(!form()->pushButton->isEnabled());
    QVERIFY(form()->saveButton->isEnabled());
    QVERIFY(!windowRun.tickTimer->isActive());
    QVERIFY(!windowRun.tickBusy);
    for (const ColourHistory *history :
         {&analysisState.averageHistory, &analysisState.quadrantHistories[TopLeft],
          &analysisState.quadrantHistories[BottomRight], &analysisState.brightnessHistory,
          &analysisState.differenceHistory, &analysisState.moodHistory})
        QCOMPARE(history->size(), qsizetype(pictureCount));
    for (int i = 0; i < pictureCount; ++i)
        QCOMPARE(analysisState.averageHistory[i].rgb(), colourOf(i));

    const StripSet &strips = window->strips()->strips();
    QCOMPARE(strips.average.width(), pictureCount);
    QCOMPARE(strips.quadrant.width(), pictureCount);
    QCOMPARE(strips.mood.width(), pictureCount);
    QCOMPARE(window->strips()->videoPath(), video);
    // What stays on screen is the whole strip at the label's size.
    QCOMPARE(form()->averageDisplay->pixmap().size(),
             form()->averageDisplay->contentsRect().size());
    QCOMPARE(form()->averageDisplay->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
             strips.average.displayImage(form()->averageDisplay->contentsRect().size()));

    // The source stays open at its end; no more ticks arrive.
    QVERIFY(windowRun.run);
    QTest::qWait(50);
    QCOMPARE(analysisState.frameCount, double(pictureCount));
}

void TestTick::tickWhileBusyChangesNothing()
{
    startStepping(video);
    windowRun.tickBusy = true;
    tick();
    QCOMPARE(analysisState.frameCount, 0.0);
    QVERIFY(analysisState.averageHistory.isEmpty());
    QVERIFY(form()->statusBar->currentMessage().isEmpty());
    QVERIFY(windowRun.tickBusy);

    // Nothing was read either: the first picture is still the first.
    windowRun.tickBusy = false;
    tick();
    QCOMPARE(analysisState.frameCount, 1.0);
    QCOMPARE(analysisState.averageHistory[0].rgb(), colourOf(0));
    QVERIFY(!windowRun.tickBusy);
}

void TestTick::endOnFirstTickChangesNothingShown()
{
    // A first run leaves something on screen.
    startStepping(video);
    for (int i = 0; i < 3; ++i)
        tick();
    // The stop shows the strips exact; that is what must stay.
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton);
    const QString status = form()->statusBar->currentMessage();
    QCOMPARE(status, QStringLiteral("3 frames processed."));
    const QImage preview = form()->label->pixmap().toImage();
    const QImage strip = form()->averageDisplay->pixmap().toImage();
    QVERIFY(!strip.isNull());
    QCOMPARE(strip.convertToFormat(QImage::Format_RGB32),
             window->strips()->strips().average.displayImage(
                 form()->averageDisplay->contentsRect().size()));

    // A second run whose source is already at its end.
    startStepping(video);
    form()->spinBox->setValue(pictureCount + 5);
    QTest::mouseClick(form()->pushButton, Qt::LeftButton);
    windowRun.tickTimer->start(10);
    tick();

    QCOMPARE(analysisState.frameCount, 0.0);
    QCOMPARE(form()->statusBar->currentMessage(), status);
    QCOMPARE(form()->label->pixmap().toImage(), preview);
    QCOMPARE(form()->averageDisplay->pixmap().toImage(), strip);
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QVERIFY(!form()->pushButton->isEnabled());
    QVERIFY(!windowRun.tickTimer->isActive());
    QVERIFY(!windowRun.tickBusy);
}

void TestTick::statusCountFormat_data()
{
    QTest::addColumn<double>("countBefore");
    QTest::addColumn<QString>("message");
    QTest::newRow("first") << 0.0 << "1 frames processed.";
    QTest::newRow("plain") << 41.0 << "42 frames processed.";
    QTest::newRow("below a million") << 999998.0 << "999999 frames processed.";
    QTest::newRow("a million") << 999999.0 << "1e+06 frames processed.";
    QTest::newRow("beyond") << 1234566.0 << "1.23457e+06 frames processed.";
}

void TestTick::statusCountFormat()
{
    QFETCH(double, countBefore);
    QFETCH(QString, message);
    startStepping(video);
    analysisState.frameCount = countBefore;
    tick();
    QCOMPARE(form()->statusBar->currentMessage(), message);
}

void TestTick::previousKeptAfterOddPictures()
{
    const auto keptIs = [](int filePicture) {
        const PictureSums expected =
            pictureSums(testvideo::uniformPicture(pictureSize, colourOf(filePicture)));
        const PictureSums &kept = analysisState.previous;
        return kept.set && kept.size == pictureSize && kept.channels.red == expected.channels.red &&
               kept.channels.green == expected.channels.green &&
               kept.channels.blue == expected.channels.blue;
    };
    startStepping(video);
    QVERIFY(!analysisState.previous.set);
    // Pictures shown 1..7 are file pictures 0..3, then 5..7 after the skip.
    const int expectedKept[] = {0, 0, 2, 2, 5, 5, 7};
    for (int picture = 1; picture <= 7; ++picture) {
        tick();
        QCOMPARE(analysisState.frameCount, double(picture));
        QVERIFY(keptIs(expectedKept[picture - 1]));
        if (picture == 4) {
            // A skip reads past file picture 4 without touching the kept picture.
            form()->spinBox->setValue(1);
            QTest::mouseClick(form()->pushButton, Qt::LeftButton);
            QVERIFY(keptIs(2));
        }
    }
}

void TestTick::stripsMatchFullRedraw()
{
    startStepping(video);
    for (int i = 0; i < pictureCount; ++i)
        tick();
    const StripSet &strips = window->strips()->strips();
    QCOMPARE(strips.average.image(), drawStrip(analysisState.averageHistory, 20));
    QCOMPARE(strips.quadrant.image(), drawQuadrantStrip(analysisState.quadrantHistories));
    QCOMPARE(strips.brightness.image(), drawStrip(analysisState.brightnessHistory, 20));
    QCOMPARE(strips.difference.image(), drawStrip(analysisState.differenceHistory, 20));
    QCOMPARE(strips.mood.image(), drawStrip(analysisState.moodHistory, 20));

    // A second run replaces the strips at its first picture, not before.
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop
    startStepping(video);
    QCOMPARE(window->strips()->strips().average.width(), pictureCount);
    tick();
    QCOMPARE(window->strips()->strips().average.width(), 1);
}

void TestTick::longStripsStayExactAfterRun()
{
    startStepping(video);
    tick();
    // Past the reduced copy's bound a running display is an approximation.
    QRandomGenerator random(3);
    for (int i = 0; i < 5000; ++i) {
        FrameColours colours;
        colours.average = QColor::fromRgb(random.generate());
        analysisState.strips.append(colours);
    }
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop

    const Strip &strip = analysisState.strips.average;
    const QSize size = form()->averageDisplay->contentsRect().size();
    const QImage exact = strip.exactDisplayImage(size);
    QVERIFY(exact != strip.displayImage(size));
    QCOMPARE(form()->averageDisplay->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
             exact);
}

void TestTick::capFollowsWindowWidth()
{
    startStepping(video);
    tick();
    QCOMPARE(form()->averageDisplay->maximumSize(), QSize(window->width() - 50, 20));
    QCOMPARE(form()->averageQuadDisplay->maximumSize(), QSize(window->width() - 50, 40));
    window->resize(800, 622);
    tick();
    QCOMPARE(form()->moodDisplay->maximumSize(), QSize(750, 20));
    QCOMPARE(form()->averageQuadDisplay->maximumSize(), QSize(750, 40));
}

void TestTick::delayedOutputVideoCountsEveryPicture()
{
    const QString delayed = dir.filePath(QStringLiteral("bframes.avi"));
    testvideo::VideoStream stream;
    stream.codec = testvideo::Codec::Mpeg4;
    stream.maxBFrames = 2;
    stream.pictureCount = 30;
    stream.picture = [](int i) { return testvideo::uniformPicture({96, 64}, colourOf(i)); };
    QString error;
    QVERIFY2(testvideo::writeVideo(delayed, stream, &error), qPrintable(error));
    const int pictures = testvideo::countPictures(delayed);
    QCOMPARE(pictures, 30);

    QVERIFY(startThroughDialog(form(), delayed));
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QCOMPARE(analysisState.frameCount, double(pictures));
    // In display order, lossy colours still nearest their own.
    for (int i = 0; i < pictures; ++i)
        QCOMPARE(testvideo::nearestPaletteIndex(analysisState.averageHistory[i].rgb(), 64), i);
}

void TestTick::previewShowsCurrentPicture()
{
    startStepping(video);
    tick();
    const QImage shown = form()->label->pixmap().toImage();
    QVERIFY(form()->label->isVisible());
    QCOMPARE(shown.size(), form()->label->contentsRect().size());
    QCOMPARE(cornerOf(shown), colourOf(0));
}

QTEST_MAIN(TestTick)
#include "test_tick.moc"
