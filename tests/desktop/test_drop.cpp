// Files dropped onto the window from a file manager, delivered as the real
// drag-enter and drop events a platform sends to the widget under the cursor.
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace guidriver;

namespace {

constexpr int firstCount = 12;
constexpr int secondCount = 5;

struct DragResult {
    bool entered = false; // the drag-enter was accepted (the cursor says "drop here")
    bool dropped = false; // the drop was accepted
};

// Drags urls onto target and releases them there. The drop is sent even when
// the enter was refused, as a careless platform might; the window must not
// act on it.
DragResult dragAndDrop(QWidget *target, const QList<QUrl> &urls, const QString &text = QString())
{
    QMimeData mime;
    if (!urls.isEmpty())
        mime.setUrls(urls);
    if (!text.isNull())
        mime.setText(text);
    const QPointF where = QRectF(target->rect()).center();
    DragResult result;
    QDragEnterEvent enter(where.toPoint(), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    result.entered = enter.isAccepted();
    QDropEvent drop(where, Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QCoreApplication::sendEvent(target, &drop);
    result.dropped = drop.isAccepted();
    return result;
}

QList<QUrl> fileUrl(const QString &path)
{
    return {QUrl::fromLocalFile(path)};
}

} // namespace

class TestDrop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void droppedVideoStartsRun();
    void dropMakesTheResetsOfAStart();
    void unreadableDropShowsErrorBox();
    void dropDuringRunIsIgnored();
    void dragsWithoutLocalFileAreRefused_data();
    void dragsWithoutLocalFileAreRefused();

private:
    MainWindowForm *form() const { return window->form(); }

    QTemporaryDir dir;
    QString first;  // firstCount pictures
    QString second; // secondCount pictures
    std::unique_ptr<MainWindow> window;
};

void TestDrop::initTestCase()
{
    QVERIFY(dir.isValid());
    first = dir.filePath(QStringLiteral("first.mkv"));
    second = dir.filePath(QStringLiteral("second video.mkv"));
    const QList<QRgb> colours = testvideo::paletteColours(firstCount);
    QString error;
    QVERIFY2(testvideo::writeVideo(first, testvideo::uniformColours({64, 48}, colours), &error),
             qPrintable(error));
    QVERIFY2(testvideo::writeVideo(
                 second, testvideo::uniformColours({32, 24}, colours.mid(0, secondCount)), &error),
             qPrintable(error));
}

void TestDrop::init()
{
    window = openFreshWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestDrop::cleanup()
{
    closeWindow(window);
}

void TestDrop::droppedVideoStartsRun()
{
    QVERIFY(window->acceptDrops());
    // Onto the preview: the label takes no drops, the window behind it does.
    const DragResult result = dragAndDrop(form()->label, fileUrl(second));
    QVERIFY(result.entered);
    QVERIFY(result.dropped);

    // The run starts once the drop has returned to the platform.
    QCoreApplication::sendPostedEvents();
    QVERIFY(window->isRunning());
    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Stop Analysis"));
    QVERIFY(form()->pushButton->isEnabled());
    QVERIFY(form()->saveButton->isEnabled());
    QCOMPARE(windowRun.videoPath, second);
    QVERIFY(windowRun.run);
    QCOMPARE(outputWidth(windowRun.run->source()), 32);
    QCOMPARE(outputHeight(windowRun.run->source()), 24);
    QVERIFY(windowRun.tickTimer);
    QVERIFY(windowRun.tickTimer->isActive());
    QCOMPARE(windowRun.tickTimer->interval(), 10);

    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QCOMPARE(analysisState.frameCount, double(secondCount));
    QCOMPARE(form()->statusBar->currentMessage(), QStringLiteral("5 frames processed."));
    QCOMPARE(window->strips()->videoPath(), second);
    QCOMPARE(window->strips()->strips().average.width(), secondCount);
}

void TestDrop::dropMakesTheResetsOfAStart()
{
    // A whole run through the dialog first, then a drop of a shorter video.
    QVERIFY(startThroughDialog(form(), first));
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QCOMPARE(analysisState.frameCount, double(firstCount));
    QPointer<QTimer> firstTimer = windowRun.tickTimer;
    windowRun.tickBusy = true; // as a tick interrupted by a language change leaves it

    QVERIFY(dragAndDrop(form()->averageDisplay, fileUrl(second)).dropped);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!firstTimer);
    QVERIFY(!windowRun.tickBusy);
    QCOMPARE(analysisState.frameCount, 0.0);
    QVERIFY(analysisState.averageHistory.isEmpty());
    QVERIFY(analysisState.moodHistory.isEmpty());

    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    // Counted from zero, histories from empty: nothing of the first run is left.
    QCOMPARE(analysisState.frameCount, double(secondCount));
    QCOMPARE(analysisState.averageHistory.size(), qsizetype(secondCount));
    for (const ColourHistory &history : analysisState.quadrantHistories)
        QCOMPARE(history.size(), qsizetype(secondCount));
    QCOMPARE(analysisState.brightnessHistory.size(), qsizetype(secondCount));
    QCOMPARE(analysisState.differenceHistory.size(), qsizetype(secondCount));
    QCOMPARE(analysisState.moodHistory.size(), qsizetype(secondCount));
    QCOMPARE(window->strips()->strips().average.width(), secondCount);
}

void TestDrop::unreadableDropShowsErrorBox()
{
    const QString junk = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(writeNonVideo(junk));

    // Whether a file is a video shows only when it is opened.
    auto box = answerMessageBox();
    QVERIFY(dragAndDrop(form()->label, fileUrl(junk)).dropped);
    QCoreApplication::sendPostedEvents();
    verifyCannotOpen(*box, form());
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!form()->saveButton->isEnabled());
    QCOMPARE(windowRun.videoPath, junk);

    // The window takes the next drop as before.
    QVERIFY(dragAndDrop(form()->label, fileUrl(first)).dropped);
    QCoreApplication::sendPostedEvents();
    QVERIFY(window->isRunning());
}

void TestDrop::dropDuringRunIsIgnored()
{
    QVERIFY(startThroughDialog(form(), first));
    QVERIFY(window->isRunning());

    const DragResult during = dragAndDrop(form()->label, fileUrl(second));
    QVERIFY(!during.entered);
    QVERIFY(!during.dropped);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(windowRun.videoPath, first);
    QCOMPARE(outputWidth(windowRun.run->source()), 64);

    // The first video runs to its end undisturbed.
    QTRY_COMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QCOMPARE(analysisState.frameCount, double(firstCount));
    QCOMPARE(window->strips()->videoPath(), first);

    // A stopped run takes drops again.
    QVERIFY(dragAndDrop(form()->label, fileUrl(second)).dropped);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(windowRun.videoPath, second);
    QVERIFY(window->isRunning());
}

void TestDrop::dragsWithoutLocalFileAreRefused_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::newRow("web address") << QList<QUrl>{QUrl(QStringLiteral("https://example.org/a.mkv"))}
                                 << QString();
    QTest::newRow("directory") << QList<QUrl>{QUrl::fromLocalFile(QDir::tempPath())} << QString();
    QTest::newRow("plain text") << QList<QUrl>() << QStringLiteral("/tmp/first.mkv");
}

void TestDrop::dragsWithoutLocalFileAreRefused()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    const DragResult result = dragAndDrop(form()->label, urls, text);
    QVERIFY(!result.entered);
    QVERIFY(!result.dropped);
    QCoreApplication::sendPostedEvents();
    QVERIFY(!window->isRunning());
    QVERIFY(!windowRun.tickTimer);
    QVERIFY(windowRun.videoPath.isNull());
}

QTEST_MAIN(TestDrop)
#include "test_drop.moc"
