// Bad and odd files chosen in the window through its real controls: each run
// shows the error box or plays to the end, and leaves nothing open behind.
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/stripview.h"
#include "badmedia.h"
#include "guidriver.h"
#include "testvideo.h"
#include "video/framesource.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace guidriver;
using namespace testvideo;

namespace {

enum class Outcome { ErrorBox, PlaysToEnd };

const QString startText = QStringLiteral("Start Analysis");
const QString errorText =
    QStringLiteral("Error|This is not a video or image file.\nCould not initialize video.");
// Generous for a sanitizer build on a busy machine; a hang fails well inside it.
constexpr int runTimeoutMs = 60000;

// guidriver's answerer waits up to 10 s for one expected box; rows that must
// show none need a watcher that ends with the row and answers any box.
class ErrorBoxWatcher
{
public:
    ErrorBoxWatcher()
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        m_poll.start(10);
    }
    QStringList seen; // "title|text" of each box answered

private:
    QTimer m_poll;
};

int openDescriptorsOf(const QString &path)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString link = QFileInfo(fds.filePath(fd)).symLinkTarget();
        if (link == target || link == target + QLatin1String(" (deleted)"))
            ++count;
    }
    return count;
}

QByteArray encodedImage(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return bytes;
}

} // namespace

class TestRobustness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runShowsErrorBoxOrPlaysToEnd_data();
    void runShowsErrorBoxOrPlaysToEnd();
    void directoryChosenAsVideoShowsErrorBox();
    void fifoChosenAsVideoShowsErrorBoxWithoutWaiting();
    void fileChangedDuringRunEndsTheRun_data();
    void fileChangedDuringRunEndsTheRun();

private:
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void make(const QString &file, const VideoStream &video);
    void make(const QString &file, const QByteArray &bytes);
    // Chooses file through the toggle and the file dialog, then waits until
    // the toggle reads "Start Analysis" again.
    void runThroughWindow(const QString &file);
    // Columns in the histories and the strips agree with the count of pictures.
    void verifyColumnsConsistent();

    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

void TestRobustness::make(const QString &file, const VideoStream &video)
{
    QString error;
    QVERIFY2(writeVideo(file, video, &error), qPrintable(file + ": " + error));
}

void TestRobustness::make(const QString &file, const QByteArray &bytes)
{
    QVERIFY2(badmedia::writeBytes(file, bytes), qPrintable(file));
}

void TestRobustness::initTestCase()
{
    // Bad files are the point here; FFmpeg's complaints about them are noise.
    quietVideoLibraries(false);
    QVERIFY(dir.isValid());
    make(path("empty.mkv"), QByteArray());
    make(path("noise.bin"), badmedia::randomBytes(64 * 1024, 1));
    make(path("noise.jpg"), badmedia::randomBytes(16 * 1024, 2));

    // Sources for the cut copies: delayed pictures, index at the end for mp4.
    VideoStream reordered = uniformColours({64, 48}, paletteColours(40), Codec::Mpeg4);
    reordered.maxBFrames = 2;
    for (const char *name : {"whole.mkv", "whole.avi", "whole.mp4"}) {
        make(path(name), reordered);
        for (int percent : {10, 50, 90}) {
            const QString cut =
                path(name).replace(QLatin1String("whole"), QStringLiteral("cut%1").arg(percent));
            QVERIFY(badmedia::writeTruncated(path(name), cut, percent / 100.0));
        }
    }

    // Headers claiming sizes that no picture in the file has.
    QVERIFY(badmedia::writeY4m(path("claims16000.y4m"), {16000, 16000}, 2, 4096));
    QVERIFY(badmedia::writeY4m(path("claims100000.y4m"), {100000, 100000}, 2, 4096));
    const QByteArray png = encodedImage(uniformPicture({16, 16}, 0xff2080c0), "png");
    const QByteArray jpeg = encodedImage(uniformPicture({16, 16}, 0xff2080c0), "jpg");
    for (int side : {16000, 30000, 65535}) {
        const QByteArray bigPng = badmedia::withPngSize(png, {side, side});
        const QByteArray bigJpeg = badmedia::withJpegSize(jpeg, {side, side});
        QVERIFY(!bigPng.isEmpty() && !bigJpeg.isEmpty());
        make(path(qPrintable(QStringLiteral("claims%1.png").arg(side))), bigPng);
        make(path(qPrintable(QStringLiteral("claims%1.jpg").arg(side))), bigJpeg);
    }

    make(path("tiny1x1.mkv"), uniformColours({1, 1}, paletteColours(5)));
    make(path("tiny2x2.mkv"), uniformColours({2, 2}, paletteColours(5)));
    make(path("odd641x479.mkv"), uniformColours({641, 479}, paletteColours(3)));
    make(path("single.png"), png);
    make(path("single.jpg"), jpeg);

    QList<QImage> sizes;
    for (QSize size : {QSize(64, 48), QSize(32, 24), QSize(96, 72), QSize(64, 48)})
        sizes << uniformPicture(size, 0xff808080) << uniformPicture(size, 0xff808080);
    make(path("sizechange.avi"), pictureList(sizes, Codec::Mjpeg));

    VideoStream damaged = uniformColours({64, 48}, paletteColours(30), Codec::Mpeg4);
    damaged.damagedPackets = {12, 13, 14};
    make(path("damaged.avi"), damaged);
    // Nothing decodes while the stream information is read, so the pixel
    // format stays unknown.
    VideoStream allDamaged = uniformColours({64, 48}, paletteColours(10), Codec::Mpeg4);
    for (int i = 0; i < 10; ++i)
        allDamaged.damagedPackets << i;
    make(path("alldamaged.avi"), allDamaged);

    // A colour matrix code that names no matrix, straight from the bitstream.
    MediaFile plain;
    plain.format = "m4v";
    plain.streams.push_back(uniformColours({64, 48}, paletteColours(6), Codec::Mpeg4));
    QString written;
    QVERIFY2(writeMedia(path("matrix.m4v"), plain, &written), qPrintable(written));
    QFile m4v(path("matrix.m4v"));
    QVERIFY(m4v.open(QIODevice::ReadOnly));
    const QByteArray oddMatrix = badmedia::withMpeg4ColourMatrix(m4v.readAll(), 142);
    QVERIFY(!oddMatrix.isEmpty());
    make(path("oddmatrix.m4v"), oddMatrix);

    MediaFile audioOnly;
    audioOnly.streams.push_back(AudioStream{});
    QString error;
    QVERIFY2(writeMedia(path("audio.mkv"), audioOnly, &error), qPrintable(error));
    QVERIFY2(writeUndecodableVideo(path("undecodable.nut"), &error), qPrintable(error));
    make(path("decodable.nut"), uniformColours({64, 48}, paletteColours(6)));
    QVERIFY2(badmedia::writeUndecodableThenDecodable(path("undecodable-first.nut"),
                                                     path("decodable.nut"), &error),
             qPrintable(error));
    QCOMPARE(countVideoPackets(path("undecodable-first.nut")), 6);
}

void TestRobustness::init()
{
    window = openFreshWindow();
}

void TestRobustness::cleanup()
{
    closeWindow(window);
}

void TestRobustness::runThroughWindow(const QString &file)
{
    auto dialog = answerFileDialog(file);
    QTest::mouseClick(window->form()->pushButton_2, Qt::LeftButton);
    QVERIFY(dialog->answered);
    QTRY_COMPARE_WITH_TIMEOUT(window->form()->pushButton_2->text(), startText, runTimeoutMs);
}

void TestRobustness::verifyColumnsConsistent()
{
    const AnalysisState &state = analysisState;
    const qsizetype columns = qsizetype(state.frameCount);
    QCOMPARE(state.averageHistory.size(), columns);
    for (const ColourHistory &history : state.quadrantHistories)
        QCOMPARE(history.size(), columns);
    QCOMPARE(state.brightnessHistory.size(), columns);
    QCOMPARE(state.differenceHistory.size(), columns);
    QCOMPARE(state.moodHistory.size(), columns);
    if (columns == 0)
        return; // the strips stay those of the run before
    const StripSet &strips = window->strips()->strips();
    for (const Strip *strip :
         {&strips.average, &strips.quadrant, &strips.brightness, &strips.difference, &strips.mood})
        QCOMPARE(strip->width(), int(columns));
}

void TestRobustness::runShowsErrorBoxOrPlaysToEnd_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Outcome>("outcome");
    // Columns expected at the end of the run: exactly min when min == max.
    QTest::addColumn<int>("minColumns");
    QTest::addColumn<int>("maxColumns");
    // Whole-image averages of the columns, when the codec keeps colours exact.
    QTest::addColumn<QList<QRgb>>("averages");

    const auto error = [this](const char *row, const char *name) {
        QTest::newRow(row) << path(name) << Outcome::ErrorBox << 0 << 0 << QList<QRgb>();
    };
    const auto plays = [this](const char *row, const char *name, int min, int max,
                              const QList<QRgb> &averages = {}) {
        QTest::newRow(row) << path(name) << Outcome::PlaysToEnd << min << max << averages;
    };

    error("empty file", "empty.mkv");
    error("random bytes", "noise.bin");
    error("random bytes named as a JPEG", "noise.jpg");
    error("only audio", "audio.mkv");
    error("video without a decoder", "undecodable.nut");
    // The first video stream is the one read, even when a later one decodes.
    error("undecodable video before decodable video", "undecodable-first.nut");
    error("no packet decodes", "alldamaged.avi");

    for (const char *container : {"mkv", "avi", "mp4"}) {
        for (int percent : {10, 50, 90}) {
            const QByteArray row =
                QByteArray(container) + " cut at " + QByteArray::number(percent) + "%";
            const QByteArray name = "cut" + QByteArray::number(percent) + "." + container;
            const QString file = path(name.constData());
            // A cut file either cannot be opened or plays what survived of it.
            const int survived = countPictures(file);
            if (survived < 0)
                QTest::newRow(row.constData())
                    << file << Outcome::ErrorBox << 0 << 0 << QList<QRgb>();
            else
                QTest::newRow(row.constData())
                    << file << Outcome::PlaysToEnd << survived << survived << QList<QRgb>();
        }
    }

    // A claimed size beyond the picture limit (8192 x 8192) fails the open.
    error("claims 16000x16000, y4m", "claims16000.y4m");
    error("claims 16000x16000, png", "claims16000.png");
    error("claims 100000x100000, y4m", "claims100000.y4m");
    error("claims 30000x30000, png", "claims30000.png");
    error("claims 65535x65535, png", "claims65535.png");
    error("claims 16000x16000, jpeg", "claims16000.jpg");
    error("claims 30000x30000, jpeg", "claims30000.jpg");
    error("claims 65535x65535, jpeg", "claims65535.jpg");

    plays("1x1", "tiny1x1.mkv", 5, 5, paletteColours(5));
    plays("2x2", "tiny2x2.mkv", 5, 5, paletteColours(5));
    plays("641x479", "odd641x479.mkv", 3, 3, paletteColours(3));
    plays("single PNG picture", "single.png", 1, 1, {0xff2080c0});
    plays("single JPEG picture", "single.jpg", 1, 1);
    plays("size changes mid-stream", "sizechange.avi", 8, 8);
    plays("colour matrix code naming no matrix", "oddmatrix.m4v", 6, 6);
    // Damaged pictures may be dropped or concealed.
    plays("damaged packets in the middle", "damaged.avi", 30 - 3, 30);
}

void TestRobustness::runShowsErrorBoxOrPlaysToEnd()
{
    QFETCH(QString, file);
    QFETCH(Outcome, outcome);
    QFETCH(int, minColumns);
    QFETCH(int, maxColumns);
    QFETCH(QList<QRgb>, averages);
    QVERIFY2(QFileInfo::exists(file), qPrintable(file));

    ErrorBoxWatcher boxes;
    runThroughWindow(file);
    if (QTest::currentTestFailed())
        return;

    if (outcome == Outcome::ErrorBox) {
        QCOMPARE(boxes.seen, QStringList{errorText});
        QVERIFY(!windowRun.run);
        QCOMPARE(analysisState.frameCount, 0.0);
    } else {
        QCOMPARE(boxes.seen, QStringList());
        QVERIFY(!windowRun.tickTimer->isActive());
        const int columns = int(analysisState.frameCount);
        QVERIFY2(columns >= minColumns && columns <= maxColumns,
                 qPrintable(QStringLiteral("%1 columns").arg(columns)));
        verifyColumnsConsistent();
        if (!averages.isEmpty()) {
            QList<QRgb> seen;
            for (const QColor &colour : analysisState.averageHistory)
                seen << colour.rgb();
            QCOMPARE(seen, averages);
        }
    }

    window.reset();
    QCOMPARE(openDescriptorsOf(file), 0);
}

void TestRobustness::directoryChosenAsVideoShowsErrorBox()
{
    // The file dialog opens a directory instead of returning it, so the
    // directory comes in the way a chosen path does.
    const QString directory = path("folder.mkv");
    QVERIFY(QDir().mkpath(directory));
    ErrorBoxWatcher boxes;
    window->startRun(directory);
    QTRY_COMPARE(boxes.seen, QStringList{errorText});
    QCOMPARE(window->form()->pushButton_2->text(), startText);
    QVERIFY(!windowRun.run);
}

void TestRobustness::fifoChosenAsVideoShowsErrorBoxWithoutWaiting()
{
    const QString fifo = path("pipe.mkv");
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);

    // Opening a FIFO for reading blocks until a writer comes. Should the open
    // block, this writer releases it after a while, so the test fails instead
    // of hanging.
    std::atomic<bool> done{false};
    std::atomic<bool> released{false};
    std::thread writer([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done)
            return;
        // Succeeds only while a reader waits in its open.
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            released = true;
            ::close(fd);
        }
    });

    ErrorBoxWatcher boxes;
    runThroughWindow(fifo);
    done = true;
    writer.join();
    QVERIFY2(!released, "the open waited for a writer");
    QCOMPARE(boxes.seen, QStringList{errorText});
    QVERIFY(!windowRun.run);
}

void TestRobustness::fileChangedDuringRunEndsTheRun_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("allPictures");
    // Unlinked or renamed over, the open file keeps its contents.
    QTest::newRow("deleted") << "delete" << true;
    QTest::newRow("replaced by another file") << "replace" << true;
    // Changed in place, the rest of the read sees the change.
    QTest::newRow("truncated in place") << "truncate" << false;
    QTest::newRow("overwritten with noise in place") << "overwrite" << false;
}

void TestRobustness::fileChangedDuringRunEndsTheRun()
{
    QFETCH(QString, change);
    QFETCH(bool, allPictures);
    constexpr int pictures = 150;
    const QString file = path("changing.avi");
    const QString other = path("other.avi");
    QFile::remove(file);
    make(file, uniformColours({64, 48}, paletteColours(pictures), Codec::Mjpeg));
    make(other, uniformColours({32, 24}, paletteColours(10), Codec::Mjpeg));

    ErrorBoxWatcher boxes;
    auto dialog = answerFileDialog(file);
    QTest::mouseClick(window->form()->pushButton_2, Qt::LeftButton);
    QVERIFY(dialog->answered);
    QTRY_VERIFY(analysisState.frameCount >= 3);

    if (change == QLatin1String("delete")) {
        QVERIFY(QFile::remove(file));
    } else if (change == QLatin1String("replace")) {
        QVERIFY(::rename(QFile::encodeName(other).constData(),
                         QFile::encodeName(file).constData()) == 0);
    } else {
        QFile target(file);
        QVERIFY(target.open(QIODevice::ReadWrite));
        if (change == QLatin1String("truncate")) {
            QVERIFY(target.resize(target.size() / 2));
        } else {
            const QByteArray noise = badmedia::randomBytes(int(target.size()), 3);
            QCOMPARE(target.write(noise), noise.size());
        }
    }

    QTRY_COMPARE_WITH_TIMEOUT(window->form()->pushButton_2->text(), startText, runTimeoutMs);
    QCOMPARE(boxes.seen, QStringList());
    if (allPictures)
        QCOMPARE(analysisState.frameCount, double(pictures));
    else
        QVERIFY(analysisState.frameCount <= pictures);
    verifyColumnsConsistent();
    window.reset();
    QCOMPARE(openDescriptorsOf(file), 0);
}

QTEST_MAIN(TestRobustness)
#include "test_robustness.moc"
