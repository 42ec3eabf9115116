// The progress bar in the status bar, followed through real runs.
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/progressview.h"
#include "guidriver.h"
#include "testvideo.h"
#include "video/framesource.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace guidriver;

namespace {

// Not a divisor of 100, so no picture lands on a whole percent and rounding
// errors in the timestamps cannot move a value.
constexpr int pictureCount = 13;

// What the bar showed after each change, with the picture count at that moment.
struct Step {
    double frameCount;
    int value;
    bool operator==(const Step &) const = default;
};

} // namespace

namespace QTest {
template <> char *toString(const Step &step)
{
    return qstrdup(
        qPrintable(QStringLiteral("(picture %1: %2%)").arg(step.frameCount).arg(step.value)));
}
} // namespace QTest

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void percentFromTimeOrPosition_data();
    void percentFromTimeOrPosition();
    void hiddenBeforeAnyRun();
    void followsPictureTimesToTheEnd();
    void readPositionWhenDurationUnknown();
    void failedStartHidesBar();

private:
    MainWindowForm *form() const { return window->form(); }
    QProgressBar *bar() const { return window->findChild<QProgressBar *>(); }
    void clickStart(const QString &path);

    QTemporaryDir dir;
    QString video;
    std::unique_ptr<MainWindow> window;
    QList<Step> steps;
};

void TestProgress::initTestCase()
{
    QVERIFY(dir.isValid());
    video = dir.filePath(QStringLiteral("colours.mkv"));
    QString error;
    // 25 pictures a second: picture k starts at k / 25 s of 13 / 25 s.
    QVERIFY2(testvideo::writeVideo(
                 video,
                 testvideo::uniformColours({64, 48}, testvideo::paletteColours(pictureCount)),
                 &error),
             qPrintable(error));
}

void TestProgress::init()
{
    window = openFreshWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(bar());
    steps.clear();
    connect(bar(), &QProgressBar::valueChanged, this, [this](int value) {
        steps << Step{analysisState.frameCount, value};
    });
}

void TestProgress::cleanup()
{
    closeWindow(window);
}

void TestProgress::clickStart(const QString &path)
{
    QVERIFY(startThroughDialog(form(), path));
}

// The batch tool shows the fraction, the window the percent.
void TestProgress::percentFromTimeOrPosition_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("duration");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("percent");
    QTest::newRow("first picture") << 0.0 << 10.0 << qint64(500) << qint64(1000) << 0.0 << 0;
    QTest::newRow("time before position")
        << 2.5 << 10.0 << qint64(900) << qint64(1000) << 0.25 << 25;
    QTest::newRow("time past the duration")
        << 11.0 << 10.0 << qint64(-1) << qint64(-1) << 1.0 << 99;
    QTest::newRow("picture without time")
        << -1.0 << 10.0 << qint64(300) << qint64(1000) << 0.3 << 30;
    QTest::newRow("duration unknown") << 4.0 << -1.0 << qint64(1) << qint64(3) << 1.0 / 3 << 33;
    QTest::newRow("whole file read") << -1.0 << -1.0 << qint64(1000) << qint64(1000) << 1.0 << 99;
    QTest::newRow("pipe") << 4.0 << -1.0 << qint64(4096) << qint64(-1) << -1.0 << -1;
    QTest::newRow("nothing known") << -1.0 << -1.0 << qint64(-1) << qint64(-1) << -1.0 << -1;
}

void TestProgress::percentFromTimeOrPosition()
{
    QFETCH(double, time);
    QFETCH(double, duration);
    QFETCH(qint64, position);
    QFETCH(qint64, size);
    QFETCH(double, fraction);
    QFETCH(int, percent);
    QCOMPARE(progressFraction(time, duration, position, size), fraction);
    QCOMPARE(progressPercent(time, duration, position, size), percent);
}

void TestProgress::hiddenBeforeAnyRun()
{
    QVERIFY(!bar()->isVisible());
    // Beside the message, at the right of the status bar.
    QCOMPARE(bar()->parentWidget(), form()->statusBar);
    // A cancelled start is no run either.
    clickStart(QString());
    QVERIFY(!bar()->isVisible());
    QVERIFY(steps.isEmpty());
}

void TestProgress::followsPictureTimesToTheEnd()
{
    clickStart(video);
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->minimum(), 0);
    QCOMPARE(bar()->maximum(), 100);
    QCOMPARE(bar()->value(), 0);
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));

    // Picture k (counted k + 1) moves the bar to its start time's percent; the
    // end of the video, after the last picture, to 100.
    QList<Step> expected;
    for (int k = 1; k < pictureCount; ++k)
        expected << Step{double(k + 1), 100 * k / pictureCount};
    expected << Step{double(pictureCount), 100};
    QCOMPARE(steps, expected);
    QVERIFY(bar()->isVisible());

    // The next run starts from nothing again.
    steps.clear();
    clickStart(video);
    QCOMPARE(bar()->value(), 0);
    QCOMPARE(steps, (QList<Step>{Step{0.0, 0}}));
    QTRY_COMPARE(bar()->value(), 100);
}

void TestProgress::readPositionWhenDurationUnknown()
{
    // A bare MJPEG stream: no container, so no duration; the pictures have
    // no timestamps of their own either.
    const QString bare = dir.filePath(QStringLiteral("bare.mjpeg"));
    QList<QImage> pictures;
    for (int i = 0; i < 40; ++i)
        pictures << testvideo::uniformPicture({64, 48}, testvideo::paletteColour(i));
    QString error;
    QVERIFY2(testvideo::writeVideo(bare, testvideo::pictureList(pictures, testvideo::Codec::Mjpeg),
                                   &error),
             qPrintable(error));
    // The same reads outside the window: where the demuxer stood after each
    // picture is what the bar must show, below 100 until the end.
    QList<Step> expected;
    {
        FrameSourcePtr probe = openFrameSource(QFile::encodeName(bare).constData());
        QVERIFY(probe);
        QVERIFY(streamDuration(probe.get()) < 0);
        const qint64 size = fileSize(probe.get());
        QCOMPARE(size, QFileInfo(bare).size());
        int counted = 0;
        int shown = 0;
        for (FrameStatus status; (status = readFrame(probe.get())) != EndOfStream;) {
            if (status != FrameReady)
                continue;
            ++counted;
            const int percent = int(std::min<qint64>(99, 100 * readPosition(probe.get()) / size));
            if (percent != shown)
                expected << Step{double(counted), percent};
            shown = percent;
        }
        QCOMPARE(counted, int(pictures.size()));
        expected << Step{double(counted), 100};
    }
    // Enough of the file between the pictures for the bar to move in between.
    QVERIFY2(expected.size() >= 4, qPrintable(QString::number(expected.size())));

    clickStart(bare);
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QVERIFY(bar()->isVisible());
    QCOMPARE(steps, expected);
}

void TestProgress::failedStartHidesBar()
{
    clickStart(video);
    QTRY_COMPARE(bar()->value(), 100);

    const QString junk = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(writeNonVideo(junk));
    auto box = answerMessageBox();
    clickStart(junk);
    QVERIFY(box->answered);
    QVERIFY(!bar()->isVisible());
}

QTEST_MAIN(TestProgress)
#include "test_progress.moc"
