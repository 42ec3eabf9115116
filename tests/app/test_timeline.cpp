// The window as a timeline: opened from the command line, resized freely,
// strips that name the picture under the pointer and show it on a click.
#include "analysis/analysisstate.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "export/stripexport.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

using namespace guidriver;

namespace {

constexpr int pictureCount = 30;

QRgb centreOf(const QLabel *label)
{
    const QImage shown = label->pixmap().toImage();
    return shown.pixel(shown.width() / 2, shown.height() / 2);
}

// The x of the middle of picture index's column in a strip label.
int columnX(const QLabel *label, int index, int columns)
{
    const QRect area = label->contentsRect();
    return area.left() + int((index + 0.5) * area.width() / columns);
}

// What the status bar says of picture index of the test video (25 a second).
QString shownText(int index)
{
    return QStringLiteral("Picture %1 at 0:00:%2.")
        .arg(index + 1)
        .arg(QString::number(index * 0.04, 'f', 3).rightJustified(6, u'0'));
}

} // namespace

class TestTimeline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLineFile();
    void fullSpeedRecordsWhatThePacedRunDoes();
    void resizeAfterRun();
    void previewKeepsShape_data();
    void previewKeepsShape();
    void toolTipOfSqueezedStrip_data();
    void toolTipOfSqueezedStrip();
    void clickShowsPicture();
    void keysStepThePlayhead();
    void shortcuts();
    void dialogListsFilesWithoutExtension();

private:
    MainWindowForm *form() const { return window->form(); }
    void runToEnd(const QString &path);

    QTemporaryDir dir;
    QString video; // reordered pictures, a key picture every 8
    std::unique_ptr<MainWindow> window;
};

void TestTimeline::initTestCase()
{
    video = dir.filePath(QStringLiteral("gop.mkv"));
    testvideo::VideoStream stream = testvideo::uniformColours(
        {96, 64}, testvideo::paletteColours(pictureCount), testvideo::Codec::Mpeg4);
    stream.maxBFrames = 2;
    stream.gopSize = 8;
    QString error;
    QVERIFY2(testvideo::writeVideo(video, stream, &error), qPrintable(error));
}

void TestTimeline::init()
{
    window = openFreshWindow();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

void TestTimeline::cleanup()
{
    closeWindow(window);
}

void TestTimeline::runToEnd(const QString &path)
{
    window->startRun(path);
    QVERIFY(window->isRunning());
    QTRY_VERIFY(!window->isRunning());
}

void TestTimeline::commandLineFile()
{
    window->startFromArguments({QStringLiteral("reelmeter"), video, QStringLiteral("ignored")});
    QTRY_VERIFY(window->isRunning());
    QTRY_VERIFY(!window->isRunning());
    QCOMPARE(analysisState.frameCount, double(pictureCount));
    QCOMPARE(window->strips()->videoPath(), video);
}

void TestTimeline::fullSpeedRecordsWhatThePacedRunDoes()
{
    // Twice, so that both first pictures are compared with the same last run's.
    runToEnd(video);
    runToEnd(video);
    const StripSet paced = analysisState.strips;
    const std::vector<double> times = analysisState.pictureTimes;
    window->startFromArguments(
        {QStringLiteral("reelmeter"), QStringLiteral("--full-speed"), video});
    QTRY_VERIFY(window->isRunning());
    QVERIFY(windowRun.fullSpeed);
    QTRY_VERIFY(!window->isRunning());
    QCOMPARE(analysisState.frameCount, double(pictureCount));
    QCOMPARE(analysisState.pictureTimes, times);
    const StripSet &full = analysisState.strips;
    for (const auto &[ours, theirs] :
         {std::pair(&full.average, &paced.average), std::pair(&full.quadrant, &paced.quadrant),
          std::pair(&full.brightness, &paced.brightness),
          std::pair(&full.difference, &paced.difference), std::pair(&full.mood, &paced.mood)})
        QCOMPARE(ours->image(), theirs->image());
}

void TestTimeline::resizeAfterRun()
{
    const QSize least = window->minimumSizeHint();
    window->resize(1400, 1000);
    runToEnd(video);

    window->resize(least);
    QTRY_COMPARE(window->size(), least);

    // Idle, the caps and the drawn strips follow a larger window at once.
    window->resize(1000, 700);
    for (QLabel *strip : {form()->averageDisplay, form()->averageQuadDisplay}) {
        QCOMPARE(strip->maximumWidth(), 950);
        QTRY_COMPARE(strip->width(), 950);
        QCOMPARE(strip->pixmap().size(), strip->contentsRect().size());
    }
    QTRY_COMPARE(form()->label->pixmap().size(), form()->label->contentsRect().size());
}

void TestTimeline::previewKeepsShape_data()
{
    QTest::addColumn<int>("pixelWidth");
    QTest::addColumn<int>("pixelHeight");
    QTest::newRow("square pixels") << 1 << 1;
    QTest::newRow("wide pixels") << 2 << 1;
    QTest::newRow("narrow pixels") << 1 << 2;
}

void TestTimeline::previewKeepsShape()
{
    QFETCH(int, pixelWidth);
    QFETCH(int, pixelHeight);
    const QString path =
        dir.filePath(QStringLiteral("sar%1-%2.mkv").arg(pixelWidth).arg(pixelHeight));
    testvideo::VideoStream stream = testvideo::uniformColours({64, 48}, {0xff20c040});
    stream.sampleAspectRatio = {pixelWidth, pixelHeight};
    QString error;
    QVERIFY2(testvideo::writeVideo(path, stream, &error), qPrintable(error));
    runToEnd(path);

    const QLabel *preview = form()->label;
    const QRect shown = preview->contentsRect();
    const double expected = 64.0 * pixelWidth / (48.0 * pixelHeight);
    QVERIFY2(std::abs(shown.width() / expected - shown.height()) <= 1.0,
             qPrintable(QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height())));
    // Centred, the rest left to the label's background.
    const QMargins around = preview->contentsMargins();
    QVERIFY(std::abs(around.left() - around.right()) + std::abs(around.top() - around.bottom()) <=
            2);
    QCOMPARE(centreOf(preview) | 0xff000000u, 0xff20c040u);
}

void TestTimeline::toolTipOfSqueezedStrip_data()
{
    QTest::addColumn<QString>("strip");
    QTest::addColumn<double>("where"); // across the strip, 0..1
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("timeText");
    QTest::newRow("start") << "averageDisplay" << 0.0 << 0.04 << " at 0:00:00.040";
    QTest::newRow("middle") << "moodDisplay" << 0.5 << 83.3333 << " at 0:01:23.333";
    QTest::newRow("end") << "differenceDisplay" << 1.0 << 7384.5 << " at 2:03:04.500";
    QTest::newRow("quadrant") << "averageQuadDisplay" << 1.0 << 59.9996 << " at 0:01:00.000";
}

void TestTimeline::toolTipOfSqueezedStrip()
{
    QFETCH(QString, strip);
    QFETCH(double, where);
    QFETCH(double, time);
    QFETCH(QString, timeText);
    window->startRun(video);
    windowRun.tickTimer->stop();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "timerDone"));
    auto *label = window->findChild<QLabel *>(strip);
    const int width = label->contentsRect().width();
    // Three columns to a pixel: pixel x shows columns 3x to 3x + 2.
    const int columns = 3 * width;
    while (analysisState.strips.average.width() < columns) {
        analysisState.strips.append(FrameColours());
        analysisState.pictureTimes.push_back(-1.0);
    }
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop: drawn exactly
    QCOMPARE(label->pixmap().width(), width);

    const int x = label->contentsRect().left() + std::min(int(where * width), width - 1);
    const int picture = 3 * (x - label->contentsRect().left()) + 1;
    analysisState.pictureTimes[picture] = time;
    const int y = label->contentsRect().bottom() - 1;
    QHelpEvent hover(QEvent::ToolTip, QPoint(x, y), label->mapToGlobal(QPoint(x, y)));
    QApplication::sendEvent(label, &hover);
    QString expected = QStringLiteral("Picture %1").arg(picture + 1) + timeText;
    if (label == form()->averageQuadDisplay)
        expected += QStringLiteral(", bottom right quadrant");
    QTRY_COMPARE(QToolTip::text(), expected);
}

void TestTimeline::clickShowsPicture()
{
    runToEnd(video);
    QLabel *strip = form()->brightnessDisplay;
    // Backwards after the end, forwards, then a reordered picture just before a key one.
    for (const int picture : {pictureCount - 1, 0, 13, 10, 15}) {
        QTest::mouseClick(strip, Qt::LeftButton, {},
                          QPoint(columnX(strip, picture, pictureCount), strip->height() / 2));
        QCOMPARE(testvideo::nearestPaletteIndex(centreOf(form()->label), 64), picture);
        QCOMPARE(form()->statusBar->currentMessage(), shownText(picture));
    }
    // A cancelled Open leaves the strips on screen with their times.
    QVERIFY(startThroughDialog(form(), QString()));
    QTest::mouseClick(strip, Qt::LeftButton, {},
                      QPoint(columnX(strip, 13, pictureCount), strip->height() / 2));
    QCOMPARE(testvideo::nearestPaletteIndex(centreOf(form()->label), 64), 13);
}

void TestTimeline::keysStepThePlayhead()
{
    runToEnd(video);
    QCOMPARE(window->strips()->playhead(), pictureCount - 1);
    QLabel *strip = form()->moodDisplay;
    QTest::mouseClick(strip, Qt::LeftButton, {},
                      QPoint(columnX(strip, 0, pictureCount), strip->height() / 2));
    // A focused button leaves the arrows to the window; the last step is clamped.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int picture;
    } steps[] = {{Qt::Key_Right, {}, 1},
                 {Qt::Key_Right, Qt::ShiftModifier, 26},
                 {Qt::Key_Right, Qt::ShiftModifier, pictureCount - 1},
                 {Qt::Key_Left, Qt::ShiftModifier, 4},
                 {Qt::Key_Left, {}, 3}};
    for (const auto &step : steps) {
        QTest::keyClick(form()->saveButton, step.key, step.modifiers);
        QCOMPARE(testvideo::nearestPaletteIndex(centreOf(form()->label), 64), step.picture);
        QCOMPARE(form()->statusBar->currentMessage(), shownText(step.picture));
        // A white line over the picture's column, on the strip and the overview.
        QCOMPARE(window->strips()->playhead(), step.picture);
        QCOMPARE(strip->grab().toImage().pixel(columnX(strip, step.picture, pictureCount), 2),
                 qRgb(255, 255, 255));
        FilmOverview *overview = window->overview();
        const double x = (overview->playhead() - overview->viewStart()) * overview->width() /
                         (overview->viewEnd() - overview->viewStart());
        QCOMPARE(overview->playhead(), analysisState.pictureTimes[size_t(step.picture)]);
        QCOMPARE(overview->grab().toImage().pixel(int(x), 2), qRgb(255, 255, 255));
    }
    // A focused spin box keeps the arrows for its text.
    form()->spinBox->setFocus();
    QTest::keyClick(form()->spinBox, Qt::Key_Right);
    QCOMPARE(window->strips()->playhead(), 3);
}

void TestTimeline::shortcuts()
{
    auto dialog = answerFileDialog(video);
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(dialog->answered);
    QVERIFY(window->isRunning());
    windowRun.tickTimer->stop();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "timerDone")); // something to save
    // Offscreen, the closed dialog hands the focus back to no window.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    // While running, Ctrl+O asks for nothing; Escape stops.
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(!QApplication::activeModalWidget());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(!window->isRunning());
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));

    const QString saved = video + stripSuffix(StripKind::Average);
    QFile::remove(saved);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFileInfo::exists(saved));
}

void TestTimeline::dialogListsFilesWithoutExtension()
{
    const QString plain = dir.filePath(QStringLiteral("film"));
    QVERIFY(QFile::copy(video, plain));
    auto listed = std::make_shared<QStringList>();
    whenModal<QFileDialog>([this, listed](QFileDialog *dialog) {
        dialog->setDirectory(dir.path());
        auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
        const auto names = [list] {
            QStringList names;
            const QModelIndex root = list->rootIndex();
            for (int row = 0; row < list->model()->rowCount(root); ++row)
                names << list->model()->index(row, 0, root).data().toString();
            return names;
        };
        QTRY_VERIFY(names().contains(QStringLiteral("gop.mkv")));
        *listed = names();
        dialog->reject();
    });
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton);
    QVERIFY(listed->contains(QStringLiteral("film")));
}

QTEST_MAIN(TestTimeline)
#include "test_timeline.moc"
