// Start, stop and skip, driven through the window's real buttons and dialogs.
#include "analysis/analysisstate.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/windowrun.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace guidriver;

namespace {

constexpr int pictureCount = 12;

// Open descriptors of this process that lead to path.
int openDescriptorsOf(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            ++count;
    return count;
}

// Reads the rest of the source, counting pictures.
int remainingPictures(FrameSource *source)
{
    int pictures = 0;
    for (FrameStatus status; (status = readFrame(source)) != EndOfStream;)
        pictures += status == FrameReady;
    return pictures;
}

QList<QTimer *> activeTimersOf(QObject *window)
{
    QList<QTimer *> active;
    for (QTimer *timer : window->findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
        if (timer->isActive())
            active << timer;
    return active;
}

} // namespace

class TestControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cancelledFirstStartEnablesSkipOnly();
    void chosenVideoStartsRun();
    void unreadableFileShowsErrorBox();
    void stopKeepsSourceAndStrips();
    void skipConsumesOnePacketPerStep_data();
    void skipConsumesOnePacketPerStep();
    void skipWithoutSourceReadsNothing();
    void nonLatin1NameOpens();
    void secondStartReplacesTimerAndSource();
    void languageChangeKeepsTheRunGoing();

private:
    MainWindowForm *form() const { return window->form(); }
    void clickStart(const QString &path);

    QTemporaryDir dir;
    QString video;
    std::unique_ptr<MainWindow> window;
};

void TestControl::initTestCase()
{
    QVERIFY(dir.isValid());
    video = dir.filePath(QStringLiteral("colours.mkv"));
    QString error;
    QVERIFY2(testvideo::writeVideo(
                 video,
                 testvideo::uniformColours({64, 48}, testvideo::paletteColours(pictureCount)),
                 &error),
             qPrintable(error));
    QCOMPARE(testvideo::countVideoPackets(video), pictureCount);
}

void TestControl::init()
{
    window = openFreshWindow();
}

void TestControl::cleanup()
{
    closeWindow(window);
}

void TestControl::clickStart(const QString &path)
{
    QVERIFY(startThroughDialog(form(), path));
}

void TestControl::cancelledFirstStartEnablesSkipOnly()
{
    analysisState.frameCount = 5;
    analysisState.averageHistory << QColor(1, 2, 3);
    analysisState.moodHistory << QColor(1, 2, 3);
    windowRun.tickBusy = true;

    auto seen = answerFileDialog(QString());
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton);
    QVERIFY(seen->answered);

    QCOMPARE(seen->caption, QStringLiteral("Open any Video File"));
    QCOMPARE(seen->filters.value(0), QStringLiteral("All Files (*.*)"));
    QCOMPARE(seen->filters.size(), 2);
    QVERIFY(seen->filters[1].startsWith(QStringLiteral("Videos (")));
    QVERIFY(seen->filters[1].contains(QStringLiteral("*.mkv")));
    QCOMPARE(seen->directory, QDir::currentPath());

    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QVERIFY(form()->pushButton->isEnabled());
    QVERIFY(!form()->saveButton->isEnabled());
    QVERIFY(windowRun.tickTimer);
    QVERIFY(!windowRun.tickTimer->isActive());
    QVERIFY(windowRun.videoPath.isNull());
    QVERIFY(!windowRun.run);
    QCOMPARE(analysisState.frameCount, 0.0);
    QVERIFY(analysisState.averageHistory.isEmpty());
    QVERIFY(analysisState.moodHistory.isEmpty());
    QVERIFY(!windowRun.tickBusy);
    QVERIFY(form()->statusBar->currentMessage().isEmpty());
}

void TestControl::chosenVideoStartsRun()
{
    clickStart(video);
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Stop Analysis"));
    QVERIFY(form()->pushButton->isEnabled());
    QVERIFY(form()->saveButton->isEnabled());
    QVERIFY(windowRun.run);
    QCOMPARE(outputWidth(windowRun.run->source()), 64);
    QCOMPARE(outputHeight(windowRun.run->source()), 48);
    QCOMPARE(windowRun.videoPath, video);
    QVERIFY(windowRun.tickTimer);
    QVERIFY(windowRun.tickTimer->isActive());
    QCOMPARE(windowRun.tickTimer->interval(), 10);
    QVERIFY(!windowRun.tickTimer->isSingleShot());
    QCOMPARE(windowRun.tickTimer->parent(), window.get());
    // The timer drives the run: pictures get counted.
    QTRY_VERIFY(analysisState.frameCount >= 1);
}

void TestControl::unreadableFileShowsErrorBox()
{
    const QString junk = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(writeNonVideo(junk));

    auto box = answerMessageBox();
    clickStart(junk);
    verifyCannotOpen(*box, form());
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!form()->saveButton->isEnabled());
    QCOMPARE(windowRun.videoPath, junk);
    // The box's text is fixed; its details and the status bar tell why.
    QVERIFY(form()->statusBar->currentMessage().startsWith(
        QLatin1String("This is not a video or image file. (")));
    QCOMPARE(box->informativeText,
             junk + QStringLiteral(": ") + form()->statusBar->currentMessage());

    // A failed start after a good one leaves save enabled.
    clickStart(video);
    QVERIFY(form()->saveButton->isEnabled());
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop
    box = answerMessageBox();
    clickStart(junk);
    QVERIFY(box->answered);
    QVERIFY(form()->saveButton->isEnabled());
    QVERIFY(!form()->pushButton->isEnabled());
}

void TestControl::stopKeepsSourceAndStrips()
{
    clickStart(video);
    QTRY_VERIFY(analysisState.frameCount >= 2);
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton);

    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QVERIFY(!form()->pushButton->isEnabled());
    QVERIFY(form()->saveButton->isEnabled());
    QVERIFY(!windowRun.tickTimer->isActive());
    QVERIFY(windowRun.run);
    const double counted = analysisState.frameCount;
    QCOMPARE(analysisState.averageHistory.size(), qsizetype(counted));
    QTest::qWait(50);
    QCOMPARE(analysisState.frameCount, counted);
    QVERIFY(!form()->averageDisplay->pixmap().isNull());
    // The source stays where the run left it.
    QCOMPARE(remainingPictures(windowRun.run->source()), pictureCount - int(counted));
}

void TestControl::skipConsumesOnePacketPerStep_data()
{
    QTest::addColumn<int>("skip");
    QTest::newRow("none") << 0;
    QTest::newRow("some") << 5;
    QTest::newRow("all") << pictureCount;
    QTest::newRow("past the end") << pictureCount + 40;
}

void TestControl::skipConsumesOnePacketPerStep()
{
    QFETCH(int, skip);
    clickStart(video);
    // No tick, so that only the skip reads.
    windowRun.tickTimer->stop();
    QCOMPARE(analysisState.frameCount, 0.0);

    form()->spinBox->setValue(skip);
    QTest::mouseClick(form()->pushButton, Qt::LeftButton);

    QVERIFY(form()->pushButton->isEnabled());
    QCOMPARE(analysisState.frameCount, 0.0);
    QVERIFY(analysisState.averageHistory.isEmpty());
    QVERIFY(form()->statusBar->currentMessage().isEmpty());
    QCOMPARE(remainingPictures(windowRun.run->source()), std::max(0, pictureCount - skip));
}

void TestControl::skipWithoutSourceReadsNothing()
{
    clickStart(QString());
    QVERIFY(form()->pushButton->isEnabled());
    QTest::mouseClick(form()->pushButton, Qt::LeftButton);
    QVERIFY(form()->pushButton->isEnabled());
    QVERIFY(!windowRun.run);
}

void TestControl::nonLatin1NameOpens()
{
    const QString named = dir.filePath(QStringLiteral("видео-κόσμος-映画.mkv"));
    QVERIFY(QFile::copy(video, named));
    clickStart(named);
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Stop Analysis"));
    QVERIFY(windowRun.run);
    QCOMPARE(windowRun.videoPath, named);
}

void TestControl::secondStartReplacesTimerAndSource()
{
    const QString other = dir.filePath(QStringLiteral("other.mkv"));
    QVERIFY(QFile::copy(video, other));

    clickStart(video);
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop
    QPointer<QTimer> firstTimer = windowRun.tickTimer;
    // The film overview's reader goes on after a stop, and closes the file
    // once it has read the key pictures.
    QTRY_VERIFY(window->overview()->isComplete());
    QCOMPARE(openDescriptorsOf(video), 1);

    clickStart(other);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!firstTimer);
    QVERIFY(windowRun.tickTimer);
    QCOMPARE(openDescriptorsOf(video), 0);
    QCOMPARE(activeTimersOf(window.get()).size(), 1);

    // A cancelled start also retires the timer, and leaves the source open.
    QTest::mouseClick(form()->pushButton_2, Qt::LeftButton); // stop
    QTRY_VERIFY(window->overview()->isComplete());
    QCOMPARE(openDescriptorsOf(other), 1);
    clickStart(QString());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window->findChildren<QTimer *>(Qt::FindDirectChildrenOnly).size(), 1);
    QCOMPARE(openDescriptorsOf(other), 1);

    // Destroying the window closes the source that is still open.
    window.reset();
    QCOMPARE(openDescriptorsOf(other), 0);
}

void TestControl::languageChangeKeepsTheRunGoing()
{
    clickStart(video);
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &change);
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Stop Analysis"));
    QVERIFY(form()->pushButton->isEnabled());
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    // One timer, one tick per picture: every picture counted exactly once.
    QCOMPARE(activeTimersOf(window.get()).size(), 0);
    QCOMPARE(analysisState.frameCount, double(pictureCount));
    QCOMPARE(analysisState.averageHistory.size(), qsizetype(pictureCount));

    // A translated toggle text still starts a run: the state is not read from it.
    form()->pushButton_2->setText(QStringLiteral("Analyse starten"));
    clickStart(video);
    QVERIFY(window->isRunning());
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Stop Analysis"));
}

QTEST_MAIN(TestControl)
#include "test_control.moc"
