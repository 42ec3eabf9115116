// reelmeter-batch as one task of many: lists, shards, skipping what is done,
// the report and the comparison of many videos.
#include "batch/videolist.h"
#include "batchprocess.h"
#include "export/filename.h"
#include "export/outputs.h"
#include "export/stripexport.h"
#include "testfiles.h"
#include "testvideo.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using batchprocess::run;

namespace {

// The report's lines as objects, and how many there are of each status.
QList<QJsonObject> reportOf(const QString &fileName, QMap<QString, int> *statuses)
{
    QList<QJsonObject> lines;
    for (const QByteArray &line : contentsOf(fileName).split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            qWarning("Not a JSON object: %s", line.constData());
        lines << document.object();
        ++(*statuses)[document.object().value(QStringLiteral("status")).toString()];
    }
    return lines;
}

// A directory of copies of the test videos, under the names given.
QString copiesIn(const QTemporaryDir &work, const QStringList &videos, const QStringList &names)
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!QFile::copy(videos[i % videos.size()], work.filePath(names[i])))
            return QString();
    }
    return work.path();
}

bool exists(const QByteArray &path)
{
    struct stat status;
    return ::lstat(path.constData(), &status) == 0;
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shardsCoverEveryVideoOnce();
    void listReportAndRerun();
    void listsOfEveryKindNameEachVideoWhole_data();
    void listsOfEveryKindNameEachVideoWhole();
    void listsThatAreNoListsAreRefused_data();
    void listsThatAreNoListsAreRefused();
    void namesKeepTheirBytes();
    void reportIsAFileOfItsOwn_data();
    void reportIsAFileOfItsOwn();
    void reportFollowsALinkLikeALog();
    void outputsAreUpToDateOnlyWhenNothingChanged_data();
    void outputsAreUpToDateOnlyWhenNothingChanged();
    void comparisonRowsAreThePosters();

private:
    QTemporaryDir dir;
    QStringList videos; // different colours, one name with spaces
};

void TestArchive::initTestCase()
{
    QVERIFY(dir.isValid());
    const QStringList names = {QStringLiteral("first film.mkv"), QStringLiteral("second.mkv"),
                               QStringLiteral("third.mkv")};
    for (qsizetype i = 0; i < names.size(); ++i) {
        videos << dir.filePath(names[i]);
        const auto colours = testvideo::paletteColours(6 + int(i) * 3).mid(int(i) * 3);
        QVERIFY(testvideo::writeVideo(videos.last(),
                                      testvideo::uniformColours(QSize(32, 24), colours)));
    }
}

void TestArchive::shardsCoverEveryVideoOnce()
{
    const QStringList listed = {
        QStringLiteral("a"),      QStringLiteral("b"), QStringLiteral("./a"), QStringLiteral("c"),
        QStringLiteral("d/../b"), QStringLiteral("e"), QStringLiteral("f"),   QStringLiteral("g")};
    const QStringList unique = withoutDuplicates(listed);
    QCOMPARE(unique, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                  QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g")}));
    for (int count = 1; count <= 5; ++count) {
        QStringList covered;
        for (int index = 0; index < count; ++index)
            covered += shardOf(unique, {index, count});
        covered.sort();
        QCOMPARE(covered, unique);
    }
    for (const char *bad : {"3/3", "-1/2", "1", "1/0", "a/b", "1/2/3"})
        QVERIFY2(!parseShard(QString::fromLatin1(bad)), bad);

    // Links are the same file by another name.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString film = work.filePath(QStringLiteral("film.mkv"));
    QVERIFY(QFile::copy(videos[0], film));
    QCOMPARE(::link(QFile::encodeName(film), QFile::encodeName(film + ".hard")), 0);
    QVERIFY(QFile::link(film, film + ".soft"));
    QCOMPARE(withoutDuplicates({film + ".soft", film, film + ".hard"}),
             QStringList{film + ".soft"});
}

void TestArchive::listReportAndRerun()
{
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    const QString missing = dir.filePath(QStringLiteral("missing film.mkv"));
    const QByteArray list = videos[0].toUtf8() + "\n\n  \n" + videos[1].toUtf8() + "\n" +
                            missing.toUtf8() + "\n" + videos[2].toUtf8() + "\n" +
                            videos[0].toUtf8() + "\n";
    const QStringList arguments = {QStringLiteral("-q"),     QStringLiteral("-o"),       out,
                                   QStringLiteral("--csv"),  QStringLiteral("--report"), report,
                                   QStringLiteral("--from"), QStringLiteral("-")};
    auto result = run(arguments, QString(), list);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QMap<QString, int> statuses;
    const QList<QJsonObject> lines = reportOf(report, &statuses);
    QCOMPARE(statuses,
             (QMap<QString, int>{{QStringLiteral("written"), 3}, {QStringLiteral("failed"), 1}}));
    QCOMPARE(lines[0].value(QStringLiteral("path")).toString(), videos[0]);
    QCOMPARE(lines[0].value(QStringLiteral("pictures")).toInt(), 6);
    QCOMPARE(lines[0].value(QStringLiteral("outputs")).toArray().size(), 5);
    const auto failed = std::find_if(lines.begin(), lines.end(), [](const QJsonObject &line) {
        return line.value(QStringLiteral("status")) == QStringLiteral("failed");
    });
    QCOMPARE(failed->value(QStringLiteral("error")).toString(),
             QStringLiteral("No such file or directory."));

    // A node that died while writing the second video's files.
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(out).entryList(QDir::Files))
        files.insert(name, contentsOf(QDir(out).filePath(name)));
    QCOMPARE(files.size(), 15);
    QVERIFY(QFile::remove(QDir(out).filePath(QStringLiteral("second.mkv-colours.csv"))));
    QFile::remove(report);
    result = run(arguments + QStringList{QStringLiteral("--skip-existing")}, QString(), list);
    QVERIFY(result.finished);
    statuses.clear();
    reportOf(report, &statuses);
    QCOMPARE(statuses, (QMap<QString, int>{{QStringLiteral("skipped"), 2},
                                           {QStringLiteral("written"), 1},
                                           {QStringLiteral("failed"), 1}}));
    for (const QString &name : QDir(out).entryList(QDir::Files))
        QVERIFY2(files.value(name) == contentsOf(QDir(out).filePath(name)), qPrintable(name));
}

void TestArchive::comparisonRowsAreThePosters()
{
    const QString out = dir.filePath(QStringLiteral("compared"));
    const QString comparison = dir.filePath(QStringLiteral("all.png"));
    const int width = 12;
    const int height = 5;
    const auto result =
        run(QStringList{QStringLiteral("-q"), QStringLiteral("-o"), out, QStringLiteral("--strips"),
                        QStringLiteral("average,mood"), QStringLiteral("--width"),
                        QString::number(width), QStringLiteral("--height"), QString::number(height),
                        QStringLiteral("--format"), QStringLiteral("png"),
                        QStringLiteral("--compare"), comparison} +
            videos);
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);

    const QImage image = QImage(comparison).convertToFormat(QImage::Format_RGB32);
    const int rowHeight = 2 * height;
    QVERIFY2(image.height() > 3 * rowHeight + 2 * 4, "the legend adds rows under them");
    QVERIFY(image.width() > width);
    const int left = image.width() - width;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const int top = int(i) * (rowHeight + 4);
        const QString base = QDir(out).filePath(QFileInfo(videos[i]).fileName());
        int y = top;
        for (StripKind kind : {StripKind::Average, StripKind::Mood}) {
            const QImage strip = QImage(base + stripSuffix(kind, QStringLiteral("png")))
                                     .convertToFormat(QImage::Format_RGB32);
            QCOMPARE(strip.size(), QSize(width, height));
            QCOMPARE(image.copy(left, y, width, height), strip);
            y += height;
        }
    }

    // In proportion to time, a film of a third of the others' length takes
    // a third of the width; the others are drawn as before.
    const QString shortFilm = dir.filePath(QStringLiteral("short.mkv"));
    QVERIFY(testvideo::writeVideo(
        shortFilm, testvideo::uniformColours(QSize(32, 24), testvideo::paletteColours(2))));
    const QString scaled = dir.filePath(QStringLiteral("scaled.png"));
    QCOMPARE(
        run(QStringList{QStringLiteral("-q"), QStringLiteral("-o"), out, QStringLiteral("--strips"),
                        QStringLiteral("average,mood"), QStringLiteral("--width"),
                        QString::number(width), QStringLiteral("--height"), QString::number(height),
                        QStringLiteral("--format"), QStringLiteral("png"),
                        QStringLiteral("--skip-existing"), QStringLiteral("--compare"), scaled,
                        QStringLiteral("--compare-scale"), QStringLiteral("time")} +
            videos + QStringList{shortFilm})
            .exitCode,
        0);
    const QImage byTime = QImage(scaled).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(byTime.copy(0, 0, byTime.width(), 3 * (rowHeight + 4)),
             image.copy(0, 0, image.width(), 3 * (rowHeight + 4)));
    const int shortTop = 3 * (rowHeight + 4);
    const QRgb ground = byTime.pixel(0, shortTop);
    for (int x = 0; x < width; ++x)
        QCOMPARE(byTime.pixel(left + x, shortTop) == ground, x >= width / 3);
}

void TestArchive::listsOfEveryKindNameEachVideoWhole_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("list");
    const QByteArray names[] = {"./a.mkv", "./b c.mkv", "./c.mkv"};
    const auto joined = [&names](const QByteArray &separator) {
        return names[0] + separator + names[1] + separator + names[2] + separator;
    };
    // find . -print0 | reelmeter-batch --from -: cut at the first NUL, the
    // names once wrote a strip over c.mkv.
    QTest::addRow("NUL-separated") << QStringLiteral("--from") << joined(QByteArray(1, '\0'));
    QTest::addRow("--from0") << QStringLiteral("--from0") << joined(QByteArray(1, '\0'));
    QTest::addRow("CRLF") << QStringLiteral("--from") << joined("\r\n");
}

void TestArchive::listsOfEveryKindNameEachVideoWhole()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, list);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QStringList names = {QStringLiteral("a.mkv"), QStringLiteral("b c.mkv"),
                               QStringLiteral("c.mkv")};
    QVERIFY(!copiesIn(work, videos, names).isEmpty());
    QMap<QString, QByteArray> before;
    for (const QString &name : names)
        before.insert(name, contentsOf(work.filePath(name)));

    const auto result = run({QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("out"),
                             option, QStringLiteral("-")},
                            work.path(), list);
    QVERIFY(result.finished);
    QCOMPARE(result.errorLines, QStringList());
    QCOMPARE(result.exitCode, 0);
    for (const QString &name : names) {
        QCOMPARE(contentsOf(work.filePath(name)), before.value(name));
        for (StripKind kind : savedStripKinds())
            QVERIFY(
                QFile::exists(work.filePath(QStringLiteral("out/") + name + stripSuffix(kind))));
    }
    QCOMPARE(QDir(work.filePath(QStringLiteral("out"))).entryList(QDir::Files).size(), 12);
}

void TestArchive::listsThatAreNoListsAreRefused_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("closeInput");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addRow("endless device") << QStringLiteral("/dev/zero") << QByteArray() << false << 1
                                    << QStringLiteral("/dev/zero: This is a device, not a list.");
    QTest::addRow("name longer than any path")
        << QStringLiteral("-") << QByteArray("a.mkv\n") + QByteArray(5000, 'x') << false << 2
        << QStringLiteral("-: Line 2 is longer than 4096 bytes.");
    QTest::addRow("standard input closed") << QStringLiteral("-") << QByteArray() << true << 1
                                           << QStringLiteral("-: Standard input is closed.");
}

void TestArchive::listsThatAreNoListsAreRefused()
{
    QFETCH(QString, list);
    QFETCH(QByteArray, input);
    QFETCH(bool, closeInput);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QProcess tool;
    tool.setProcessEnvironment(batchprocess::withoutDisplay());
    const QStringList arguments = {QStringLiteral("--from"), list};
    if (closeInput)
        tool.start(QStringLiteral("sh"),
                   QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" <&-"),
                               QStringLiteral(REELMETER_BATCH)} +
                       arguments);
    else
        tool.start(QStringLiteral(REELMETER_BATCH), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(tool.readAllStandardError()).split('\n').constFirst(),
             QStringLiteral("reelmeter-batch: ") + error);
}

void TestArchive::namesKeepTheirBytes()
{
    // café in Latin-1: no valid UTF-8, so only a list can pass it unchanged.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QByteArray film = QFile::encodeName(work.path()) + "/caf\xe9.mkv";
    QCOMPARE(::link(QFile::encodeName(videos[0]).constData(), film.constData()), 0);
    const auto result =
        run({QStringLiteral("-q"), QStringLiteral("--from"), QStringLiteral("-")}, QString(),
            film + '\n' + QFile::encodeName(work.path()) + "/gon\xe9.mkv\n");
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    for (StripKind kind : savedStripKinds())
        QVERIFY(exists(film + stripSuffix(kind).toUtf8()));
    QCOMPARE(result.errorLines, QStringList{QStringLiteral("reelmeter-batch: ") + work.path() +
                                            QStringLiteral("/gon\\xe9.mkv: No such file or "
                                                           "directory.")});
    QCOMPARE(fileNameBytes(fileNameFromBytes(film)), film);
    // QTemporaryDir cannot name them.
    for (StripKind kind : savedStripKinds())
        ::unlink(film + stripSuffix(kind).toUtf8());
    ::unlink(film);
}

void TestArchive::reportIsAFileOfItsOwn_data()
{
    QTest::addColumn<QString>("report");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addRow("the video") << QStringLiteral("a.mkv") << 2
                               << QStringLiteral("The report a.mkv is the video a.mkv.");
    QTest::addRow("the video by a hard link")
        << QStringLiteral("hard.mkv") << 2
        << QStringLiteral("The report hard.mkv is the video a.mkv.");
    QTest::addRow("one of the outputs")
        << QStringLiteral("./a.mkv-averageDisplay.bmp") << 2
        << QStringLiteral("The report ./a.mkv-averageDisplay.bmp is also the file "
                          "a.mkv-averageDisplay.bmp to write.");
    // The open would wait for a reader for ever.
    QTest::addRow("a FIFO") << QStringLiteral("fifo") << 1
                            << QStringLiteral("fifo: The report must be a regular file.");
}

void TestArchive::reportIsAFileOfItsOwn()
{
    QFETCH(QString, report);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(!copiesIn(work, videos, {QStringLiteral("a.mkv")}).isEmpty());
    QCOMPARE(::link(QFile::encodeName(work.filePath(QStringLiteral("a.mkv"))),
                    QFile::encodeName(work.filePath(QStringLiteral("hard.mkv")))),
             0);
    QCOMPARE(::mkfifo(QFile::encodeName(work.filePath(QStringLiteral("fifo"))), 0600), 0);
    const QByteArray video = contentsOf(work.filePath(QStringLiteral("a.mkv")));

    const auto result =
        run({QStringLiteral("-q"), QStringLiteral("--report"), report, QStringLiteral("a.mkv")},
            work.path());
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.errorLines.constFirst(), QStringLiteral("reelmeter-batch: ") + error);
    QCOMPARE(contentsOf(work.filePath(QStringLiteral("a.mkv"))), video);
}

void TestArchive::reportFollowsALinkLikeALog()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(!copiesIn(work, videos, {QStringLiteral("a.mkv")}).isEmpty());
    const QString log = work.filePath(QStringLiteral("log.jsonl"));
    QVERIFY(QFile::link(log, work.filePath(QStringLiteral("link.jsonl"))));
    for (int i = 0; i < 2; ++i) {
        const auto result = run({QStringLiteral("-q"), QStringLiteral("--report"),
                                 QStringLiteral("link.jsonl"), QStringLiteral("a.mkv")},
                                work.path());
        QCOMPARE(result.exitCode, 0);
    }
    QVERIFY(QFileInfo(work.filePath(QStringLiteral("link.jsonl"))).isSymLink());
    QMap<QString, int> statuses;
    reportOf(log, &statuses);
    QCOMPARE(statuses, (QMap<QString, int>{{QStringLiteral("written"), 2}}));
}

void TestArchive::outputsAreUpToDateOnlyWhenNothingChanged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("again"); // options of the second run
    QTest::addColumn<bool>("skipped");
    QTest::addRow("nothing") << QString() << QStringList() << true;
    QTest::addRow("empty file") << QStringLiteral("empty") << QStringList() << false;
    QTest::addRow("link to a whole file") << QStringLiteral("link") << QStringList() << false;
    QTest::addRow("other height") << QString() << QStringList{QStringLiteral("--height=60")}
                                  << false;
    QTest::addRow("other sampling")
        << QString() << QStringList{QStringLiteral("--sample=0.5")} << false;
    QTest::addRow("exact colours")
        << QString() << QStringList{QStringLiteral("--colour=exact")} << false;
    QTest::addRow("video touched") << QStringLiteral("touch") << QStringList() << false;
    QTest::addRow("record from elsewhere") << QStringLiteral("record") << QStringList() << false;
}

void TestArchive::outputsAreUpToDateOnlyWhenNothingChanged()
{
    QFETCH(QString, change);
    QFETCH(QStringList, again);
    QFETCH(bool, skipped);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(!copiesIn(work, videos, {QStringLiteral("a.mkv"), QStringLiteral("b.mkv")}).isEmpty());
    const QStringList arguments = {QStringLiteral("-q"), QStringLiteral("--skip-existing"),
                                   QStringLiteral("--report"), QStringLiteral("report.jsonl"),
                                   QStringLiteral("a.mkv")};
    QCOMPARE(run(arguments, work.path()).exitCode, 0);
    const QString strip = work.filePath(QStringLiteral("a.mkv") + stripSuffix(StripKind::Mood));
    const QString brightness =
        work.filePath(QStringLiteral("a.mkv") + stripSuffix(StripKind::Brightness));
    const QString record = work.filePath(QStringLiteral("a.mkv") + recordSuffix());
    const QByteArray recorded = contentsOf(record);
    if (change == QLatin1String("link")) {
        QVERIFY(QFile::rename(brightness, strip));
        QVERIFY(QFile::link(strip, brightness));
    } else if (change == QLatin1String("empty")) {
        QFile empty(brightness);
        QVERIFY(empty.open(QIODevice::WriteOnly | QIODevice::Truncate));
    } else if (change == QLatin1String("touch")) {
        QFile video(work.filePath(QStringLiteral("a.mkv")));
        QVERIFY(video.open(QIODevice::ReadWrite));
        QVERIFY(video.setFileTime(video.fileTime(QFileDevice::FileModificationTime).addSecs(-60),
                                  QFileDevice::FileModificationTime));
    } else if (change == QLatin1String("record")) {
        // b.mkv's record beside a.mkv's files: the same settings, another video.
        QCOMPARE(run({QStringLiteral("-q"), QStringLiteral("b.mkv")}, work.path()).exitCode, 0);
        QVERIFY(QFile::remove(record));
        QVERIFY(QFile::copy(work.filePath(QStringLiteral("b.mkv") + recordSuffix()), record));
    }
    QCOMPARE(run(again + arguments, work.path()).exitCode, 0);
    QMap<QString, int> statuses;
    reportOf(work.filePath(QStringLiteral("report.jsonl")), &statuses);
    QCOMPARE(statuses, skipped ? (QMap<QString, int>{{QStringLiteral("written"), 1},
                                                     {QStringLiteral("skipped"), 1}})
                               : (QMap<QString, int>{{QStringLiteral("written"), 2}}));
    QVERIFY(!QFileInfo(brightness).isSymLink());
    QVERIFY(QFileInfo(brightness).size() > 0);
    if (!again.isEmpty() || change == QLatin1String("touch"))
        QVERIFY(contentsOf(record) != recorded);
}

QTEST_GUILESS_MAIN(TestArchive)
#include "test_archive.moc"
