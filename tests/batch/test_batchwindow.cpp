// The window's save and reelmeter-batch write the same bytes for one video.
#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "batchprocess.h"
#include "export/stripexport.h"
#include "guidriver.h"
#include "testfiles.h"
#include "testvideo.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace guidriver;

namespace {

// Colours that change inside each picture and between pictures, so the
// quadrants, the bands of the mood and the difference all carry information.
QImage gradientPicture(QSize size, int index)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb((x * 4 + index * 9) % 256, (y * 5 + index * 13) % 256,
                          ((x + y) * 3 + index * 31) % 256);
    }
    return image;
}

} // namespace

class TestBatchWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void batchWritesWhatTheWindowSaves_data();
    void batchWritesWhatTheWindowSaves();

private:
    std::unique_ptr<MainWindow> window;
};

void TestBatchWindow::init()
{
    // The batch tool's output is that of the window's first run.
    window = openFreshWindow();
}

void TestBatchWindow::cleanup()
{
    closeWindow(window);
}

void TestBatchWindow::batchWritesWhatTheWindowSaves_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<int>("bFrames");
    QTest::addRow("lossless") << int(testvideo::Codec::Ffv1) << 0;
    // Reordered pictures, the last ones delivered by the drain at the end.
    QTest::addRow("MPEG-4 with B-frames") << int(testvideo::Codec::Mpeg4) << 2;
}

void TestBatchWindow::batchWritesWhatTheWindowSaves()
{
    QFETCH(int, codec);
    QFETCH(int, bFrames);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("film.avi"));
    testvideo::VideoStream stream;
    stream.codec = static_cast<testvideo::Codec>(codec);
    stream.pictureCount = 37;
    stream.maxBFrames = bFrames;
    stream.picture = [](int index) { return gradientPicture({80, 61}, index); };
    QString error;
    QVERIFY2(testvideo::writeVideo(video, stream, &error), qPrintable(error));
    const int pictures = testvideo::countPictures(video);
    QCOMPARE(pictures, stream.pictureCount);

    // The window: Start, pick the video, let it run to the end, Save.
    MainWindowForm *form = window->form();
    auto seen = answerFileDialog(video);
    QTest::mouseClick(form->pushButton_2, Qt::LeftButton);
    QVERIFY(seen->answered);
    QTRY_COMPARE_WITH_TIMEOUT(form->pushButton_2->text(), QStringLiteral("Start Analysis"), 60000);
    QCOMPARE(analysisState.frameCount, double(pictures));
    QVERIFY(form->saveButton->isEnabled());
    QTest::mouseClick(form->saveButton, Qt::LeftButton);

    QList<QByteArray> saved;
    for (StripKind kind : savedStripKinds()) {
        const QString fileName = video + stripSuffix(kind);
        saved << contentsOf(fileName);
        QVERIFY2(!saved.last().isEmpty(), qPrintable(fileName));
        QVERIFY(QFile::remove(fileName));
    }

    const auto result = batchprocess::run({QStringLiteral("--quiet"), video});
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);
    for (int i = 0; i < savedStripKinds().size(); ++i) {
        const QString fileName = video + stripSuffix(savedStripKinds()[i]);
        if (contentsOf(fileName) != saved[i]) {
            QFile window(fileName + QStringLiteral("-window.bmp"));
            if (window.open(QIODevice::WriteOnly))
                window.write(saved[i]);
            dir.setAutoRemove(false);
            QFAIL(qPrintable(fileName + QStringLiteral(" differs from what the window saved, ") +
                             window.fileName()));
        }
    }
    // The video, its strips and their record.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2 + savedStripKinds().size());
}

QTEST_MAIN(TestBatchWindow)
#include "test_batchwindow.moc"
