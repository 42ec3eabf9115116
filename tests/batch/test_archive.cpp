// reelmeter-batch as one task of many: lists, shards, skipping what is done,
// the report and the comparison of many videos.
#include "batch/videolist.h"
#include "batchprocess.h"
#include "export/stripexport.h"
#include "testvideo.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using batchprocess::run;

namespace {

QByteArray contentsOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shardsCoverEveryVideoOnce();
    void listReportAndRerun();
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
    QCOMPARE(lines[0].value(QStringLiteral("outputs")).toArray().size(), 4);
    const auto failed = std::find_if(lines.begin(), lines.end(), [](const QJsonObject &line) {
        return line.value(QStringLiteral("status")) == QStringLiteral("failed");
    });
    QCOMPARE(failed->value(QStringLiteral("error")).toString(),
             QStringLiteral("No such file or directory."));

    // A node that died while writing the second video's files.
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(out).entryList(QDir::Files))
        files.insert(name, contentsOf(QDir(out).filePath(name)));
    QCOMPARE(files.size(), 12);
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
    QCOMPARE(image.height(), 3 * rowHeight + 2 * 4);
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
}

QTEST_GUILESS_MAIN(TestArchive)
#include "test_archive.moc"
