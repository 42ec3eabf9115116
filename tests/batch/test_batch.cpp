// reelmeter-batch from the outside: its files, messages and exit statuses,
// run without a display on videos made here.
#include "analysis/analysisstate.h"
#include "analysis/poster.h"
#include "analysis/videorun.h"
#include "batch/batchjob.h"
#include "batch/progress.h"
#include "batchprocess.h"
#include "export/colourcsv.h"
#include "testfiles.h"
#include "testvideo.h"
#include "video/framesource.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <tuple>

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

// The files the tool writes for video: its strips and its record.
QStringList stripNames(const QString &video, const QList<StripKind> &kinds)
{
    QStringList names;
    for (StripKind kind : kinds)
        names << video + stripSuffix(kind);
    return names << video + recordSuffix();
}

QImage readBack(const QString &fileName)
{
    return QImage(fileName).convertToFormat(QImage::Format_RGB32);
}

// The times of the pictures a colours CSV lists.
QList<double> csvTimes(const QString &fileName)
{
    QFile csv(fileName);
    if (!csv.open(QIODevice::ReadOnly))
        return {};
    QList<double> times;
    for (const QByteArray &row : csv.readAll().trimmed().split('\n').mid(1))
        times << row.split(',')[1].toDouble();
    return times;
}

// Every file below directory, links not followed, with its bytes.
QMap<QString, QByteArray> treeOf(const QString &directory)
{
    QMap<QString, QByteArray> tree;
    QDirIterator files(directory, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        tree.insert(file, contentsOf(file));
    }
    return tree;
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
    void postersOfChosenSizeAndFormat();
    void axisAndTitleAroundPosters();
    void posterOptionIsAPresetLaterOptionsOverride();
    void jpegTooWideIsRefusedBeforeReading();
    void sampledPictures_data();
    void sampledPictures();
    void sampledPostersTakeTheColumnsMiddles();
    void shotsOfThreeFlatShots();
    void namesAreLocalFiles_data();
    void namesAreLocalFiles();
    void urlsAreNotFetched();
    void largerPicturesThanTheLimitAreRefused();
    void outputDirectoryTakesTheFileName();
    void sameFileNamesUnderOneDirectoryAreRefused();
    void unwritableFileIsNamedAndOthersWritten();
    void writeFailuresSayWhy_data();
    void writeFailuresSayWhy();
    void linksAreReplacedNotWrittenThrough();
    void videoThatWouldBeOverwrittenIsRefused_data();
    void videoThatWouldBeOverwrittenIsRefused();
    void controlCharactersInNamesAreShownEscaped();
    void cropEqualsAPreCroppedVideo_data();
    void cropEqualsAPreCroppedVideo();
    void autoCropFindsThePadding();
    void usageErrors_data();
    void usageErrors();
    void runsWithoutDisplay();
    void stripTooLargeForItsPicturesIsAFailure();

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
                                                  base + QStringLiteral("-framesDisplay.bmp"),
                                                  base + QStringLiteral("-moodDisplay.bmp"),
                                                  base + QStringLiteral("-paletteDisplay.bmp"),
                                                  base + QStringLiteral("-shotsDisplay.bmp"),
                                                  base + recordSuffix()};
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
                                       "mood_red,mood_green,mood_blue,L,a,b,chroma,hue"));
    QVERIFY(lines.last().isEmpty());

    const auto histories = historiesInOrder(expected);
    for (int i = 0; i < pictures.size(); ++i) {
        const QList<QByteArray> fields = lines[i + 1].split(',');
        QCOMPARE(fields.size(), 31);
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
                      << last + QStringLiteral(": 9 pictures in ")
                      << QStringLiteral("reelmeter-batch: 2 written, 0 skipped, 1 failed.");
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

void TestBatch::postersOfChosenSizeAndFormat()
{
    const QString out = dir.filePath(QStringLiteral("posters"));
    for (const QString &format : {QStringLiteral("png"), QStringLiteral("jpg")}) {
        const auto result =
            run({QStringLiteral("-q"), QStringLiteral("--strips"),
                 QStringLiteral("quadrant,frames"), QStringLiteral("--width"), QStringLiteral("7"),
                 QStringLiteral("--height"), QStringLiteral("9"), QStringLiteral("--format"),
                 format, QStringLiteral("-o"), out, video});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(readBack(QDir(out).filePath("quadrants.mkv-framesDisplay." + format)).size(),
                 QSize(7, 9));
    }
    // PNG is lossless: the poster of the pictures themselves, 25 a second.
    AnalysisState expected;
    expected.framesHeight = 9;
    for (const QImage &picture : pictures)
        recordPicture(expected, picture, double(expected.pictureTimes.size()) / 25);
    const std::vector<double> &times = expected.pictureTimes;
    const PictureSpan span{times, times.back() + 1.0 / 25};
    QCOMPARE(readBack(QDir(out).filePath("quadrants.mkv-averageQuadDisplay.png")),
             posterImage(expected.strips.quadrant, span, 7, 9));
    QCOMPARE(readBack(QDir(out).filePath("quadrants.mkv-framesDisplay.png")),
             posterImage(expected.strips.frames, span, 7, 9));
}

void TestBatch::posterOptionIsAPresetLaterOptionsOverride()
{
    const QString out = dir.filePath(QStringLiteral("preset"));
    const auto result = run({QStringLiteral("-q"), QStringLiteral("--height"), QStringLiteral("5"),
                             QStringLiteral("--poster"), QStringLiteral("--width"),
                             QStringLiteral("320"), QStringLiteral("-o"), out, video});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(QDir(out).entryList({QStringLiteral("*.png")}),
             (QStringList{QStringLiteral("quadrants.mkv-averageDisplay.png"),
                          QStringLiteral("quadrants.mkv-framesDisplay.png")}));
    // The preset's height replaces the one before it; the width after it stays.
    const QImage poster = readBack(QDir(out).filePath("quadrants.mkv-averageDisplay.png"));
    QCOMPARE(poster.width(), 320);
    QVERIFY2(poster.height() > 2160, "the axis and the title add rows");
    // A page replaces the preset's size: the whole picture is A2 at 300 dpi.
    const QString page = dir.filePath(QStringLiteral("page"));
    QCOMPARE(run({QStringLiteral("-q"), QStringLiteral("--poster"), QStringLiteral("--strips"),
                  QStringLiteral("average"), QStringLiteral("--page"), QStringLiteral("A2"),
                  QStringLiteral("-o"), page, video})
                 .exitCode,
             0);
    QImageReader::setAllocationLimit(0);
    const QImage a2 = readBack(QDir(page).filePath("quadrants.mkv-averageDisplay.png"));
    QCOMPARE(a2.size(), QSize(7016, 4961));
    QCOMPARE(a2.dotsPerMeterX(), 11811);
}

void TestBatch::axisAndTitleAroundPosters()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString tagged = work.filePath(QStringLiteral("tagged.mkv"));
    const QString failed =
        runFfmpeg({"-i", video, "-c", "copy", "-metadata", "title=Dawn"}, tagged);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const auto poster = [&](const QString &file, const QStringList &options) {
        const auto result =
            run(QStringList{QStringLiteral("-q"), QStringLiteral("--strips"),
                            QStringLiteral("average"), QStringLiteral("--width"),
                            QStringLiteral("300"), QStringLiteral("--format"),
                            QStringLiteral("png"), QStringLiteral("--report"), QStringLiteral("-"),
                            QStringLiteral("--skip-existing"), QStringLiteral("-o"),
                            work.filePath("out" + options.join('_'))} +
                options + QStringList{file});
        const QString base =
            work.filePath("out" + options.join('_') + '/' + QFileInfo(file).fileName());
        return std::pair(contentsOf(base + stripSuffix(StripKind::Average, "png")),
                         result.output.contains(QStringLiteral("\"skipped\"")));
    };
    const auto [plain, plainSkipped] = poster(video, {});
    const auto [axis, axisSkipped] = poster(video, {QStringLiteral("--axis")});
    QVERIFY(!plain.isEmpty() && !axis.isEmpty() && !plainSkipped && !axisSkipped);
    const QImage axisImage = QImage::fromData(axis);
    QCOMPARE(axisImage.width(), 300);
    QVERIFY(axisImage.height() > stripHeight);
    // The strip itself is untouched above its axis.
    QCOMPARE(axisImage.copy(0, 0, 300, stripHeight), QImage::fromData(plain));
    // auto: the title tag, else the file's name.
    QCOMPARE(poster(tagged, {QStringLiteral("--title"), QStringLiteral("auto")}).first,
             poster(tagged, {QStringLiteral("--title"), QStringLiteral("Dawn")}).first);
    QCOMPARE(poster(video, {QStringLiteral("--title"), QStringLiteral("auto")}).first,
             poster(video, {QStringLiteral("--title"), QStringLiteral("quadrants.mkv")}).first);
    QVERIFY(poster(tagged, {QStringLiteral("--title"), QStringLiteral("auto")}).first !=
            poster(tagged, {QStringLiteral("--title"), QStringLiteral("tagged.mkv")}).first);
    // A record of another title or axis does not vouch for these files.
    QVERIFY(poster(video, {QStringLiteral("--axis")}).second);
    const QString axisDir = work.filePath(QStringLiteral("out--axis"));
    const auto retitled =
        run({QStringLiteral("-q"), QStringLiteral("--strips"), QStringLiteral("average"),
             QStringLiteral("--width"), QStringLiteral("300"), QStringLiteral("--format"),
             QStringLiteral("png"), QStringLiteral("--skip-existing"), QStringLiteral("--report"),
             QStringLiteral("-"), QStringLiteral("--title"), QStringLiteral("x"),
             QStringLiteral("--axis"), QStringLiteral("-o"), axisDir, video});
    QVERIFY(retitled.output.contains(QStringLiteral("\"written\"")));
}

void TestBatch::jpegTooWideIsRefusedBeforeReading()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    // 70,000 tiny pictures: one column each is more than JPEG holds.
    const QString many = work.filePath(QStringLiteral("many.mkv"));
    const QString failed = runFfmpeg(
        {"-f", "lavfi", "-i", "color=c=teal:size=16x16:rate=100", "-t", "700", "-c:v", "mpeg4"},
        many);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const auto result = run({QStringLiteral("--format"), QStringLiteral("jpg"),
                             QStringLiteral("--report"), QStringLiteral("-"), many});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.errorLines.join('\n').contains(QStringLiteral("(65500); a width of 65500 or "
                                                                  "less (--width 65500) fits.")),
             qPrintable(result.errorLines.join('\n')));
    // Refused before reading: not a picture measured, no file written.
    QVERIFY(result.output.contains(QStringLiteral("\"pictures\":0")));
    QCOMPARE(filesIn(work.path()), QStringList{QStringLiteral("many.mkv")});
    // A width that fits is written.
    QCOMPARE(run({QStringLiteral("-q"), QStringLiteral("--format"), QStringLiteral("jpg"),
                  QStringLiteral("--width"), QStringLiteral("65500"), QStringLiteral("--height"),
                  QStringLiteral("2"), QStringLiteral("--strips"), QStringLiteral("average"), many})
                 .exitCode,
             0);
}

void TestBatch::sampledPictures_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QList<double>>("times"); // empty: those of the key packets
    QTest::newRow("key pictures") << "key"
                                  << "avi" << QList<double>();
    // MP4 lists its key pictures: the reader jumps from one to the next, and
    // B-pictures put their decoding times before their presentation times.
    QTest::newRow("key pictures, MP4 with B-pictures") << "key"
                                                       << "mp4" << QList<double>();
    // 25 pictures a second: the first at or after each multiple.
    QTest::newRow("every half second") << "0.5"
                                       << "avi" << QList<double>{0, 0.52, 1.0, 1.52};
    QTest::newRow("every 0.3 s") << "0.3"
                                 << "avi" << QList<double>{0, 0.32, 0.6, 0.92, 1.2, 1.52};
}

void TestBatch::sampledPictures()
{
    QFETCH(QString, sample);
    QFETCH(QString, container);
    QFETCH(QList<double>, times);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    // MPEG-4 with a key picture every 10: the others must not be measured.
    const QString mpeg4 = work.filePath(QStringLiteral("keys.") + container);
    if (container == QLatin1String("mp4")) {
        // Made by ffmpeg, whose muxer writes the B-pictures' times as players see them.
        const QString failed =
            runFfmpeg({"-i", video, "-c:v", "mpeg4", "-g", "10", "-bf", "2"}, mpeg4);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    } else {
        testvideo::VideoStream stream = testvideo::pictureList(pictures, testvideo::Codec::Mpeg4);
        stream.gopSize = 10;
        QVERIFY(testvideo::writeVideo(mpeg4, stream));
    }
    const auto result = run(
        {QStringLiteral("-q"), QStringLiteral("--csv"), QStringLiteral("--sample"), sample, mpeg4});
    QCOMPARE(result.exitCode, 0);
    const QList<double> measured = csvTimes(mpeg4 + csvSuffix());
    if (times.isEmpty()) {
        times = testvideo::keyVideoPacketTimes(mpeg4);
        QVERIFY(times.size() > 1 && times.size() < pictures.size());
    }
    QCOMPARE(measured.size(), times.size());
    for (qsizetype i = 0; i < measured.size(); ++i)
        QVERIFY2(qAbs(measured[i] - times[i]) < 1e-6, qPrintable(QString::number(measured[i])));
}

void TestBatch::sampledPostersTakeTheColumnsMiddles()
{
    const QString out = dir.filePath(QStringLiteral("middles"));
    const auto csvOf = [&](const QStringList &options) {
        const auto result = run(QStringList{QStringLiteral("-q"), QStringLiteral("--csv"),
                                            QStringLiteral("--strips"), QStringLiteral("average"),
                                            QStringLiteral("-o"), out} +
                                options + QStringList{video});
        return result.exitCode == 0 ? csvTimes(QDir(out).filePath("quadrants.mkv-colours.csv"))
                                    : QList<double>();
    };
    const QList<double> all = csvOf({});
    QCOMPARE(all.size(), pictures.size());
    const std::vector<double> times(all.begin(), all.end());
    const double end = times.back() + 1.0 / 25;
    // Columns longer than the interval (one picture each), then shorter (one
    // every third column): the pictures nearest the columns' middles.
    for (const auto &[columns, every, step] : {std::tuple(4, 0.4, 1), std::tuple(10, 0.5, 3)}) {
        QList<double> expected;
        for (int column = step / 2; column < columns; column += step)
            expected << times[size_t(nearestPicture(
                times, times.front() + (end - times.front()) * (column + 0.5) / columns))];
        const QList<double> sampled = csvOf({QStringLiteral("--width"), QString::number(columns),
                                             QStringLiteral("--sample"), QString::number(every)});
        QCOMPARE(sampled, expected);
        // Not what the grid from the first picture takes.
        QVERIFY(sampled != csvOf({QStringLiteral("--sample"), QString::number(every)}));
    }
}

void TestBatch::shotsOfThreeFlatShots()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QList<QRgb> shotColours = {qRgb(200, 30, 30), qRgb(40, 160, 60), qRgb(30, 40, 190)};
    QList<QRgb> colours;
    for (QRgb colour : shotColours)
        colours << QList<QRgb>(10, colour);
    const QString film = work.filePath(QStringLiteral("three.mkv"));
    QVERIFY(testvideo::writeVideo(film, testvideo::uniformColours(QSize(32, 24), colours)));
    const auto result = run({QStringLiteral("-q"), QStringLiteral("--shots"),
                             QStringLiteral("--strips=shots,palette"), film});
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);

    const QList<QByteArray> rows = contentsOf(film + shotsSuffix()).trimmed().split('\n');
    QCOMPARE(rows.size(), 4);
    QVERIFY(rows[0].startsWith("shot,first,last,start,end,red,green,blue,L,a,b,colour1_red"));
    QVERIFY(rows[0].endsWith(",colour5_share,transition"));
    const QImage shots = readBack(film + stripSuffix(StripKind::Shots));
    const QImage palette = readBack(film + stripSuffix(StripKind::Palette));
    for (int s = 0; s < 3; ++s) {
        const QList<QByteArray> fields = rows[s + 1].split(',');
        QCOMPARE(fields.mid(0, 3),
                 (QList<QByteArray>{QByteArray::number(s + 1), QByteArray::number(10 * s + 1),
                                    QByteArray::number(10 * s + 10)}));
        QCOMPARE(fields[3].toDouble(), 0.4 * s);
        const QRgb colour = qRgb(fields[5].toInt(), fields[6].toInt(), fields[7].toInt());
        // Lossless, but through 4:4:4 YUV: within a level.
        for (const QRgb shown : {colour, shots.pixel(10 * s + 5, 0), palette.pixel(10 * s, 39)}) {
            QVERIFY2(qAbs(qRed(shown) - qRed(shotColours[s])) <= 1 &&
                         qAbs(qGreen(shown) - qGreen(shotColours[s])) <= 1 &&
                         qAbs(qBlue(shown) - qBlue(shotColours[s])) <= 1,
                     rows[s + 1].constData());
        }
        QCOMPARE(fields[14], QByteArray("1.0000")); // one colour, all of the shot
        QCOMPARE(fields.last(), s == 0 ? QByteArray() : QByteArray("cut"));
    }
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
    QCOMPARE(filesIn(work.filePath(QStringLiteral("out"))).size(), savedStripKinds().size() + 1);
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
                                            QStringLiteral(": Is a directory.")});
    QVERIFY(QFileInfo(blocked).isDir());
    QCOMPARE(filesIn(out.path()),
             (QStringList{QStringLiteral("quadrants.mkv-averageDisplay.bmp"),
                          QStringLiteral("quadrants.mkv-brightnessDisplay.bmp")}));
}

void TestBatch::writeFailuresSayWhy_data()
{
    QTest::addColumn<bool>("readOnlyDirectory");
    QTest::addColumn<QString>("reason");
    QTest::addRow("name too long") << false << QStringLiteral("File name too long.");
    QTest::addRow("read-only directory") << true << QStringLiteral("Permission denied.");
}

void TestBatch::writeFailuresSayWhy()
{
    QFETCH(bool, readOnlyDirectory);
    QFETCH(QString, reason);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("--strips=average")};
    QString target; // directory the strip should go to
    QString input;
    if (readOnlyDirectory) {
        target = work.filePath(QStringLiteral("locked"));
        input = work.filePath(QStringLiteral("film.mkv"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QFile probe(QDir(target).filePath(QStringLiteral("probe")));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QSKIP("Permissions do not stop root from writing.");
        }
        arguments << QStringLiteral("-o") << target;
    } else {
        // Room for the video's name, none for a suffix after it (NAME_MAX is 255).
        target = work.path();
        input = work.filePath(QString(240, QLatin1Char('l')) + QStringLiteral(".mkv"));
    }
    QVERIFY(QFile::copy(video, input));
    const QStringList before = QDir(target).entryList(QDir::Files | QDir::Hidden);

    const auto result = run(arguments + QStringList{input});
    QFile::setPermissions(target,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    const QString written =
        QDir(target).filePath(QFileInfo(input).fileName() + QStringLiteral("-averageDisplay.bmp"));
    QCOMPARE(result.errorLines, QStringList{QStringLiteral("reelmeter-batch: ") + written +
                                            QStringLiteral(": ") + reason});
    QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), before);
}

void TestBatch::linksAreReplacedNotWrittenThrough()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString precious = work.filePath(QStringLiteral("precious.txt"));
    const QByteArray preciousBytes("the user's own words\n");
    QFile preciousFile(precious);
    QVERIFY(preciousFile.open(QIODevice::WriteOnly) && preciousFile.write(preciousBytes) > 0);
    preciousFile.close();
    const QString out = work.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    const QString strip = QDir(out).filePath(QStringLiteral("quadrants.mkv-averageDisplay.bmp"));
    const QString csv = QDir(out).filePath(QStringLiteral("quadrants.mkv-colours.csv"));
    QVERIFY(QFile::link(precious, strip));
    QVERIFY(QFile::link(precious, csv));
    // A file of the user's that is replaced keeps its permissions.
    const QString brightness =
        QDir(out).filePath(QStringLiteral("quadrants.mkv-brightnessDisplay.bmp"));
    QFile privateFile(brightness);
    QVERIFY(privateFile.open(QIODevice::WriteOnly));
    privateFile.close();
    QVERIFY(QFile::setPermissions(brightness, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    const auto result =
        run({QStringLiteral("-q"), QStringLiteral("--csv"), QStringLiteral("-o"), out, video});
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);

    QCOMPARE(contentsOf(precious), preciousBytes);
    // New files' permissions: 0666 less the umask the tool inherited.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const QString &file : {strip, csv}) {
        QVERIFY2(!QFileInfo(file).isSymLink() && QFileInfo(file).isFile(), qPrintable(file));
        struct stat status;
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0666 & ~mask);
    }
    QCOMPARE(readBack(strip), referenceAnalysis(pictures).strips.average.image());
    QVERIFY(contentsOf(csv).startsWith(coloursCsvHeader(true)));
    QCOMPARE(QFileInfo(brightness).permissions() & 0x0777,
             QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(readBack(brightness), referenceAnalysis(pictures).strips.brightness.image());
}

void TestBatch::videoThatWouldBeOverwrittenIsRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");
    QTest::addRow("next to the video")
        << QStringList{QStringLiteral("a.mkv"), QStringLiteral("a.mkv-averageDisplay.bmp")}
        << QStringLiteral("a.mkv-averageDisplay.bmp");
    QTest::addRow("csv in the output directory")
        << QStringList{QStringLiteral("--csv"), QStringLiteral("-o"), QStringLiteral("out"),
                       QStringLiteral("out/a.mkv-colours.csv"), QStringLiteral("a.mkv")}
        << QStringLiteral("out/a.mkv-colours.csv");
    QTest::addRow("same file through a linked directory")
        << QStringList{QStringLiteral("-o"), QStringLiteral("linked"), QStringLiteral("a.mkv"),
                       QStringLiteral("out/a.mkv-averageDisplay.bmp")}
        << QStringLiteral("out/a.mkv-averageDisplay.bmp");
    QTest::addRow("the comparison, through a linked directory")
        << QStringList{QStringLiteral("--width"),   QStringLiteral("8"),
                       QStringLiteral("--compare"), QStringLiteral("linked/all.png"),
                       QStringLiteral("a.mkv"),     QStringLiteral("out/all.png")}
        << QStringLiteral("out/all.png");
}

void TestBatch::videoThatWouldBeOverwrittenIsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("out"))));
    QVERIFY(QFile::link(QStringLiteral("out"), work.filePath(QStringLiteral("linked"))));
    // Each a readable video: without the check all would be read and written.
    for (const QString &name :
         {QStringLiteral("a.mkv"), QStringLiteral("a.mkv-averageDisplay.bmp"),
          QStringLiteral("out/a.mkv-colours.csv"), QStringLiteral("out/a.mkv-averageDisplay.bmp"),
          QStringLiteral("out/all.png")})
        QVERIFY(QFile::copy(video, work.filePath(name)));
    const auto before = treeOf(work.path());

    const auto result = run(arguments, work.path());
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.errorLines,
             (QStringList{QStringLiteral("reelmeter-batch: ") + named +
                              QStringLiteral(" is both a video to read and a file to write."),
                          QStringLiteral("Try 'reelmeter-batch --help' for more.")}));
    QVERIFY(treeOf(work.path()) == before);
}

void TestBatch::controlCharactersInNamesAreShownEscaped()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString film = work.filePath(QStringLiteral("two\nlines\x1b[31m.mkv"));
    const QString missing = work.filePath(QStringLiteral("gone\x1b]0;title\a.mkv"));
    QVERIFY(QFile::copy(video, film));

    // Not a terminal: a finished line for the film, an error for the other,
    // the summary.
    const auto result = run({film, missing});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errorLines.size(), 3);
    for (const QString &line : result.errorLines)
        QVERIFY2(!line.contains(QChar(0x1b)) && !line.contains(QLatin1Char('\a')),
                 qPrintable(line));
    QVERIFY2(result.errorLines.contains(QStringLiteral("reelmeter-batch: ") + work.path() +
                                        QStringLiteral("/gone\\e]0;title\\x07.mkv: "
                                                       "No such file or directory.")),
             qPrintable(result.errorLines.join(QLatin1Char('\n'))));
    const QString finished = work.path() + QStringLiteral("/two\\nlines\\e[31m.mkv: 41 pictures");
    QVERIFY2(std::any_of(result.errorLines.begin(), result.errorLines.end(),
                         [&](const QString &line) { return line.startsWith(finished); }),
             qPrintable(result.errorLines.join(QLatin1Char('\n'))));
    // The files themselves keep the name as it is.
    QVERIFY(QFileInfo(film + QStringLiteral("-averageDisplay.bmp")).isFile());
}

void TestBatch::cropEqualsAPreCroppedVideo_data()
{
    QTest::addColumn<QString>("pixelFormat"); // of the video cropped; empty: RGB as made
    QTest::addColumn<QString>("filters");     // ffmpeg's, cropping the same
    QTest::addColumn<QString>("rectangle");
    QTest::addRow("RGB, odd offsets")
        << QString() << QStringLiteral("crop=40:30:7:5") << QStringLiteral("40:30:7:5");
    QTest::addRow("4:2:0, even offsets")
        << QStringLiteral("yuv420p") << QStringLiteral("crop=40:30:8:6")
        << QStringLiteral("40:30:8:6");
    // ffmpeg's crop moves odd offsets of 4:2:0 pictures to even ones; the
    // rectangle is cut exactly, from the picture converted to RGB.
    QTest::addRow("4:2:0, odd offsets")
        << QStringLiteral("yuv420p") << QStringLiteral("format=bgr0,crop=40:30:7:5")
        << QStringLiteral("40:30:7:5");
    QTest::addRow("whole picture")
        << QString() << QStringLiteral("crop=66:50:0:0") << QStringLiteral("66:50:0:0");
}

void TestBatch::cropEqualsAPreCroppedVideo()
{
    QFETCH(QString, pixelFormat);
    QFETCH(QString, filters);
    QFETCH(QString, rectangle);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    // The same file name in two directories: the outputs have the same names.
    const QString whole = work.filePath(QStringLiteral("whole/quadrants.mkv"));
    const QString cropped = work.filePath(QStringLiteral("cropped/quadrants.mkv"));
    QStringList convert = {QStringLiteral("-i"), video};
    if (!pixelFormat.isEmpty())
        convert << QStringLiteral("-pix_fmt") << pixelFormat;
    QString failed = runFfmpeg(convert + QStringList{"-c:v", "ffv1"}, whole);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    failed = runFfmpeg({"-i", whole, "-vf", filters, "-c:v", "ffv1"}, cropped);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));

    const QStringList common = {QStringLiteral("-q"), QStringLiteral("--strips"),
                                QStringLiteral("all"), QStringLiteral("--csv"),
                                QStringLiteral("-o")};
    const QString outWhole = work.filePath(QStringLiteral("out-whole"));
    const QString outCropped = work.filePath(QStringLiteral("out-cropped"));
    auto result = run(common + QStringList{outWhole, "--crop", rectangle, whole});
    QCOMPARE(result.exitCode, 0);
    result = run(common + QStringList{outCropped, cropped});
    QCOMPARE(result.exitCode, 0);

    const QString cropFile = QStringLiteral("quadrants.mkv") + cropSuffix();
    QCOMPARE(contentsOf(QDir(outWhole).filePath(cropFile)), "crop=" + rectangle.toLatin1() + '\n');
    QStringList files = filesIn(outWhole);
    files.removeOne(cropFile);
    QCOMPARE(files, filesIn(outCropped));
    // Their records name other crops.
    files.removeOne(QStringLiteral("quadrants.mkv") + recordSuffix());
    for (const QString &file : files)
        QVERIFY2(contentsOf(QDir(outWhole).filePath(file)) ==
                     contentsOf(QDir(outCropped).filePath(file)),
                 qPrintable(file + QStringLiteral(" differs")));
}

void TestBatch::autoCropFindsThePadding()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString padded = work.filePath(QStringLiteral("padded.mkv"));
    // Letterbox and pillarbox at once, in limited-range 4:2:0 as films are.
    const QString failed = runFfmpeg(
        {"-i", video, "-vf", "pad=90:80:12:16:black", "-pix_fmt", "yuv420p", "-c:v", "ffv1"},
        padded);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    const auto result = run({QStringLiteral("--crop"), QStringLiteral("auto"), QStringLiteral("-o"),
                             work.path(), padded});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.errorLines.size(), 2); // the video's line and the summary
    QVERIFY2(result.errorLines.first().endsWith(QStringLiteral(", crop=66:50:12:16")),
             qPrintable(result.errorLines.first()));
    QCOMPARE(contentsOf(padded + cropSuffix()), QByteArray("crop=66:50:12:16\n"));
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
    QTest::addRow("unknown colour conversion")
        << QStringList{QStringLiteral("--colour=vivid"), input};
    QTest::addRow("unknown crop") << QStringList{QStringLiteral("--crop=bars"), input};
    QTest::addRow("crop of three numbers") << QStringList{QStringLiteral("--crop=40:30:2"), input};
    QTest::addRow("crop of no width") << QStringList{QStringLiteral("--crop=0:30:2:2"), input};
    QTest::addRow("crop far beyond any picture")
        << QStringList{QStringLiteral("--crop=2147483647:1:2147483647:0"), input};
    QTest::addRow("crop beyond the picture's right edge")
        << QStringList{QStringLiteral("--crop=40:30:27:0"), input};
    QTest::addRow("crop beyond the picture's bottom edge")
        << QStringList{QStringLiteral("--crop=66:50:0:1"), input};
    QTest::addRow("option without its value") << QStringList{input, QStringLiteral("--strips")};
    QTest::addRow("shard past the count") << QStringList{QStringLiteral("--shard=2/2"), input};
    QTest::addRow("comparison without a width")
        << QStringList{QStringLiteral("--compare=all.png"), input};
    QTest::addRow("comparison of unknown format")
        << QStringList{QStringLiteral("--width=9"), QStringLiteral("--compare=all.gif"), input};
    // Each of these once crashed the tool, drew into a failed allocation or
    // silently dropped pictures.
    QTest::addRow("height beyond any strip")
        << QStringList{QStringLiteral("--height=2147483647"), input};
    QTest::addRow("poster of 10^10 pixels")
        << QStringList{QStringLiteral("--width=100000"), QStringLiteral("--height=100000"), input};
    QTest::addRow("pixel limit beyond FFmpeg's")
        << QStringList{QStringLiteral("--max-pixels=2147483648"), input};
    QTest::addRow("sampling finer than a millisecond")
        << QStringList{QStringLiteral("--sample=5e-324"), input};
    QTest::addRow("page of no width") << QStringList{QStringLiteral("--page=0x100mm"), input};
    QTest::addRow("page and a width for a picture")
        << QStringList{QStringLiteral("--page=A4"), QStringLiteral("--width=9"),
                       QStringLiteral("--format=png"), input};
    QTest::addRow("dpi of 0") << QStringList{QStringLiteral("--dpi=0"), input};
    QTest::addRow("unknown comparison scale")
        << QStringList{QStringLiteral("--compare-scale=height"), input};
    QTest::addRow("comparison of PDFs")
        << QStringList{QStringLiteral("--format=pdf"), QStringLiteral("--width=9"),
                       QStringLiteral("--compare=all.png"), input};
    QTest::addRow("sampling finer than the pictures")
        << QStringList{QStringLiteral("--sample=0.02"), input};
    QTest::addRow("versions of one video") << QStringList{QStringLiteral("--versions"), input};
    QTest::addRow("versions drawn as a PDF")
        << QStringList{QStringLiteral("--versions"), QStringLiteral("--format=pdf"), input, input};
    QTest::addRow("ring as a PDF")
        << QStringList{QStringLiteral("--layout=ring"), QStringLiteral("--format=pdf"), input};
    QTest::addRow("ring on a page")
        << QStringList{QStringLiteral("--layout=ring"), QStringLiteral("--page=A4"), input};
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

void TestBatch::stripTooLargeForItsPicturesIsAFailure()
{
    // One column per picture: only the picture count tells that 300 columns
    // of 2^20 rows pass the limit.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString many = work.filePath(QStringLiteral("many.mkv"));
    QVERIFY(testvideo::writeVideo(
        many, testvideo::uniformColours(QSize(8, 8), testvideo::paletteColours(300))));
    const auto result = run({QStringLiteral("-q"), QStringLiteral("--strips=average,mood"),
                             QStringLiteral("--height=1048576"), many});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errorLines.size(), 2);
    QCOMPARE(result.errorLines.constFirst(),
             QStringLiteral("reelmeter-batch: ") + many + stripSuffix(StripKind::Average) +
                 QStringLiteral(": The strip would be larger than 268435456 pixels."));
    QCOMPARE(filesIn(work.path()), QStringList{QStringLiteral("many.mkv")});
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
    progress.crop = QRect(0, 140, 1920, 800);
    QCOMPARE(progressLine(QStringLiteral("film.mkv"), progress, 4.0),
             QStringLiteral("film.mkv  ?%  300 pictures  75.0 pictures/s  crop=1920:800:0:140"));
}

QTEST_GUILESS_MAIN(TestBatch)
#include "test_batch.moc"
