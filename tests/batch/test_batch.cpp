// reelmeter-batch from the outside: its files, messages and exit statuses,
// run without a display on videos made here.
#include "analysis/analysisstate.h"
#include "batch/batchjob.h"
#include "batch/colourcsv.h"
#include "batch/progress.h"
#include "batch/videoanalysis.h"
#include "batchprocess.h"
#include "testvideo.h"
#include "video/framesource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using batchprocess::run;

namespace {

const QSize pictureSize(66, 50);

// Four flat quadrants whose colours change with every picture, so that each
// of the eight measurements differs from picture to picture.
QImage fourQuadrants(int index)
{
    QImage image(pictureSize, QImage::Format_RGB32);
    const int halfW = pictureSize.width() / 2;
    const int halfH = pictureSize.height() / 2;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] =
                testvideo::paletteColour(index * 3 + (y < halfH ? 0 : 2) + (x < halfW ? 0 : 1));
    }
    return image;
}

QList<QImage> quadrantPictures(int count)
{
    QList<QImage> pictures;
    for (int i = 0; i < count; ++i)
        pictures << fourQuadrants(i);
    return pictures;
}

// A first run over the pictures themselves: what the tool must find after
// decoding them from a lossless file.
AnalysisState referenceAnalysis(const QList<QImage> &pictures)
{
    AnalysisState state;
    for (const QImage &picture : pictures)
        recordPicture(state, picture);
    return state;
}

bool writePictures(const QString &path, const QList<QImage> &pictures)
{
    QString error;
    const bool written = testvideo::writeVideo(path, testvideo::pictureList(pictures), &error);
    if (!written)
        qWarning("%s", qPrintable(error));
    return written;
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files, QDir::Name);
}

QStringList stripNames(const QString &video, const QList<StripKind> &kinds)
{
    QStringList names;
    for (StripKind kind : kinds)
        names << video + stripSuffix(kind);
    return names;
}

QImage readBack(const QString &fileName)
{
    return QImage(fileName).convertToFormat(QImage::Format_RGB32);
}

constexpr const char *notAVideo = "This is not a video or image file.";

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void allStripsAndCsvHoldTheHistories();
    void severalVideosWithOneUnreadable_data();
    void severalVideosWithOneUnreadable();
    void failedOpensSayWhy();
    void namesAreLocalFiles_data();
    void namesAreLocalFiles();
    void urlsAreNotFetched();
    void largerPicturesThanTheLimitAreRefused();
    void outputDirectoryTakesTheFileName();
    void sameFileNamesUnderOneDirectoryAreRefused();
    void unwritableFileIsNamedAndOthersWritten();
    void usageErrors_data();
    void usageErrors();
    void runsWithoutDisplay();

    void stripListNames_data();
    void stripListNames();
    void progressFraction_data();
    void progressFraction();
    void progressTexts();

private:
    QTemporaryDir dir;
    QList<QImage> pictures;
    QString video; // pictures as a lossless file
};

void TestBatch::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(!batchprocess::withoutDisplay().contains(QStringLiteral("QT_QPA_PLATFORM")));
    pictures = quadrantPictures(41);
    video = dir.filePath(QStringLiteral("source/quadrants.mkv"));
    QVERIFY(QDir().mkpath(QFileInfo(video).path()));
    QVERIFY(writePictures(video, pictures));
}

void TestBatch::allStripsAndCsvHoldTheHistories()
{
    const QString out = dir.filePath(QStringLiteral("all"));
    const auto result =
        run({QStringLiteral("--strips"), QStringLiteral("all"), QStringLiteral("--csv"),
             QStringLiteral("-q"), QStringLiteral("-o"), out, video});
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);

    const QString base = QStringLiteral("quadrants.mkv");
    const QStringList expectedFiles = QStringList{base + QStringLiteral("-averageDisplay.bmp"),
                                                  base + QStringLiteral("-averageQuadDisplay.bmp"),
                                                  base + QStringLiteral("-brightnessDisplay.bmp"),
                                                  base + QStringLiteral("-colours.csv"),
                                                  base + QStringLiteral("-differenceDisplay.bmp"),
                                                  base + QStringLiteral("-moodDisplay.bmp")};
    QCOMPARE(filesIn(out), expectedFiles);

    const AnalysisState expected = referenceAnalysis(pictures);
    const QList<std::pair<QString, const Strip *>> strips = {
        {QStringLiteral("-averageDisplay.bmp"), &expected.strips.average},
        {QStringLiteral("-averageQuadDisplay.bmp"), &expected.strips.quadrant},
        {QStringLiteral("-brightnessDisplay.bmp"), &expected.strips.brightness},
        {QStringLiteral("-differenceDisplay.bmp"), &expected.strips.difference},
        {QStringLiteral("-moodDisplay.bmp"), &expected.strips.mood}};
    for (const auto &[suffix, strip] : strips) {
        const QImage written = readBack(QDir(out).filePath(base + suffix));
        QCOMPARE(written.size(), QSize(int(pictures.size()), strip->height()));
        if (written != strip->image()) {
            written.save(QDir(out).filePath(QStringLiteral("wrong") + suffix));
            QFAIL(qPrintable(suffix + QStringLiteral(" differs from the histories")));
        }
    }
    // The top-left quadrant is flat: its column is the picture's colour itself.
    const QImage quadrant = readBack(QDir(out).filePath(base + "-averageQuadDisplay.bmp"));
    for (int i = 0; i < pictures.size(); ++i)
        QCOMPARE(quadrant.pixel(i, 0), pictures[i].pixel(0, 0));

    QFile csvFile(QDir(out).filePath(base + QStringLiteral("-colours.csv")));
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csvFile.readAll().split('\n');
    QCOMPARE(lines.size(), pictures.size() + 2); // header, rows, empty after the last newline
    QCOMPARE(lines.first(), QByteArray("picture,time,average_red,average_green,average_blue,"
                                       "topleft_red,topleft_green,topleft_blue,"
                                       "topright_red,topright_green,topright_blue,"
                                       "bottomleft_red,bottomleft_green,bottomleft_blue,"
                                       "bottomright_red,bottomright_green,bottomright_blue,"
                                       "brightness_red,brightness_green,brightness_blue,"
                                       "difference_red,difference_green,difference_blue,"
                                       "mood_red,mood_green,mood_blue"));
    QVERIFY(lines.last().isEmpty());

    const auto histories = historiesInOrder(expected);
    for (int i = 0; i < pictures.size(); ++i) {
        const QList<QByteArray> fields = lines[i + 1].split(',');
        QCOMPARE(fields.size(), 26);
        QCOMPARE(fields[0].toInt(), i + 1);
        // 25 pictures a second from 0.
        QVERIFY2(qAbs(fields[1].toDouble() - i / 25.0) < 1e-6, fields[1].constData());
        for (int h = 0; h < 8; ++h) {
            const QColor colour = (*histories[h])[i];
            const QList<int> channels = {fields[2 + 3 * h].toInt(), fields[3 + 3 * h].toInt(),
                                         fields[4 + 3 * h].toInt()};
            QCOMPARE(channels, (QList<int>{colour.red(), colour.green(), colour.blue()}));
        }
    }
}

void TestBatch::severalVideosWithOneUnreadable_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addRow("one at a time") << QStringList();
    QTest::addRow("two jobs") << QStringList{QStringLiteral("-j"), QStringLiteral("2")};
    QTest::addRow("quiet, three jobs")
        << QStringList{QStringLiteral("--quiet"), QStringLiteral("--jobs=3")};
}

void TestBatch::severalVideosWithOneUnreadable()
{
    QFETCH(QStringList, options);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString first = work.filePath(QStringLiteral("first.mkv"));
    const QString broken = work.filePath(QStringLiteral("broken.mkv"));
    const QString last = work.filePath(QStringLiteral("last.avi"));
    const QList<QImage> lastPictures = quadrantPictures(9);
    QVERIFY(QFile::copy(video, first));
    QVERIFY(writePictures(last, lastPictures));
    QFile garbage(broken);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();

    const auto result = run(options + QStringList{first, broken, last});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);

    const QString error = QStringLiteral("reelmeter-batch: ") + broken + QStringLiteral(": ") +
                          QLatin1String(notAVideo);
    QStringList expectedLines = {error};
    if (!options.contains(QStringLiteral("--quiet"))) {
        // Not a terminal: one line for each finished video.
        expectedLines << first + QStringLiteral(": 41 pictures in ")
                      << last + QStringLiteral(": 9 pictures in ");
    }
    QCOMPARE(result.errorLines.size(), expectedLines.size());
    for (const QString &expectedLine : expectedLines) {
        const bool found =
            std::any_of(result.errorLines.begin(), result.errorLines.end(),
                        [&](const QString &line) { return line.startsWith(expectedLine); });
        QVERIFY2(found, qPrintable(expectedLine + QStringLiteral(" missing in:\n") +
                                   result.errorLines.join(QLatin1Char('\n'))));
    }

    QStringList expectedFiles =
        QStringList{QStringLiteral("broken.mkv")} +
        stripNames(QStringLiteral("first.mkv"), savedStripKinds()) +
        stripNames(QStringLiteral("last.avi"), savedStripKinds()) +
        QStringList{QStringLiteral("first.mkv"), QStringLiteral("last.avi")};
    expectedFiles.sort();
    QCOMPARE(filesIn(work.path()), expectedFiles);
    const AnalysisState expectedLast = referenceAnalysis(lastPictures);
    QCOMPARE(readBack(last + QStringLiteral("-averageQuadDisplay.bmp")),
             expectedLast.strips.quadrant.image());
    QCOMPARE(readBack(first + QStringLiteral("-brightnessDisplay.bmp")),
             referenceAnalysis(pictures).strips.brightness.image());
}

void TestBatch::failedOpensSayWhy()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString missing = work.filePath(QStringLiteral("missing.mkv"));
    const QString folder = work.filePath(QStringLiteral("folder.mkv"));
    const QString tone = work.filePath(QStringLiteral("tone.mka"));
    const QString text = work.filePath(QStringLiteral("notes.mkv"));
    const QString locked = work.filePath(QStringLiteral("locked.mkv"));
    QVERIFY(QDir().mkpath(folder));
    testvideo::MediaFile audioOnly;
    audioOnly.streams = {testvideo::AudioStream{}};
    QVERIFY(testvideo::writeMedia(tone, audioOnly));
    QFile notes(text);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a video at all\n") > 0);
    notes.close();
    QVERIFY(QFile::copy(video, locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    // Permissions do not stop root: then there is no unreadable file to try.
    const bool lockedOut = !QFile(locked).open(QIODevice::ReadOnly);

    QStringList videos{missing, folder, tone, text};
    if (lockedOut)
        videos << locked;
    const auto result = run(QStringList{QStringLiteral("-q")} + videos);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errorLines.size(), videos.size());
    QSet<QString> reasons;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const QString prefix =
            QStringLiteral("reelmeter-batch: ") + videos[i] + QStringLiteral(": ");
        QVERIFY2(result.errorLines[i].startsWith(prefix), qPrintable(result.errorLines[i]));
        reasons << result.errorLines[i].mid(prefix.size());
    }
    QCOMPARE(reasons.size(), videos.size());
    QCOMPARE(result.errorLines[0].mid(result.errorLines[0].lastIndexOf(QLatin1String(": ")) + 2),
             QStringLiteral("No such file or directory."));
    QVERIFY(result.errorLines[3].contains(QLatin1String(notAVideo)));
}

void TestBatch::namesAreLocalFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("decoy"); // what the name would lead FFmpeg to instead
    QTest::addRow("pipe:0") << "pipe:0"
                            << "";
    QTest::addRow("concat of two files") << "concat:a.mkv|b.mkv"
                                         << "a.mkv";
    QTest::addRow("numbered image name") << "frame%03d.png"
                                         << "frame001.png";
    QTest::addRow("numbered name, nothing numbered") << "shot%d.png"
                                                     << "";
}

void TestBatch::namesAreLocalFiles()
{
    QFETCH(QString, name);
    QFETCH(QString, decoy);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const bool image = name.endsWith(QLatin1String(".png"));
    const QList<QImage> named = image ? quadrantPictures(1) : pictures;
    if (image)
        QVERIFY(named.first().save(work.filePath(name), "PNG"));
    else
        QVERIFY(QFile::copy(video, work.filePath(name)));
    if (!decoy.isEmpty()) {
        const QList<QImage> other = {fourQuadrants(7)};
        QVERIFY(image ? other.first().save(work.filePath(decoy), "PNG")
                      : writePictures(work.filePath(decoy), other));
        if (!image)
            QVERIFY(QFile::copy(work.filePath(decoy), work.filePath(QStringLiteral("b.mkv"))));
    }

    // Relative, as typed in the directory; stdin is an open pipe that never ends.
    const auto result = run({QStringLiteral("-q"), name}, work.path());
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(readBack(work.filePath(name + QStringLiteral("-averageQuadDisplay.bmp"))),
             referenceAnalysis(named).strips.quadrant.image());
}

void TestBatch::urlsAreNotFetched()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("http://127.0.0.1:%1/x.mkv").arg(server.serverPort());
    const auto result = run({QStringLiteral("-q"), url});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errorLines, QStringList{QStringLiteral("reelmeter-batch: ") + url +
                                            QStringLiteral(": No such file or directory.")});
    // A request would have been queued by the system while the tool ran.
    QVERIFY(!server.waitForNewConnection(0));
}

void TestBatch::largerPicturesThanTheLimitAreRefused()
{
    const int pixels = pictureSize.width() * pictureSize.height();
    const auto refused = run(
        {QStringLiteral("-q"), QStringLiteral("--max-pixels"), QString::number(pixels - 1), video});
    QVERIFY(refused.finished);
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.errorLines,
             QStringList{QStringLiteral("reelmeter-batch: %1: Picture 66x50 is larger than the "
                                        "limit of %2 pixels.")
                             .arg(video)
                             .arg(pixels - 1)});

    QTemporaryDir out;
    QVERIFY(out.isValid());
    const auto read = run({QStringLiteral("-q"), QStringLiteral("-o"), out.path(),
                           QStringLiteral("--max-pixels"), QString::number(pixels), video});
    QVERIFY(read.finished);
    QCOMPARE(read.exitCode, 0);
}

void TestBatch::outputDirectoryTakesTheFileName()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString copy = work.filePath(QStringLiteral("input/film.mkv"));
    QVERIFY(QDir().mkpath(QFileInfo(copy).path()));
    QVERIFY(QFile::copy(video, copy));
    // Relative to the working directory, and made when missing.
    const auto result = run({QStringLiteral("--output-dir"), QStringLiteral("out/strips"),
                             QStringLiteral("--csv"), QStringLiteral("input/film.mkv")},
                            work.path());
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesIn(work.filePath(QStringLiteral("input"))), QStringList{"film.mkv"});
    QStringList expected = stripNames(QStringLiteral("film.mkv"), savedStripKinds());
    expected << QStringLiteral("film.mkv-colours.csv");
    expected.sort();
    QCOMPARE(filesIn(work.filePath(QStringLiteral("out/strips"))), expected);
    QCOMPARE(readBack(work.filePath(QStringLiteral("out/strips/film.mkv-averageDisplay.bmp"))),
             referenceAnalysis(pictures).strips.average.image());
}

void TestBatch::sameFileNamesUnderOneDirectoryAreRefused()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    for (const QString &name : {QStringLiteral("a/film.mkv"), QStringLiteral("b/film.mkv")}) {
        QVERIFY(QDir().mkpath(work.filePath(QFileInfo(name).path())));
        QVERIFY(QFile::copy(video, work.filePath(name)));
    }
    const auto refused = run({QStringLiteral("-o"), QStringLiteral("out"),
                              QStringLiteral("a/film.mkv"), QStringLiteral("b/film.mkv")},
                             work.path());
    QVERIFY(refused.finished);
    QCOMPARE(refused.exitCode, 2);
    QVERIFY(!refused.errorLines.isEmpty());
    QVERIFY2(refused.errorLines.first().contains(work.filePath(QStringLiteral("a/film.mkv"))) &&
                 refused.errorLines.first().contains(work.filePath(QStringLiteral("b/film.mkv"))),
             qPrintable(refused.errorLines.first()));
    QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("out"))));

    // One file named twice writes the same bytes twice: nothing is lost.
    const auto twice = run({QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("out"),
                            QStringLiteral("a/film.mkv"), QStringLiteral("./a/../a/film.mkv")},
                           work.path());
    QVERIFY(twice.finished);
    QCOMPARE(twice.exitCode, 0);
    QCOMPARE(filesIn(work.filePath(QStringLiteral("out"))).size(), savedStripKinds().size());
}

void TestBatch::unwritableFileIsNamedAndOthersWritten()
{
    QTemporaryDir out;
    QVERIFY(out.isValid());
    // A directory where the quadrant strip should go cannot be replaced by a file.
    const QString blocked = out.filePath(QStringLiteral("quadrants.mkv-averageQuadDisplay.bmp"));
    QVERIFY(QDir().mkpath(blocked));
    const auto result = run({QStringLiteral("-q"), QStringLiteral("-o"), out.path(), video});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errorLines, QStringList{QStringLiteral("reelmeter-batch: ") + blocked +
                                            QStringLiteral(": This file could not be written.")});
    QVERIFY(QFileInfo(blocked).isDir());
    QCOMPARE(filesIn(out.path()),
             (QStringList{QStringLiteral("quadrants.mkv-averageDisplay.bmp"),
                          QStringLiteral("quadrants.mkv-brightnessDisplay.bmp")}));
}

void TestBatch::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString input = QStringLiteral("quadrants.mkv");
    QTest::addRow("no video") << QStringList{QStringLiteral("--csv")};
    QTest::addRow("unknown strip")
        << QStringList{QStringLiteral("--strips=average,rainbow"), input};
    QTest::addRow("empty strip list") << QStringList{QStringLiteral("--strips="), input};
    QTest::addRow("strip list with a gap")
        << QStringList{QStringLiteral("--strips"), QStringLiteral("average,,mood"), input};
    QTest::addRow("no jobs") << QStringList{QStringLiteral("-j"), QStringLiteral("0"), input};
    QTest::addRow("jobs not a number")
        << QStringList{QStringLiteral("--jobs"), QStringLiteral("many"), input};
    QTest::addRow("pixel limit 0")
        << QStringList{QStringLiteral("--max-pixels"), QStringLiteral("0"), input};
    QTest::addRow("pixel limit not a number")
        << QStringList{QStringLiteral("--max-pixels=8k"), input};
    QTest::addRow("unknown option") << QStringList{QStringLiteral("--fast"), input};
    QTest::addRow("option without its value") << QStringList{input, QStringLiteral("--strips")};
}

void TestBatch::usageErrors()
{
    QFETCH(QStringList, arguments);
    const QString source = QFileInfo(video).path();
    const QStringList before = filesIn(source);
    const auto result = run(arguments, source);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(!result.errorLines.isEmpty());
    QVERIFY2(result.errorLines.first().startsWith(QStringLiteral("reelmeter-batch: ")),
             qPrintable(result.errorLines.first()));
    QCOMPARE(filesIn(source), before);
}

void TestBatch::runsWithoutDisplay()
{
    const QProcessEnvironment environment = batchprocess::withoutDisplay();
    QVERIFY(!environment.contains(QStringLiteral("DISPLAY")));
    QVERIFY(!environment.contains(QStringLiteral("WAYLAND_DISPLAY")));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const auto result = run({QStringLiteral("-o"), out.path(), video});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesIn(out.path()), stripNames(QStringLiteral("quadrants.mkv"), savedStripKinds()));
}

void TestBatch::stripListNames_data()
{
    using Kinds = QList<StripKind>;
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Kinds>("kinds");
    QTest::addRow("all") << "all" << true
                         << Kinds{StripKind::Average, StripKind::Quadrant, StripKind::Brightness,
                                  StripKind::Difference, StripKind::Mood};
    QTest::addRow("order kept, repeats once")
        << "mood,average,mood" << true << Kinds{StripKind::Mood, StripKind::Average};
    QTest::addRow("all after one")
        << "difference,all" << true
        << Kinds{StripKind::Difference, StripKind::Average, StripKind::Quadrant,
                 StripKind::Brightness, StripKind::Mood};
    QTest::addRow("empty") << "" << false << Kinds{};
    QTest::addRow("unknown") << "brightness,colour" << false << Kinds{};
    QTest::addRow("capitals") << "Average" << false << Kinds{};
}

void TestBatch::stripListNames()
{
    QFETCH(QString, list);
    QFETCH(bool, valid);
    QFETCH(QList<StripKind>, kinds);
    const auto parsed = parseStripKinds(list);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QVERIFY(*parsed == kinds);
}

void TestBatch::progressFraction_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("duration");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<double>("fraction");
    QTest::addRow("from the timestamps") << 15.0 << 60.0 << qint64(900) << qint64(1000) << 0.25;
    QTest::addRow("unknown duration: read position")
        << 15.0 << -1.0 << qint64(300) << qint64(1200) << 0.25;
    QTest::addRow("no timestamp: read position")
        << -1.0 << 60.0 << qint64(600) << qint64(1200) << 0.5;
    QTest::addRow("nothing known") << -1.0 << -1.0 << qint64(-1) << qint64(-1) << -1.0;
    QTest::addRow("pipe of unknown size") << 3.0 << -1.0 << qint64(500) << qint64(-1) << -1.0;
    QTest::addRow("last picture past the duration")
        << 61.0 << 60.0 << qint64(0) << qint64(10) << 1.0;
}

void TestBatch::progressFraction()
{
    QFETCH(double, time);
    QFETCH(double, duration);
    QFETCH(qint64, position);
    QFETCH(qint64, size);
    QFETCH(double, fraction);
    QCOMPARE(::progressFraction(time, duration, position, size), fraction);
}

void TestBatch::progressTexts()
{
    QCOMPARE(formatDuration(0), QStringLiteral("0:00"));
    QCOMPARE(formatDuration(65.9), QStringLiteral("1:05"));
    QCOMPARE(formatDuration(3723), QStringLiteral("1:02:03"));
    QCOMPARE(formatDuration(-4), QStringLiteral("0:00"));

    ReadProgress progress;
    progress.pictures = 300;
    progress.fraction = 0.25;
    QCOMPARE(progressLine(QStringLiteral("film.mkv"), progress, 4.0),
             QStringLiteral("film.mkv  25%  300 pictures  75.0 pictures/s  0:12 left"));
    progress.fraction = -1;
    QCOMPARE(progressLine(QStringLiteral("film.mkv"), progress, 4.0),
             QStringLiteral("film.mkv  ?%  300 pictures  75.0 pictures/s"));
    QCOMPARE(progressLine(QStringLiteral("film.mkv"), ReadProgress(), 0),
             QStringLiteral("film.mkv  ?%  0 pictures"));
    QCOMPARE(finishedLine(QStringLiteral("film.mkv"), 1500, 6.0),
             QStringLiteral("film.mkv: 1500 pictures in 0:06, 250.0 pictures/s"));
}

QTEST_GUILESS_MAIN(TestBatch)
#include "test_batch.moc"
