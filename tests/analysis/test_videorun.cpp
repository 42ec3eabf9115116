// The run engine itself, without the batch tool around it: the crop it
// finds or refuses, and the pictures each sampling picks.
#include "analysis/videorun.h"
#include "testvideo.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

using namespace testvideo;

class TestVideoRun : public QObject
{
    Q_OBJECT

private slots:
    void cropIsFoundOrRefused_data();
    void cropIsFoundOrRefused();
    void samplingPicksItsPictures_data();
    void samplingPicksItsPictures();

private:
    QTemporaryDir dir;
};

void TestVideoRun::cropIsFoundOrRefused_data()
{
    QTest::addColumn<QString>("crop");
    QTest::addColumn<QRect>("measured"); // null: refused
    QTest::addRow("auto, inside the bars") << QStringLiteral("auto") << QRect(0, 8, 64, 32);
    QTest::addRow("given, inside") << QStringLiteral("16:16:4:10") << QRect(4, 10, 16, 16);
    QTest::addRow("given, one column past the edge") << QStringLiteral("16:16:49:0") << QRect();
}

void TestVideoRun::cropIsFoundOrRefused()
{
    QFETCH(QString, crop);
    QFETCH(QRect, measured);
    // Letterboxed: black rows above and below a picture that changes.
    const QString path = dir.filePath(QStringLiteral("letterbox.mkv"));
    VideoStream video;
    video.pictureCount = 10;
    video.picture = [](int index) {
        QImage picture = uniformPicture({64, 48}, 0xff000000);
        QPainter(&picture).fillRect(0, 8, 64, 32, QColor(paletteColour(index)));
        return picture;
    };
    QString error;
    QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

    RunOptions options;
    options.crop = *parseCrop(crop);
    AnalysisState state;
    QString why;
    bool refused = false;
    const auto run = VideoRun::open(path, options, state, &why, &refused);
    if (measured.isNull()) {
        QVERIFY(!run);
        QVERIFY(refused);
        QVERIFY2(why.contains(QStringLiteral("49")), qPrintable(why));
        return;
    }
    QVERIFY2(run, qPrintable(why));
    QCOMPARE(run->runToEnd([](const ReadProgress &) { return true; }), VideoRun::Step::End);
    QCOMPARE(state.frameCount, 10);
    QCOMPARE(run->finish().crop, measured);
    // Inside the bars every picture is its own colour to the pixel.
    QCOMPARE(run->frame().size(), measured.size());
    QCOMPARE(run->frame().pixel(0, 0), paletteColour(9));
}

void TestVideoRun::samplingPicksItsPictures_data()
{
    QTest::addColumn<QString>("sampling");
    QTest::addColumn<int>("pictures");
    // 50 pictures at 25 a second, a key picture every 10.
    QTest::addRow("all") << QStringLiteral("all") << 50;
    QTest::addRow("key") << QStringLiteral("key") << 5;
    QTest::addRow("every 0.2 s") << QStringLiteral("0.2") << 10;
    QTest::addRow("every 0.5 s") << QStringLiteral("0.5") << 4;
    QTest::addRow("finer than the pictures") << QStringLiteral("0.01") << -1;
}

void TestVideoRun::samplingPicksItsPictures()
{
    QFETCH(QString, sampling);
    QFETCH(int, pictures);
    const QString path = dir.filePath(QStringLiteral("sampled.mkv"));
    if (!QFile::exists(path)) {
        VideoStream video = uniformColours({64, 48}, paletteColours(50), Codec::Mpeg4);
        video.gopSize = 10;
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));
    }
    RunOptions options;
    options.sampling = *parseSampling(sampling);
    AnalysisState state;
    QString why;
    const auto run = VideoRun::open(path, options, state, &why);
    QVERIFY2(run, qPrintable(why));
    int told = 0;
    ReadProgress last;
    const VideoRun::Step step = run->runToEnd([&](const ReadProgress &progress) {
        ++told;
        last = progress;
        return true;
    });
    if (pictures < 0) {
        QCOMPARE(step, VideoRun::Step::Refused);
        QVERIFY(!run->refusal().isEmpty());
        return;
    }
    QCOMPARE(step, VideoRun::Step::End);
    QCOMPARE(state.frameCount, pictures);
    QVERIFY(told >= 1);
    QVERIFY(last.finished);
    QCOMPARE(last.pictures, pictures);
    const RunResult result = run->finish();
    QCOMPARE(int(result.times.size()), pictures);
    // The span ends with the last measured picture's own interval.
    QCOMPARE(result.end, result.times.back() + 0.04);
}

QTEST_GUILESS_MAIN(TestVideoRun)
#include "test_videorun.moc"
