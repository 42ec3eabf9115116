// Saving the strips: names, sizes, exact pixels, failures reported, old files safe.
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "export/stripexport.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace guidriver;

namespace {

const QStringList suffixes = {QStringLiteral("-averageDisplay.bmp"),
                              QStringLiteral("-averageQuadDisplay.bmp"),
                              QStringLiteral("-brightnessDisplay.bmp")};

QRgb colourOf(int picture)
{
    return testvideo::paletteColour(picture * 7);
}

// Every pixel of column x in rows [top, top + rows) is colour.
bool columnIs(const QImage &image, int x, int top, int rows, QRgb colour)
{
    for (int y = top; y < top + rows; ++y)
        if ((image.pixel(x, y) | 0xff000000u) != colour)
            return false;
    return true;
}

// Limits the size of any file this process writes while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};

} // namespace

class TestSave : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savedFilesHoldTheStrips();
    void saveDuringRunGoesOn();
    void unwritableFilesAreNamedInOneBox();
    void existingFileReplacedAndKeptWholeOnFailure();
    void cancelledStartKeepsEarlierVideosName();
    void nothingMeasuredWritesNothing();

private:
    MainWindowForm *form() const { return window->form(); }
    void runToEnd(const QString &path);
    QString makeVideo(const QString &name, int pictures);

    QTemporaryDir dir;
    QString video;
    std::unique_ptr<MainWindow> window;
};

QString TestSave::makeVideo(const QString &name, int pictures)
{
    const QString path = dir.filePath(name);
    QList<QRgb> colours;
    for (int i = 0; i < pictures; ++i)
        colours << colourOf(i);
    QString error;
    if (!testvideo::writeVideo(path, testvideo::uniformColours({32, 24}, colours), &error))
        qWarning() << error;
    return path;
}

void TestSave::initTestCase()
{
    video = makeVideo(QStringLiteral("clip.mkv"), 250);
    QVERIFY(QFile::exists(video));
}

void TestSave::init()
{
    window = openFreshWindow();
}

void TestSave::cleanup()
{
    closeWindow(window);
}

void TestSave::runToEnd(const QString &path)
{
    QVERIFY(startThroughDialog(form(), path));
    QTRY_COMPARE_WITH_TIMEOUT(form()->pushButton_2->text(), QStringLiteral("Start Analysis"),
                              60000);
}

void TestSave::savedFilesHoldTheStrips()
{
    runToEnd(video);
    QCOMPARE(analysisState.frameCount, 250.0);
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);

    const int heights[] = {20, 40, 20};
    for (int k = 0; k < 3; ++k) {
        const QString name = video + suffixes[k];
        QImage saved(name, "BMP");
        QVERIFY2(!saved.isNull(), qPrintable(name));
        QCOMPARE(saved.size(), QSize(250, heights[k]));
    }

    const QImage average(video + suffixes[0]);
    const QImage quadrants(video + suffixes[1]);
    const QImage brightness(video + suffixes[2]);
    for (int i = 0; i < 250; ++i) {
        // Uniform pictures: the average is the colour written.
        QVERIFY2(columnIs(average, i, 0, 20, colourOf(i)), qPrintable(QString::number(i)));
        for (int q = 0; q < 4; ++q)
            QVERIFY(
                columnIs(quadrants, i, q * 10, 10, analysisState.quadrantHistories[q][i].rgb()));
        QVERIFY(columnIs(brightness, i, 0, 20, analysisState.brightnessHistory[i].rgb()));
    }
    // Only those three: the difference and mood strips are not saved.
    QVERIFY(!QFile::exists(video + QStringLiteral("-differenceDisplay.bmp")));
    QVERIFY(!QFile::exists(video + QStringLiteral("-moodDisplay.bmp")));
}

void TestSave::saveDuringRunGoesOn()
{
    const QString path = makeVideo(QStringLiteral("during.mkv"), 120);
    QVERIFY(startThroughDialog(form(), path));
    QTRY_VERIFY(analysisState.frameCount >= 5);
    QVERIFY(form()->pushButton_2->text() == QStringLiteral("Stop Analysis"));

    const int drawnSoFar = window->strips()->strips().average.width();
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QCOMPARE(QImage(path + suffixes[0]).width(), drawnSoFar);
    QCOMPARE(QImage(path + suffixes[1]).width(), drawnSoFar);

    QTRY_COMPARE_WITH_TIMEOUT(form()->pushButton_2->text(), QStringLiteral("Start Analysis"),
                              60000);
    QCOMPARE(analysisState.frameCount, 120.0);
}

void TestSave::unwritableFilesAreNamedInOneBox()
{
    const QString path = makeVideo(QStringLiteral("blocked.mkv"), 6);
    runToEnd(path);
    // Directories where two of the files should go: no write can replace them.
    QVERIFY(QDir().mkpath(path + suffixes[0]));
    QVERIFY(QDir().mkpath(path + suffixes[2]));

    auto box = answerMessageBox();
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QVERIFY(box->answered);
    QCOMPARE(box->title, QStringLiteral("Error"));
    QCOMPARE(box->icon, QMessageBox::Critical);
    // Each with the reason it failed.
    QVERIFY(box->text.contains(path + suffixes[0] + QStringLiteral(" (Is a directory.)")));
    QVERIFY(box->text.contains(path + suffixes[2]));
    QVERIFY(!box->text.contains(path + suffixes[1]));
    // The one that could be written was.
    QCOMPARE(QImage(path + suffixes[1]).size(), QSize(6, 40));
    // And the window carries on.
    QVERIFY(form()->saveButton->isEnabled());
    runToEnd(video);
    QCOMPARE(analysisState.frameCount, 250.0);
}

void TestSave::existingFileReplacedAndKeptWholeOnFailure()
{
    const QString path = makeVideo(QStringLiteral("again.mkv"), 4);
    runToEnd(path);
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QCOMPARE(QImage(path + suffixes[0]).width(), 4);
    QFile first(path + suffixes[1]);
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray goodBytes = first.readAll();
    first.close();

    // A longer run's strips overwrite the old files.
    QFile::remove(path);
    QVERIFY(QFile::copy(dir.filePath(QStringLiteral("clip.mkv")), path));
    runToEnd(path);
    {
        // The writes now fail part way: 250 x 40 pixels do not fit in 8 KB.
        const FileSizeLimit limit(8192);
        auto box = answerMessageBox();
        QTest::mouseClick(form()->saveButton, Qt::LeftButton);
        QVERIFY(box->answered);
        QVERIFY(box->text.contains(path + suffixes[1] + QStringLiteral(" (File too large.)")));
    }
    QFile kept(path + suffixes[1]);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), goodBytes);
    // No temporary file, hidden or not, is left beside it.
    const QStringList left =
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(left.filter(QStringLiteral("again.mkv")).size(), 4);
    QCOMPARE(left.filter(QRegularExpression(QStringLiteral("^\\."))), QStringList());

    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QCOMPARE(QImage(path + suffixes[1]).width(), 250);
}

void TestSave::cancelledStartKeepsEarlierVideosName()
{
    const QString path = makeVideo(QStringLiteral("earlier.mkv"), 5);
    runToEnd(path);
    QVERIFY(startThroughDialog(form(), QString()));
    QVERIFY(windowRun.videoPath.isNull());

    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    for (const QString &suffix : suffixes) {
        QCOMPARE(QImage(path + suffix).width(), 5);
        QVERIFY(!QFile::exists(suffix));
    }

    // A failed open does not rename them either.
    const QString junk = dir.filePath(QStringLiteral("junk.mkv"));
    QVERIFY(writeNonVideo(junk));
    auto box = answerMessageBox();
    QVERIFY(startThroughDialog(form(), junk));
    QVERIFY(box->answered);
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QVERIFY(!QFile::exists(junk + suffixes[0]));
}

void TestSave::nothingMeasuredWritesNothing()
{
    StripSet empty;
    const QString base = dir.filePath(QStringLiteral("empty"));
    QVERIFY(writeStrips(empty, base, savedStripKinds()).isEmpty());
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("empty*")}).isEmpty());

    // In the window: a start that opened a video but drew nothing yet.
    const QString path = makeVideo(QStringLiteral("fresh.mkv"), 3);
    QVERIFY(startThroughDialog(form(), path));
    windowRun.tickTimer->stop();
    QTest::mouseClick(form()->saveButton, Qt::LeftButton);
    QVERIFY(!QFile::exists(path + suffixes[0]));
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestSave)
#include "test_save.moc"
