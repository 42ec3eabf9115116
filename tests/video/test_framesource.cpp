#include "analysis/framereading.h"
#include "analysis/measure.h"
#include "ffmpegwriter.h"
#include "reference.h"
#include "testfiles.h"
#include "testvideo.h"
#include "video/framesource_p.h"
#include "video/framesourceseek.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/mastering_display_metadata.h>
}

#include <clocale>
#include <limits>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace testvideo;

namespace {

constexpr int rgb32 = AV_PIX_FMT_RGB32;
// Far more calls than any test file needs: a reader that never ends fails.
constexpr int callLimit = 100000;

// What a reader saw: every status in order and a copy and the time of every
// picture.
struct Reading {
    QList<FrameStatus> statuses;
    QList<QImage> pictures;
    QList<double> times;
    int count(FrameStatus status) const { return int(statuses.count(status)); }
};

// Reads up to and including the first EndOfStream.
Reading readAll(FrameSource *source)
{
    Reading reading;
    for (int i = 0; i < callLimit; ++i) {
        const FrameStatus status = readFrame(source);
        reading.statuses.append(status);
        if (status == FrameReady) {
            reading.pictures.append(frameView(source).copy());
            reading.times.append(currentPictureTime(source));
        }
        if (status == EndOfStream)
            break;
    }
    return reading;
}

// The first pixel that differs from colour, as text, or empty if none does.
QString firstMismatch(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] != colour)
                return QStringLiteral("(%1,%2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(row[x], 8, 16, QLatin1Char('0'))
                    .arg(colour, 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}

QRgb centre(const QImage &image)
{
    return image.pixel(image.width() / 2, image.height() / 2);
}

// Index of the palette colour a lossy uniform picture shows, or -1 if the
// picture is not uniform or near none of them.
int recognise(const QImage &picture, int count)
{
    const int index = nearestPaletteIndex(centre(picture), count);
    const QRgb expected = paletteColour(index);
    for (int y = 0; y < picture.height(); y += 3) {
        for (int x = 0; x < picture.width(); x += 3) {
            const QRgb got = picture.pixel(x, y);
            if (qAbs(qRed(got) - qRed(expected)) > 12 ||
                qAbs(qGreen(got) - qGreen(expected)) > 12 ||
                qAbs(qBlue(got) - qBlue(expected)) > 12)
                return -1;
        }
    }
    return index;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                   .size());
}

QList<QRgb> exactColours()
{
    return {0xffff0000, 0xff00ff00, 0xff0000ff, 0xff123456, 0xff000000,
            0xffffffff, 0xff7f8081, 0xff010203, 0xfffefdfc};
}

// Four flat quadrants of known SDR colours, among them a saturated yellow and
// highlights that tone mapping bends.
QImage knownColours()
{
    const QRgb colours[4] = {0xff9baa04, 0xff2060c0, 0xffd03020, 0xff808080};
    QImage picture(128, 96, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, colours[(y < 48 ? 0 : 2) + (x < 64 ? 0 : 1)]);
    return picture;
}

// Mean difference per channel of the average and the four quadrant colours.
double colourError(const QImage &got, const QImage &expected)
{
    const FrameColours a = measurePixels(got, nullptr);
    const FrameColours b = measurePixels(expected, nullptr);
    QList<std::pair<QColor, QColor>> pairs = {{a.average, b.average}};
    for (int q = 0; q < 4; ++q)
        pairs.append({a.quadrants[q], b.quadrants[q]});
    double total = 0;
    for (const auto &[x, y] : pairs)
        total += qAbs(x.red() - y.red()) + qAbs(x.green() - y.green()) + qAbs(x.blue() - y.blue());
    return total / (3.0 * pairs.size());
}

// ffmpeg's arguments converting an SDR file to format (10-bit 4:2:0 unless
// said) with transfer (zscale's name and the tag's) on BT.2020, SDR white at
// 100 cd/m2.
QStringList toTransfer(const QString &from, const QString &zscaleTransfer, const QString &tag,
                       const QString &format = QStringLiteral("yuv420p10le"))
{
    const bool hdr = tag != QLatin1String("bt709");
    const QString primaries = hdr ? QStringLiteral("bt2020") : QStringLiteral("bt709");
    const QString matrix = hdr ? QStringLiteral("bt2020nc") : QStringLiteral("bt709");
    return {"-i",
            from,
            "-vf",
            "zscale=tin=bt709:pin=bt709:min=bt709:rin=full:t=" + zscaleTransfer +
                ":p=" + primaries + ":m=" + matrix + ":r=limited:npl=100,format=" + format,
            "-color_trc",
            tag,
            "-color_primaries",
            primaries,
            "-colorspace",
            matrix,
            "-color_range",
            "tv"};
}

} // namespace

class TestFrameSource : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QStringList reasonsGiven; // by openTellsWhyItFailed, each one different

    QString write(const QString &name, const MediaFile &file)
    {
        const QString path = dir.filePath(name);
        QString error;
        if (!writeMedia(path, file, &error))
            qWarning("writing %s: %s", qPrintable(name), qPrintable(error));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // Damaged and odd test files make the decoders talk; failures speak for themselves.
        quietVideoLibraries(false);
        // The operating system's reasons are compared as English text.
        setlocale(LC_MESSAGES, "C");
    }

    void deliversExactColoursThroughLosslessCodecs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codec");
        QTest::newRow("ffv1 in matroska") << "exact.mkv" << int(Codec::Ffv1);
        QTest::newRow("ffv1 in avi") << "exact.avi" << int(Codec::Ffv1);
        QTest::newRow("ffv1 in nut") << "exact-ffv1.nut" << int(Codec::Ffv1);
        QTest::newRow("rawvideo in nut") << "exact-raw.nut" << int(Codec::RawVideo);
    }
    void deliversExactColoursThroughLosslessCodecs()
    {
        QFETCH(QString, name);
        QFETCH(int, codec);
        const QList<QRgb> colours = exactColours();
        const QString path = dir.filePath(name);
        QString error;
        QVERIFY2(writeVideo(path, uniformColours({62, 46}, colours, Codec(codec)), &error),
                 qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.statuses.last(), EndOfStream);
        QCOMPARE(reading.pictures.size(), colours.size());
        for (int i = 0; i < colours.size(); ++i) {
            const QString mismatch = firstMismatch(reading.pictures[i], colours[i]);
            QVERIFY2(mismatch.isEmpty(),
                     qPrintable(QStringLiteral("picture %1: ").arg(i) + mismatch));
        }
        // The end stays the end, without touching the container again; the
        // decoder's memory is given back and the buffer keeps the last picture.
        QCOMPARE(readFrame(source.get()), EndOfStream);
        QCOMPARE(readFrame(source.get()), EndOfStream);
        QVERIFY(!source->decoderContext && !source->scaler && !source->decodedPicture);
        QCOMPARE(frameView(source.get()), reading.pictures.last());
    }

    void settlesTheOutputSize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("expectedWidth");
        QTest::addColumn<int>("expectedHeight");
        QTest::newRow("0 x 0: the stream's size") << 0 << 0 << 64 << 48;
        QTest::newRow("320 x 0: width 320, the stream's height") << 320 << 0 << 320 << 48;
        QTest::newRow("0 x 100: the stream's width, height 100") << 0 << 100 << 64 << 100;
        QTest::newRow("32 x 24: scaled down") << 32 << 24 << 32 << 24;
    }
    void settlesTheOutputSize()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, expectedWidth);
        QFETCH(int, expectedHeight);
        const QString path = dir.filePath("size.mkv");
        if (!QFileInfo::exists(path))
            QVERIFY(writeVideo(path, uniformColours({64, 48}, {0xff336699, 0xff336699})));

        FrameSourcePtr source =
            openFrameSource(QFile::encodeName(path), {.width = width, .height = height});
        QVERIFY(source);
        QCOMPARE(outputWidth(source.get()), expectedWidth);
        QCOMPARE(outputHeight(source.get()), expectedHeight);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), 2);
        // A uniform picture stays uniform whatever the scaling; the whole
        // buffer, and no more, is written.
        QCOMPARE(reading.pictures[1].size(), QSize(expectedWidth, expectedHeight));
        const QString mismatch = firstMismatch(reading.pictures[1], 0xff336699);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    void refusesWhatItCannotDecode_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pixelFormat");

        const QString missing = dir.filePath("missing.mkv");
        QTest::newRow("missing path") << missing << rgb32;

        const QString empty = dir.filePath("empty.mkv");
        QFile(empty).open(QIODevice::WriteOnly);
        QTest::newRow("empty file") << empty << rgb32;

        const QString noise = dir.filePath("noise.bin");
        QFile noiseFile(noise);
        if (noiseFile.open(QIODevice::WriteOnly)) {
            QRandomGenerator random(12345);
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            noiseFile.write(bytes);
        }
        QTest::newRow("random bytes") << noise << rgb32;

        MediaFile audioOnly;
        audioOnly.streams.push_back(AudioStream{});
        QTest::newRow("audio only") << write("audio.mkv", audioOnly) << rgb32;

        MediaFile nothing;
        nothing.format = "ffmetadata";
        QTest::newRow("no streams") << write("nothing.txt", nothing) << rgb32;

        const QString undecodable = dir.filePath("undecodable.nut");
        QString error;
        if (!writeUndecodableVideo(undecodable, &error))
            qWarning("%s", qPrintable(error));
        QTest::newRow("codec without a decoder") << undecodable << rgb32;

        // No picture decodes while the stream is probed: its pixel format
        // stays unknown, which the scaler must refuse rather than assert on.
        VideoStream garbled = uniformColours({64, 48}, QList<QRgb>(8, 0xff000000), Codec::Mpeg4);
        for (int i = 0; i < 8; ++i)
            garbled.damagedPackets << i;
        const QString unknownFormat = dir.filePath("unknown-format.avi");
        writeVideo(unknownFormat, garbled);
        QTest::newRow("pixel format never found") << unknownFormat << rgb32;

        const QString folder = dir.filePath("folder.mkv");
        QDir().mkpath(folder);
        QTest::newRow("directory") << folder << rgb32;

        const QString good = dir.filePath("good.mkv");
        writeVideo(good, uniformColours({64, 48}, {0xff000000}));
        QTest::newRow("no such pixel format") << good << int(AV_PIX_FMT_NB) + 100;
        QTest::newRow("hardware pixel format") << good << int(AV_PIX_FMT_VAAPI);
    }
    void refusesWhatItCannotDecode()
    {
        QFETCH(QString, path);
        QFETCH(int, pixelFormat);
        if (!path.contains(QLatin1String("missing")))
            QVERIFY2(QFileInfo::exists(path), "the test file was not written");
        const int descriptors = openDescriptors();
        std::string why;
        FrameSourcePtr source =
            openFrameSource(QFile::encodeName(path), {.pixelFormat = pixelFormat}, &why);
        QVERIFY(!source);
        QCOMPARE(openDescriptors(), descriptors);
        QVERIFY(!why.empty());
    }

    void openTellsWhyItFailed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("whole"); // else reason is the start, FFmpeg's detail follows

        QTest::newRow("missing") << dir.filePath("absent.mkv") << "No such file or directory."
                                 << true;
        const QString locked = dir.filePath("locked.mkv");
        writeVideo(locked, uniformColours({64, 48}, {0xff000000}));
        QFile::setPermissions(locked, {});
        QTest::newRow("unreadable") << locked << "Permission denied." << true;
        const QString folder = dir.filePath("why-folder");
        QDir().mkpath(folder);
        QTest::newRow("directory") << folder << "Is a directory." << true;
        const QString fifo = dir.filePath("why-fifo");
        mkfifo(QFile::encodeName(fifo), 0600);
        QTest::newRow("fifo") << fifo << "Is a named pipe (FIFO), not a file." << true;
        QTest::newRow("device") << "/dev/null"
                                << "Is a device, not a file." << true;
        MediaFile audioOnly;
        audioOnly.streams.push_back(AudioStream{});
        QTest::newRow("audio only")
            << write("why-audio.mkv", audioOnly) << "The file has no video stream." << true;
        const QString text = dir.filePath("notes.txt");
        QFile textFile(text);
        if (textFile.open(QIODevice::WriteOnly))
            textFile.write("Shopping list:\n- bread\n- milk\n");
        QTest::newRow("text") << text << "This is not a video or image file. (" << false;
        const QString undecodable = dir.filePath("why-undecodable.nut");
        if (writeUndecodableVideo(undecodable))
            QTest::newRow("no decoder")
                << undecodable << "No decoder for the video codec " << false;
        const QString numberedText = dir.filePath("notes%03d.png");
        QFile::copy(text, numberedText);
        QTest::newRow("text with a numbered image's name")
            << numberedText
            << "This is not a video or image file. (Its contents match no format FFmpeg knows; "
               "a name with % is read as that one file, never as numbered pictures.)"
            << true;
        // Every packet damaged: no picture decodes while the stream is probed.
        VideoStream garbled = uniformColours({64, 48}, QList<QRgb>(8, 0xff000000), Codec::Mpeg4);
        garbled.damagedPackets = {0, 1, 2, 3, 4, 5, 6, 7};
        const QString headerless = dir.filePath("why-headerless.avi");
        writeVideo(headerless, garbled);
        QTest::newRow("MPEG-4 without its headers")
            << headerless
            << "No picture of the video stream could be decoded (its headers may be missing or "
               "damaged)."
            << true;
    }
    void openTellsWhyItFailed()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QFETCH(bool, whole);
        if (QTest::currentDataTag() == QLatin1String("unreadable") && geteuid() == 0)
            QSKIP("root reads files whatever their permissions");
        std::string why = "untouched";
        QVERIFY(!openFrameSource(QFile::encodeName(path), {}, &why));
        const QString got = QString::fromStdString(why);
        if (whole)
            QCOMPARE(got, reason);
        else
            QVERIFY2(got.startsWith(reason) && got.size() > reason.size() + 2, qPrintable(got));
        QVERIFY2(!reasonsGiven.contains(got), qPrintable(got));
        reasonsGiven.append(got);
    }

    void opensAVideoThatStartsLate_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("start");
        QTest::newRow("matroska, 6 s") << "late.mkv" << 6.0;
        QTest::newRow("nut, 6 s") << "late.nut" << 6.0;
        QTest::newRow("matroska, 120 s") << "later.mkv" << 120.0;
        QTest::newRow("mp4, 120 s") << "later.mp4" << 120.0;
        QTest::newRow("mov, 120 s") << "later.mov" << 120.0;
    }
    void opensAVideoThatStartsLate()
    {
        QFETCH(QString, name);
        QFETCH(double, start);
        // Sound before the first picture: more than the demuxer looks at by
        // default, and more than any fixed length of time it might be told.
        const QList<QRgb> colours = paletteColours(9);
        VideoStream video = uniformColours({64, 48}, colours, Codec::Mpeg4);
        video.startSeconds = start;
        const bool mp4 =
            name.endsWith(QLatin1String(".mp4")) || name.endsWith(QLatin1String(".mov"));
        MediaFile file;
        file.streams = {AudioStream{mp4 ? AudioCodec::Aac : AudioCodec::Pcm, start + 2}, video};
        const QString path = write(name, file);

        std::string why;
        FrameSourcePtr source = openFrameSource(QFile::encodeName(path), {}, &why);
        QVERIFY2(source, why.c_str());
        QCOMPARE(outputWidth(source.get()), 64);
        QCOMPARE(outputHeight(source.get()), 48);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), colours.size());
        for (int i = 0; i < colours.size(); ++i)
            QCOMPARE(recognise(reading.pictures[i], int(colours.size())), i);
        QVERIFY2(qAbs(reading.times.first() - start) < 1e-3,
                 qPrintable(QString::number(reading.times.first())));
    }

    void refusesPicturesOverTheLimit_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("maxPixels");
        QTest::addColumn<QString>("reason");

        // A raw stream whose header claims the size: the bytes for it are not there.
        const QString claims = dir.filePath("claims16000.y4m");
        QFile y4m(claims);
        if (y4m.open(QIODevice::WriteOnly))
            y4m.write("YUV4MPEG2 W16000 H16000 F25:1 C420jpeg\nFRAME\n" + QByteArray(4096, 'x'));
        y4m.close();
        QTest::newRow("16000x16000, default limit")
            << claims << qint64(defaultMaxPixels)
            << "Picture 16000x16000 is larger than the limit of 67108864 pixels.";
        const QString small = dir.filePath("limit.mkv");
        writeVideo(small, uniformColours({64, 48}, {0xff000000}));
        QTest::newRow("64x48, limit one pixel less")
            << small << qint64(64 * 48 - 1)
            << "Picture 64x48 is larger than the limit of 3071 pixels.";
        // Only the decoder finds these sizes, and refuses them without keeping them.
        for (const char *format : {"png", "jpg"}) {
            const QString picture = dir.filePath(QStringLiteral("limit.%1").arg(format));
            uniformPicture({64, 48}, 0xff336699).save(picture);
            QTest::newRow(format) << picture << qint64(100)
                                  << "Picture 64x48 is larger than the limit of 100 pixels.";
        }
    }

    void readsNumberedNamesByTheirContents_data()
    {
        // FFmpeg reads any such name as a numbered sequence of this image kind.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("contents");
        QTest::newRow("a video named as a PNG") << "video%03d.png"
                                                << "mkv";
        QTest::newRow("a JPEG named as a PNG") << "shot%d.png"
                                               << "jpg";
    }
    void readsNumberedNamesByTheirContents()
    {
        QFETCH(QString, name);
        QFETCH(QString, contents);
        const QString made = dir.filePath("numbered." + contents);
        const QList<QRgb> colours = paletteColours(3);
        if (contents == QLatin1String("mkv"))
            QVERIFY(writeVideo(made, uniformColours({64, 48}, colours)));
        else
            QVERIFY(uniformPicture({64, 48}, colours.first()).save(made, nullptr, 100));
        const QString path = dir.filePath(name);
        QVERIFY(QFile::copy(made, path));
        std::string why;
        FrameSourcePtr source = openFrameSource(QFile::encodeName(path), {}, &why);
        QVERIFY2(source, why.c_str());
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), contents == QLatin1String("mkv") ? 3 : 1);
        for (int i = 0; i < reading.pictures.size(); ++i)
            QCOMPARE(recognise(reading.pictures[i], 3), i);
    }

    void takesAnyPixelLimit_data()
    {
        QTest::addColumn<qint64>("maxPixels");
        QTest::newRow("2^31") << (qint64(1) << 31);
        QTest::newRow("the largest") << std::numeric_limits<qint64>::max();
    }
    void takesAnyPixelLimit()
    {
        QFETCH(qint64, maxPixels);
        // The limit reaches FFmpeg as an int option, which refuses more.
        const QString path = dir.filePath("any-limit.png");
        if (!QFileInfo::exists(path))
            QVERIFY(uniformPicture({64, 48}, 0xff336699).save(path));
        std::string why;
        FrameSourcePtr source =
            openFrameSource(QFile::encodeName(path), {.maxPixels = maxPixels}, &why);
        QVERIFY2(source, why.c_str());
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), 1);
        QVERIFY(firstMismatch(reading.pictures[0], 0xff336699).isEmpty());
    }
    void refusesPicturesOverTheLimit()
    {
        QFETCH(QString, path);
        QFETCH(qint64, maxPixels);
        QFETCH(QString, reason);
        std::string why;
        QVERIFY(!openFrameSource(QFile::encodeName(path), {.maxPixels = maxPixels}, &why));
        QCOMPARE(QString::fromStdString(why), reason);
    }

    void skipsLaterPicturesOverTheLimit()
    {
        // The stream starts within the limit; its larger pictures are skipped.
        VideoStream video;
        video.codec = Codec::Mjpeg;
        video.pictureCount = 6;
        video.picture = [](int i) {
            return uniformPicture(i % 2 ? QSize(128, 96) : QSize(64, 48), paletteColour(i));
        };
        const QString path = dir.filePath("growing.avi");
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path), {.maxPixels = 64 * 48});
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QList<int> seen;
        for (const QImage &picture : reading.pictures)
            seen << recognise(picture, 6);
        QCOMPARE(seen, (QList<int>{0, 2, 4}));
    }

    void closesTheFileItOpened()
    {
        const QString path = dir.filePath("close.mkv");
        QVERIFY(writeVideo(path, uniformColours({64, 48}, {0xff000000, 0xffffffff})));
        const int descriptors = openDescriptors();
        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        QVERIFY(openDescriptors() > descriptors);
        QVERIFY(readFrame(source.get()) != EndOfStream); // closed mid-stream, decoder threads busy
        closeFrameSource(source.release());
        QCOMPARE(openDescriptors(), descriptors);
    }

    void usesTheFirstVideoStream_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("chosenPictures");

        VideoStream red = uniformColours({64, 48}, QList<QRgb>(10, 0xffff0000));
        VideoStream blue = uniformColours({32, 32}, QList<QRgb>(15, 0xff0000ff));
        MediaFile audioFirst;
        audioFirst.streams = {AudioStream{}, red, blue};
        QTest::newRow("audio, red, blue") << write("avv.mkv", audioFirst) << 10;
        MediaFile videoFirst;
        videoFirst.streams = {red, AudioStream{}, blue};
        QTest::newRow("red, audio, blue") << write("vav.nut", videoFirst) << 10;
    }
    void usesTheFirstVideoStream()
    {
        QFETCH(QString, path);
        QFETCH(int, chosenPictures);
        const int packets = countPackets(path);
        const int videoPackets = countVideoPackets(path);
        QVERIFY(packets > videoPackets);
        QCOMPARE(videoPackets, chosenPictures);

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        QCOMPARE(outputWidth(source.get()), 64);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), chosenPictures);
        for (const QImage &picture : reading.pictures)
            QVERIFY(firstMismatch(picture, 0xffff0000).isEmpty());
        // Audio and the second video stream: every one of their packets.
        QCOMPARE(reading.count(ForeignPacket), packets - videoPackets);
    }

    void deliversEveryDelayedPictureInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codec");
        QTest::addColumn<int>("bFrames");
        QTest::newRow("mpeg4, 2 B-frames, matroska") << "b.mkv" << int(Codec::Mpeg4) << 2;
        QTest::newRow("mpeg4, 3 B-frames, avi") << "b.avi" << int(Codec::Mpeg4) << 3;
        QTest::newRow("h264, 3 B-frames, avi") << "b-h264.avi" << int(Codec::H264) << 3;
        QTest::newRow("h264, 3 B-frames, matroska") << "b-h264.mkv" << int(Codec::H264) << 3;
        QTest::newRow("mpeg4, no B-frames, mp4") << "p.mp4" << int(Codec::Mpeg4) << 0;
        QTest::newRow("h264, 3 B-frames, mp4") << "b.mp4" << int(Codec::H264) << 3;
        QTest::newRow("mjpeg, avi") << "j.avi" << int(Codec::Mjpeg) << 0;
        // No timestamps at all, and in AVI none for the last pictures the
        // decoder gives: each is placed after the one before.
        QTest::newRow("h264, 3 B-frames, raw stream") << "b.h264" << int(Codec::H264) << 3;
        QTest::newRow("mpeg4, 2 B-frames, raw stream") << "b.m4v" << int(Codec::Mpeg4) << 2;
    }
    void deliversEveryDelayedPictureInOrder()
    {
        QFETCH(QString, name);
        QFETCH(int, codec);
        QFETCH(int, bFrames);
        if (!encoderAvailable(Codec(codec)))
            QSKIP("this libavcodec has no such encoder");
        constexpr int count = 40;
        QList<QRgb> colours;
        for (int i = 0; i < count; ++i)
            colours.append(paletteColour(i));
        VideoStream video = uniformColours({96, 64}, colours, Codec(codec));
        video.maxBFrames = bFrames;
        video.gopSize = 10;
        const QString path = dir.filePath(name);
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));
        QCOMPARE(countPictures(path), count);

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), count);
        // Timed in presentation order from the first picture, also where the
        // container gives decoding times only (AVI).
        for (int i = 0; i < count; ++i) {
            QCOMPARE(recognise(reading.pictures[i], count), i);
            QVERIFY2(qAbs(reading.times[i] - i / 25.0) < 1e-6,
                     qPrintable(QStringLiteral("picture %1 at %2 s").arg(i).arg(reading.times[i])));
        }
        if (bFrames > 0)
            QCOMPARE(reading.statuses.first(), NoPicture);
        // Decoding threads delay output too, so only the drain delivers the last ones.
        QVERIFY(source->draining);
        QCOMPARE(reading.statuses.last(), EndOfStream);
    }

    void consumesOnePacketPerCall()
    {
        VideoStream video = uniformColours({64, 48}, QList<QRgb>(30, 0xff00ff00), Codec::Mpeg4);
        video.maxBFrames = 2;
        MediaFile file;
        file.streams = {video, AudioStream{AudioCodec::Pcm, 1.2, 48000}};
        const QString path = write("packets.mkv", file);
        const int packets = countPackets(path);
        QVERIFY(packets > 30);

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        int consumingCalls = 0;
        int pictures = 0;
        for (int i = 0; i < callLimit; ++i) {
            const FrameStatus status = readFrame(source.get());
            if (status == EndOfStream)
                break;
            pictures += status == FrameReady;
            // The call that finds the container exhausted starts the drain and reads nothing.
            if (!source->draining)
                ++consumingCalls;
        }
        QCOMPARE(consumingCalls, packets);
        QCOMPARE(pictures, 30);
    }

    void continuesAfterADamagedPacket_data()
    {
        QTest::addColumn<int>("codec");
        QTest::newRow("ffv1") << int(Codec::Ffv1);
        QTest::newRow("mjpeg") << int(Codec::Mjpeg);
    }
    void continuesAfterADamagedPacket()
    {
        QFETCH(int, codec);
        QList<QRgb> colours;
        for (int i = 0; i < 12; ++i)
            colours.append(paletteColour(i));
        VideoStream video = uniformColours({64, 48}, colours, Codec(codec));
        video.damagedPackets = {3, 4, 8};
        const QString path = dir.filePath(QStringLiteral("damaged-%1.mkv").arg(codec));
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.statuses.last(), EndOfStream);
        QCOMPARE(reading.count(ForeignPacket), 0);
        // Every intact picture arrives, in order; a damaged one may arrive,
        // broken or not, or be missing.
        QList<int> intact;
        for (const QImage &picture : reading.pictures) {
            const int index = recognise(picture, int(colours.size()));
            if (index >= 0 && !video.damagedPackets.contains(index))
                intact.append(index);
        }
        QCOMPARE(intact, (QList<int>{0, 1, 2, 5, 6, 7, 9, 10, 11}));
    }

    void keepsTheFirstSizeWhenPicturesChangeSize_data()
    {
        QTest::addColumn<QSize>("second");
        QTest::addColumn<int>("secondFormat");
        QTest::newRow("grows") << QSize(160, 120) << int(AV_PIX_FMT_YUVJ420P);
        QTest::newRow("shrinks") << QSize(32, 16) << int(AV_PIX_FMT_YUVJ420P);
        QTest::newRow("same size, 4:4:4") << QSize(64, 48) << int(AV_PIX_FMT_YUVJ444P);
        QTest::newRow("shrinks, 4:2:2") << QSize(16, 8) << int(AV_PIX_FMT_YUVJ422P);
    }
    void keepsTheFirstSizeWhenPicturesChangeSize()
    {
        QFETCH(QSize, second);
        QFETCH(int, secondFormat);
        constexpr int half = 8;
        constexpr QRgb first = 0xffc04020, left = 0xff2040c0, right = 0xff40c020;
        VideoStream video;
        video.codec = Codec::Mjpeg;
        video.pictureCount = 2 * half;
        // The later pictures are split in two, so that planes read with the
        // wrong size or layout put colours in the wrong place.
        video.picture = [second](int i) {
            if (i < half)
                return uniformPicture({64, 48}, first);
            QImage image = uniformPicture(second, left);
            for (int y = 0; y < second.height(); ++y) {
                for (int x = second.width() / 2; x < second.width(); ++x)
                    image.setPixel(x, y, right);
            }
            return image;
        };
        video.pixelFormat = [secondFormat](int i) {
            return i < half ? AV_PIX_FMT_YUVJ420P : AVPixelFormat(secondFormat);
        };
        const QString path = dir.filePath("sizes.avi");
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));
        QCOMPARE(countPictures(path), 2 * half);

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const uint8_t *buffer = outputPixels(source.get());
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), 2 * half);
        QCOMPARE(outputWidth(source.get()), 64);
        QCOMPARE(outputHeight(source.get()), 48);
        QCOMPARE(outputPixels(source.get()), buffer);
        for (int i = 0; i < 2 * half; ++i) {
            const QImage &picture = reading.pictures[i];
            for (const QPoint &point :
                 {QPoint(4, 2), QPoint(4, 45), QPoint(59, 2), QPoint(59, 45)}) {
                const QRgb expected = i < half ? first : point.x() < 32 ? left : right;
                const QRgb got = picture.pixel(point);
                QVERIFY2(qAbs(qRed(got) - qRed(expected)) <= 12 &&
                             qAbs(qGreen(got) - qGreen(expected)) <= 12 &&
                             qAbs(qBlue(got) - qBlue(expected)) <= 12,
                         qPrintable(QStringLiteral("picture %1 at (%2,%3): %4, expected %5")
                                        .arg(i)
                                        .arg(point.x())
                                        .arg(point.y())
                                        .arg(got, 8, 16)
                                        .arg(expected, 8, 16)));
            }
        }
    }

    void decodesWithTheStreamsColourMatrix_data()
    {
        QTest::addColumn<int>("colorspace");
        QTest::newRow("BT.601, untagged") << int(AVCOL_SPC_UNSPECIFIED);
        QTest::newRow("BT.709") << int(AVCOL_SPC_BT709);
        QTest::newRow("BT.601, tagged") << int(AVCOL_SPC_SMPTE170M);
    }
    void decodesWithTheStreamsColourMatrix()
    {
        QFETCH(int, colorspace);
        // Saturated colours, where BT.601 and BT.709 differ by tens of levels.
        const QList<QRgb> colours = {0xff20c040, 0xffd02060, 0xff3050e0};
        VideoStream video = uniformColours({64, 48}, colours, Codec::Mpeg4);
        video.colorspace = AVColorSpace(colorspace);
        const QString path = dir.filePath(QStringLiteral("matrix-%1.mkv").arg(colorspace));
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), colours.size());
        for (int i = 0; i < colours.size(); ++i) {
            const QRgb got = centre(reading.pictures[i]);
            const QRgb expected = colours[i];
            QVERIFY2(qAbs(qRed(got) - qRed(expected)) <= 4 &&
                         qAbs(qGreen(got) - qGreen(expected)) <= 4 &&
                         qAbs(qBlue(got) - qBlue(expected)) <= 4,
                     qPrintable(QStringLiteral("picture %1: %2, expected %3")
                                    .arg(i)
                                    .arg(got, 8, 16)
                                    .arg(expected, 8, 16)));
        }
    }

    void exactColoursMatchAFloatConversion_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("matrix"); // the stream's tag
        QTest::newRow("BT.709, limited range") << QSize(64, 48) << "bt709";
        // Players read untagged HD video as BT.709; so do exact colours.
        QTest::newRow("untagged HD") << QSize(1280, 720) << "unknown";
    }
    void exactColoursMatchAFloatConversion()
    {
        QFETCH(QSize, size);
        QFETCH(QString, matrix);
        // Saturated, dark and light colours, where rounding shows most.
        const QList<QRgb> colours = {0xff20c040, 0xffd02060, 0xff3050e0,
                                     0xff9baa04, 0xff101418, 0xffe8e0d0};
        const QString rgb = dir.filePath(QStringLiteral("exact-%1.mkv").arg(matrix));
        QVERIFY(writeVideo(rgb, uniformColours(size, colours)));
        const QString yuv = dir.filePath(QStringLiteral("exact-%1-yuv.mkv").arg(matrix));
        QString failed = runFfmpeg({"-i", rgb, "-vf",
                                    "scale=out_color_matrix=bt709:out_range=tv:flags=accurate_rnd",
                                    "-pix_fmt", "yuv420p", "-colorspace", matrix, "-color_range",
                                    "tv", "-c:v", "ffv1", yuv});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const QString planes = dir.filePath(QStringLiteral("exact-%1.yuv").arg(matrix));
        failed = runFfmpeg({"-i", yuv, "-f", "rawvideo", planes});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QFile file(planes);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray samples = file.readAll();
        const qsizetype lumaBytes = qsizetype(size.width()) * size.height();
        QCOMPARE(samples.size(), lumaBytes * 3 / 2 * colours.size());

        FrameSourcePtr source = openFrameSource(QFile::encodeName(yuv), {.exactColours = true});
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), colours.size());
        for (int i = 0; i < colours.size(); ++i) {
            // Every pixel holds the same samples: the exact colour is their
            // BT.709 limited-range conversion, in floating point.
            const char *picture = samples.constData() + i * lumaBytes * 3 / 2;
            const double y = (quint8(picture[0]) - 16) / 219.0;
            const double cb = (quint8(picture[lumaBytes]) - 128) / 224.0;
            const double cr = (quint8(picture[lumaBytes * 5 / 4]) - 128) / 224.0;
            const double exact[3] = {y + 1.5748 * cr, y - 0.187324 * cb - 0.468124 * cr,
                                     y + 1.8556 * cb};
            const QColor average = measurePixels(reading.pictures[i], nullptr).average;
            const int got[3] = {average.red(), average.green(), average.blue()};
            for (int c = 0; c < 3; ++c) {
                const double expected = std::clamp(exact[c] * 255, 0.0, 255.0);
                QVERIFY2(qAbs(got[c] - expected) <= 0.5,
                         qPrintable(QStringLiteral("picture %1, channel %2: %3, exact %4")
                                        .arg(i)
                                        .arg(c)
                                        .arg(got[c])
                                        .arg(expected)));
            }
        }
    }

    void exactConverterMatchesAFloatReference_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("full");
        QTest::addColumn<int>("colorspace");
        QTest::addColumn<double>("kr");
        QTest::addColumn<double>("kb");
        QTest::addColumn<bool>("centred"); // chroma between two luma columns
        QTest::newRow("BT.709, limited, sited left")
            << int(AV_PIX_FMT_YUV420P) << false << int(AVCOL_SPC_BT709) << 0.2126 << 0.0722
            << false;
        QTest::newRow("JPEG: BT.601, full, centred")
            << int(AV_PIX_FMT_YUVJ420P) << true << int(AVCOL_SPC_BT470BG) << 0.299 << 0.114 << true;
    }
    void exactConverterMatchesAFloatReference()
    {
        QFETCH(int, format);
        QFETCH(bool, full);
        QFETCH(int, colorspace);
        QFETCH(double, kr);
        QFETCH(double, kb);
        QFETCH(bool, centred);
        // Odd sizes, so the last chroma column and row serve one luma column and row.
        const int width = 37, height = 23;
        AVFramePtr picture(av_frame_alloc());
        QVERIFY(picture);
        picture->width = width;
        picture->height = height;
        picture->format = format;
        QVERIFY(av_frame_get_buffer(picture.get(), 0) >= 0);
        QRandomGenerator random(27);
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < (plane ? (height + 1) / 2 : height); ++y)
                for (int x = 0; x < (plane ? (width + 1) / 2 : width); ++x)
                    picture->data[plane][y * picture->linesize[plane] + x] =
                        uint8_t(random.bounded(256));
        ExactYuvConverter converter;
        QVERIFY(converter.fit(width, height, format, full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                              colorspace, centred ? AVCHROMA_LOC_CENTER : AVCHROMA_LOC_LEFT));
        std::vector<uint32_t> rgb(size_t(width) * height);
        converter.convertRows(*picture, 0, height, reinterpret_cast<uint8_t *>(rgb.data()),
                              width * 4);

        // Chroma at a luma pixel, interpolated bilinearly from where it is sited.
        auto chroma = [&](int plane, int x, int y) {
            const double cx = centred ? x / 2.0 - 0.25 : x / 2.0, cy = y / 2.0 - 0.25;
            const int x0 = int(std::floor(cx)), y0 = int(std::floor(cy));
            auto at = [&](int i, int j) {
                i = std::clamp(i, 0, (width - 1) / 2);
                j = std::clamp(j, 0, (height - 1) / 2);
                return double(picture->data[plane][j * picture->linesize[plane] + i]);
            };
            const double fx = cx - x0, fy = cy - y0;
            return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                   fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
        };
        double bias = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int luma = picture->data[0][y * picture->linesize[0] + x];
                const double l = full ? luma / 255.0 : (luma - 16) / 219.0;
                const double cb = (chroma(1, x, y) - 128) / (full ? 255.0 : 224.0);
                const double cr = (chroma(2, x, y) - 128) / (full ? 255.0 : 224.0);
                const double kg = 1 - kr - kb;
                const double exact[3] = {l + 2 * (1 - kr) * cr,
                                         l - 2 * kb * (1 - kb) / kg * cb -
                                             2 * kr * (1 - kr) / kg * cr,
                                         l + 2 * (1 - kb) * cb};
                const QRgb got = rgb[size_t(y) * width + x];
                const int channels[3] = {qRed(got), qGreen(got), qBlue(got)};
                for (int c = 0; c < 3; ++c) {
                    const double expected = std::clamp(exact[c] * 255, 0.0, 255.0);
                    QVERIFY2(qAbs(channels[c] - expected) < 1,
                             qPrintable(QStringLiteral("(%1, %2) channel %3: %4, exact %5")
                                            .arg(x)
                                            .arg(y)
                                            .arg(c)
                                            .arg(channels[c])
                                            .arg(expected)));
                    bias += channels[c] - expected;
                }
            }
        }
        QVERIFY2(qAbs(bias / (3.0 * width * height)) < 0.02, qPrintable(QString::number(bias)));
    }

    void toneMapsHdrPictures_data()
    {
        QTest::addColumn<QString>("transfer"); // zscale's name
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("afterSdr"); // the stream starts SDR and switches mid-way
        QTest::addColumn<QString>("format");
        const QString deep = QStringLiteral("yuv420p10le");
        QTest::newRow("PQ") << "smpte2084"
                            << "smpte2084" << false << deep;
        QTest::newRow("HLG") << "arib-std-b67"
                             << "arib-std-b67" << false << deep;
        QTest::newRow("SDR, then PQ") << "smpte2084"
                                      << "smpte2084" << true << deep;
        // Tagged with the transfer only, in formats zimg takes only with the
        // right matrix, or converted.
        QTest::newRow("PQ, 8-bit 4:2:0") << "smpte2084"
                                         << "smpte2084" << false << "yuv420p";
        QTest::newRow("PQ, grey") << "smpte2084"
                                  << "smpte2084" << false << "gray";
        QTest::newRow("PQ, RGB") << "smpte2084"
                                 << "smpte2084" << false << "gbrp";
    }
    void toneMapsHdrPictures()
    {
        QFETCH(QString, transfer);
        QFETCH(QString, tag);
        QFETCH(bool, afterSdr);
        QFETCH(QString, format);
        const QImage known = knownColours();
        const int count = 6;
        const QString sdr = dir.filePath("known-sdr.mkv");
        if (!QFileInfo::exists(sdr))
            QVERIFY(writeVideo(sdr, pictureList(QList<QImage>(count, known))));
        const QImage original = format == QLatin1String("gray")
                                    ? known.convertToFormat(QImage::Format_Grayscale8)
                                          .convertToFormat(QImage::Format_RGB32)
                                    : known;
        QString path = dir.filePath(QStringLiteral("known-%1-%2.mkv").arg(tag, format));
        if (!afterSdr) {
            QStringList untagged;
            if (format != QLatin1String("yuv420p10le"))
                untagged = {"-color_primaries", "unknown",      "-colorspace",
                            "unknown",          "-color_range", "unknown"};
            const QString failed = runFfmpeg(toTransfer(sdr, transfer, tag, format) + untagged +
                                             QStringList{"-c:v", "ffv1", path});
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        } else {
            // Two HEVC streams back to back: the tag changes with the second
            // one's parameter sets, while the stream says SDR.
            if (QProcess::execute(QStringLiteral("sh"),
                                  {"-c", "ffmpeg -hide_banner -encoders | grep -q libx265"}) != 0)
                QSKIP("Debian's ffmpeg has no libx265 here");
            const QStringList x265 = {
                "-c:v", "libx265", "-x265-params", "lossless=1:log-level=error", "-f", "hevc"};
            const QString first = dir.filePath("switch-sdr.hevc");
            const QString second = dir.filePath("switch-pq.hevc");
            QString failed =
                runFfmpeg(toTransfer(sdr, "bt709", "bt709") + x265 + QStringList{first});
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
            failed = runFfmpeg(toTransfer(sdr, transfer, tag) + x265 + QStringList{second});
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
            path = dir.filePath("switch.hevc");
            QFile joined(path);
            QVERIFY(joined.open(QIODevice::WriteOnly));
            for (const QString &part : {first, second}) {
                QFile file(part);
                QVERIFY(file.open(QIODevice::ReadOnly));
                joined.write(file.readAll());
            }
        }

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), afterSdr ? 2 * count : count);
        double worst = 0;
        for (int i = 0; i < reading.pictures.size(); ++i) {
            const double error = colourError(reading.pictures[i], original);
            worst = std::max(worst, error);
            QVERIFY2(
                error <= 25,
                qPrintable(QStringLiteral("picture %1 is off by %2 levels").arg(i).arg(error)));
        }
        qInfo("%s: off by %.1f levels per channel at most", QTest::currentDataTag(), worst);
    }

    void tonemapPeakFromMetadata_data()
    {
        QTest::addColumn<int>("pictureLight");   // MaxCLL in cd/m2, 0: none
        QTest::addColumn<int>("pictureDisplay"); // mastering peak in cd/m2, 0: none
        QTest::addColumn<int>("streamDisplay");
        QTest::addColumn<double>("peak");
        QTest::newRow("nothing said: 1000 cd/m2") << 0 << 0 << 0 << 10.0;
        QTest::newRow("content light level") << 400 << 4000 << 0 << 4.0;
        QTest::newRow("mastering display") << 0 << 4000 << 1000 << 40.0;
        QTest::newRow("the stream's mastering display") << 0 << 0 << 2000 << 20.0;
        QTest::newRow("darker than SDR white") << 50 << 0 << 0 << 1.0;
    }
    void tonemapPeakFromMetadata()
    {
        QFETCH(int, pictureLight);
        QFETCH(int, pictureDisplay);
        QFETCH(int, streamDisplay);
        QFETCH(double, peak);
        AVFramePtr picture(av_frame_alloc());
        QVERIFY(picture);
        if (pictureLight > 0) {
            AVContentLightMetadata *light =
                av_content_light_metadata_create_side_data(picture.get());
            QVERIFY(light);
            light->MaxCLL = unsigned(pictureLight);
        }
        if (pictureDisplay > 0) {
            AVMasteringDisplayMetadata *display =
                av_mastering_display_metadata_create_side_data(picture.get());
            QVERIFY(display);
            display->has_luminance = 1;
            display->max_luminance = {pictureDisplay, 1};
        }
        AVFormatOutputPtr container(avformat_alloc_context());
        QVERIFY(container);
        AVStream *stream = avformat_new_stream(container.get(), nullptr);
        QVERIFY(stream);
        if (streamDisplay > 0) {
            AVMasteringDisplayMetadata *display = av_mastering_display_metadata_alloc();
            QVERIFY(display);
            display->has_luminance = 1;
            display->max_luminance = {streamDisplay, 1};
            QVERIFY(av_stream_add_side_data(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA,
                                            reinterpret_cast<uint8_t *>(display),
                                            sizeof *display) >= 0);
        }
        QCOMPARE(signalPeak(*picture, *stream), peak);
    }

    void converts420AtAnyWidthAsFfmpegDoes_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("90: 2 over a multiple of 8") << 90;
        QTest::newRow("94: 6 over") << 94;
        QTest::newRow("96: a multiple of 8") << 96;
    }
    void converts420AtAnyWidthAsFfmpegDoes()
    {
        QFETCH(int, width);
        const QString yuv = dir.filePath(QStringLiteral("width-%1.mkv").arg(width));
        const QString rgb = dir.filePath(QStringLiteral("width-%1-rgb.mkv").arg(width));
        QString failed =
            runFfmpeg({"-f", "lavfi", "-i", QStringLiteral("testsrc2=s=%1x50").arg(width),
                       "-frames:v", "3", "-pix_fmt", "yuv420p", "-c:v", "ffv1", yuv});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        // ffmpeg's own conversion, into rows with room to spare, kept losslessly.
        failed = runFfmpeg({"-i", yuv, "-pix_fmt", "bgr0", "-c:v", "ffv1", rgb});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        FrameSourcePtr ours = openFrameSource(QFile::encodeName(yuv));
        FrameSourcePtr theirs = openFrameSource(QFile::encodeName(rgb));
        QVERIFY(ours && theirs);
        const Reading a = readAll(ours.get());
        const Reading b = readAll(theirs.get());
        QCOMPARE(a.pictures.size(), 3);
        QCOMPARE(a.pictures, b.pictures);
    }

    void observedBandsGiveTheSamePictures_data()
    {
        QTest::addColumn<QSize>("output");
        QTest::addColumn<bool>("exact");
        QTest::newRow("own size") << QSize(0, 0) << false;
        QTest::newRow("scaled") << QSize(3001, 57) << false;
        QTest::newRow("own size, exact colours") << QSize(0, 0) << true;
    }
    void observedBandsGiveTheSamePictures()
    {
        QFETCH(QSize, output);
        QFETCH(bool, exact);
        // Wide enough for several bands; 4:2:0, so a band starting on the
        // wrong chroma row would show. Every row differs from the next.
        const QSize size(4096, 72);
        VideoStream video;
        video.codec = Codec::Mpeg4;
        video.pictureCount = 3;
        video.picture = [size](int i) {
            QImage image(size, QImage::Format_RGB32);
            for (int y = 0; y < size.height(); ++y) {
                auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = 0; x < size.width(); ++x)
                    row[x] = qRgb((x / 16 + 40 * i) & 255, (y * 7) & 255, (x + y * 3) & 255);
            }
            return image;
        };
        const QString path = dir.filePath("bands.mkv");
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

        const QByteArray name = QFile::encodeName(path);
        const FrameSourceOptions options{
            .width = output.width(), .height = output.height(), .exactColours = exact};
        FrameSourcePtr plain = openFrameSource(name, options);
        FrameSourcePtr observed = openFrameSource(name, options);
        QVERIFY(plain && observed);
        const Reading expected = readAll(plain.get());
        QCOMPARE(expected.pictures.size(), 3);

        QList<QPair<int, int>> bands;
        setRowObserver(observed.get(), [&bands](int firstRow, int rowCount) {
            bands.append({firstRow, rowCount});
        });
        const int height = outputHeight(observed.get());
        int delivered = 0;
        FrameStatus status;
        while ((status = readFrame(observed.get())) != EndOfStream) {
            if (status != FrameReady) {
                QVERIFY(bands.isEmpty());
                continue;
            }
            QVERIFY2(bands.size() > 2, qPrintable(QString::number(bands.size())));
            int next = 0;
            for (const auto &[firstRow, rowCount] : bands) {
                QCOMPARE(firstRow, next);
                QVERIFY(rowCount > 0);
                next += rowCount;
            }
            QCOMPARE(next, height);
            QVERIFY(delivered < expected.pictures.size());
            QCOMPARE(frameView(observed.get()), expected.pictures[delivered++]);
            bands.clear();
        }
        QCOMPARE(delivered, expected.pictures.size());
    }

    void deliversPicturesAsDisplayed_data()
    {
        QTest::addColumn<int>("rotate");     // the mov muxer's tag, turned into a display matrix
        QTest::addColumn<QString>("filter"); // turns the stored pictures the same way
        QTest::newRow("quarter turn anticlockwise") << 90 << "transpose=cclock";
        QTest::newRow("half turn") << 180 << "hflip,vflip";
        QTest::newRow("quarter turn clockwise") << 270 << "transpose=clock";
        QTest::newRow("no turn: as stored") << 0 << "null";
    }
    void deliversPicturesAsDisplayed()
    {
        QFETCH(int, rotate);
        QFETCH(QString, filter);
        // Lossless RGB, odd sizes, no symmetry, every picture different;
        // wide enough that observed output comes in several bands.
        const QString stored = dir.filePath("stored.mov");
        QString error;
        if (!QFileInfo::exists(stored))
            error = runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=1999x37:rate=5:duration=0.6",
                               "-pix_fmt", "rgb24", "-c:v", "png", stored});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QString turned = dir.filePath(QStringLiteral("turned-%1.mov").arg(rotate));
        const QString expected = dir.filePath(QStringLiteral("expected-%1.mkv").arg(rotate));
        error = runFfmpeg({"-i", stored, "-c", "copy", "-metadata:s:v:0",
                           QStringLiteral("rotate=%1").arg(rotate), turned});
        if (error.isEmpty())
            error = runFfmpeg({"-i", stored, "-vf", filter, "-c:v", "png", expected});
        QVERIFY2(error.isEmpty(), qPrintable(error));

        FrameSourcePtr reference = openFrameSource(QFile::encodeName(expected));
        FrameSourcePtr source = openFrameSource(QFile::encodeName(turned));
        QVERIFY(reference && source);
        QCOMPARE(outputWidth(source.get()), outputWidth(reference.get()));
        QCOMPARE(outputHeight(source.get()), outputHeight(reference.get()));
        const Reading wanted = readAll(reference.get());
        QCOMPARE(wanted.pictures.size(), 3);

        int nextRow = 0;
        bool inOrder = true;
        setRowObserver(source.get(), [&](int firstRow, int rowCount) {
            inOrder = inOrder && firstRow == nextRow && rowCount > 0;
            nextRow = firstRow + rowCount;
        });
        const int height = outputHeight(source.get());
        int delivered = 0;
        for (int i = 0; i < callLimit; ++i) {
            const FrameStatus status = readFrame(source.get());
            if (status == EndOfStream)
                break;
            if (status != FrameReady)
                continue;
            QVERIFY(inOrder && nextRow == height);
            QVERIFY(delivered < wanted.pictures.size());
            QVERIFY2(frameView(source.get()) == wanted.pictures[delivered],
                     qPrintable(QStringLiteral("picture %1").arg(delivered)));
            ++delivered;
            nextRow = 0;
        }
        QCOMPARE(delivered, wanted.pictures.size());
    }

    void mirrorsAsTheDisplayMatrixAsks_data()
    {
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<bool>("vertical");
        QTest::newRow("left to right") << true << false;
        QTest::newRow("top to bottom") << false << true;
    }
    void mirrorsAsTheDisplayMatrixAsks()
    {
        QFETCH(bool, horizontal);
        QFETCH(bool, vertical);
        QImage picture(37, 22, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x * 6, y * 11, (x * y) & 255));
        }
        VideoStream video = pictureList({picture});
        av_display_rotation_set(video.displayMatrix.data(), 0);
        av_display_matrix_flip(video.displayMatrix.data(), horizontal, vertical);
        const QString path =
            dir.filePath(QStringLiteral("mirrored-%1-%2.mov").arg(horizontal).arg(vertical));
        QString error;
        QVERIFY2(writeVideo(path, video, &error), qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        const Reading reading = readAll(source.get());
        QCOMPARE(reading.pictures.size(), 1);
        QCOMPARE(reading.pictures[0], picture.mirrored(horizontal, vertical));
    }

    void timesPicturesFromTheStartOfTheFile_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("firstTime");
        QTest::newRow("matroska") << "mkv" << 2.0;
        QTest::newRow("nut") << "nut" << 2.0;
        QTest::newRow("mov, the stream's own length") << "mov" << 2.0;
        // AVI keeps no start offset: its muxer writes the first picture at 0.
        QTest::newRow("avi") << "avi" << 0.0;
    }
    void timesPicturesFromTheStartOfTheFile()
    {
        QFETCH(QString, extension);
        QFETCH(double, firstTime);
        // Video from 2 s to 4 s of the file, after 2 s of sound alone.
        const QString made = dir.filePath("late-times.mkv");
        const QString path = dir.filePath("late-times." + extension);
        QString error;
        if (!QFileInfo::exists(made))
            error = runFfmpeg({"-f", "lavfi", "-i", "sine=duration=4", "-itsoffset", "2", "-f",
                               "lavfi", "-i", "testsrc=size=32x24:rate=10:duration=2", "-map",
                               "1:v", "-map", "0:a", "-c:v", "ffv1", "-c:a", "pcm_s16le", made});
        if (error.isEmpty() && path != made)
            error = runFfmpeg({"-i", made, "-c", "copy", path});
        QVERIFY2(error.isEmpty(), qPrintable(error));

        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        QList<double> times, fractions;
        for (int i = 0; i < callLimit; ++i) {
            const FrameStatus status = readFrame(source.get());
            if (status == EndOfStream)
                break;
            if (status == FrameReady) {
                times.append(currentPictureTime(source.get()));
                fractions.append(progressFraction(source.get()));
            }
        }
        QCOMPARE(times.size(), 20);
        for (int i = 0; i < times.size(); ++i) {
            const double expected = i == 0 ? firstTime : 2.0 + i / 10.0;
            QVERIFY2(qAbs(times[i] - expected) < 1e-6,
                     qPrintable(QStringLiteral("picture %1 at %2 s").arg(i).arg(times[i])));
        }
        // Progress counts the sound before the video too, and ends near 100%.
        QVERIFY2(
            fractions.first() < 0.75 && fractions.last() > 0.9,
            qPrintable(QStringLiteral("%1 .. %2").arg(fractions.first()).arg(fractions.last())));
    }

    void seeksToThePicturesARunRead_data()
    {
        QTest::addColumn<QString>("name");
        // Recovery points instead of key pictures after the first.
        QTest::newRow("h264, intra refresh, matroska") << "refresh.mkv";
        QTest::newRow("h264, intra refresh, mp4") << "refresh.mp4";
        // Key pictures followed by B-frames that also refer to the picture
        // before, in an index of decoding times.
        QTest::newRow("mpeg4, open GOPs, avi") << "open-gop.avi";
    }
    void seeksToThePicturesARunRead()
    {
        QFETCH(QString, name);
        const QString path = dir.filePath(name);
        if (name.startsWith(QLatin1String("refresh"))) {
            const QString failed = runFfmpeg(
                {"-f", "lavfi", "-i", "testsrc2=size=128x96:rate=25:duration=4", "-pix_fmt",
                 "yuv420p", "-c:v", "libx264", "-x264-params", "intra-refresh=1:keyint=25", path});
            if (!failed.isEmpty())
                QSKIP(qPrintable("no intra-refresh H.264 here: " + failed));
        } else {
            VideoStream video = uniformColours({64, 48}, paletteColours(60), Codec::Mpeg4);
            video.maxBFrames = 3;
            video.gopSize = 20;
            QVERIFY(writeVideo(path, video));
        }
        QVERIFY(countKeyVideoPackets(path) > 1);
        FrameSourcePtr all = openFrameSource(QFile::encodeName(path));
        FrameSourcePtr finder = openFrameSource(QFile::encodeName(path));
        QVERIFY(all && finder);
        const Reading every = readAll(all.get());
        const int last = int(every.pictures.size()) - 1;
        QVERIFY(last > 50);
        // Steps forward (across a key picture too) and the same picture again read on.
        for (const int i : {last, 26, 3, last - 1, 25, 18, 19, 20, 21, 21, 24, 41, 40}) {
            QCOMPARE(seekPicture(finder.get(), every.times[i]), FrameReady);
            QCOMPARE(currentPictureTime(finder.get()), every.times[i]);
            QVERIFY2(frameView(finder.get()) == every.pictures[i],
                     qPrintable(QStringLiteral("picture %1").arg(i)));
        }
    }

    void keyPicturesOfIntraRefreshAreWholePicturesOnly()
    {
        // A recovery point decoded alone is not yet a whole picture: only the
        // first picture is a key picture, though the container flags more.
        const QString path = dir.filePath("refresh.mkv");
        if (!QFileInfo::exists(path))
            QSKIP("no intra-refresh H.264 here");
        QVERIFY(countKeyVideoPackets(path) > 1);
        FrameSourcePtr keys = openFrameSource(QFile::encodeName(path));
        FrameSourcePtr all = openFrameSource(QFile::encodeName(path));
        QVERIFY(keys && all);
        setKeyPicturesOnly(keys.get(), true);
        const Reading first = readAll(keys.get());
        QCOMPARE(first.pictures.size(), 1);
        QCOMPARE(first.pictures[0], readAll(all.get()).pictures[0]);
    }

    void imageOverTheBufferShowsTheNewestPicture()
    {
        const QString path = dir.filePath("wrap.mkv");
        QVERIFY(writeVideo(path, uniformColours({64, 48}, {0xff102030, 0xffa0b0c0, 0xff405060})));
        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        FrameStatus status;
        while ((status = readFrame(source.get())) < EndOfStream) {
        }
        QCOMPARE(status, FrameReady);
        const QImage wrapped = frameView(source.get());
        QCOMPARE(wrapped.pixel(5, 5), 0xff102030u);
        while ((status = readFrame(source.get())) < EndOfStream) {
        }
        QCOMPARE(status, FrameReady);
        QCOMPARE(wrapped.pixel(5, 5), 0xffa0b0c0u);
        QVERIFY(firstMismatch(wrapped, 0xffa0b0c0).isEmpty());
    }

    void reportsHowFarItHasRead()
    {
        constexpr int count = 50;
        VideoStream video = uniformColours({64, 48}, QList<QRgb>(count, 0xff808080), Codec::Mpeg4);
        video.maxBFrames = 2;
        const QString path = dir.filePath("progress.mkv");
        QVERIFY(writeVideo(path, video));
        FrameSourcePtr source = openFrameSource(QFile::encodeName(path));
        QVERIFY(source);
        QCOMPARE(fileSize(source.get()), QFileInfo(path).size());
        QVERIFY(qAbs(streamDuration(source.get()) - count / 25.0) <= 1 / 25.0 + 1e-9);
        QVERIFY(currentPictureTime(source.get()) < 0);

        int pictures = 0;
        int64_t position = readPosition(source.get());
        for (int i = 0; i < callLimit; ++i) {
            const FrameStatus status = readFrame(source.get());
            if (status == EndOfStream)
                break;
            QVERIFY(readPosition(source.get()) >= position);
            position = readPosition(source.get());
            QVERIFY(position <= fileSize(source.get()));
            if (status == FrameReady) {
                QVERIFY2(qAbs(currentPictureTime(source.get()) - pictures / 25.0) < 1e-6,
                         qPrintable(QString::number(currentPictureTime(source.get()))));
                ++pictures;
            }
        }
        QCOMPARE(pictures, count);
    }
};

QTEST_GUILESS_MAIN(TestFrameSource)
#include "test_framesource.moc"
