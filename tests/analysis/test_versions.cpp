// Two versions of a film aligned: the colour difference formula, and films
// made here with known edits and a known regrade.
#include "analysis/colourdifference.h"
#include "analysis/versions.h"
#include "export/versionsexport.h"
#include "testvideo.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

namespace {

constexpr QSize size(160, 90);

// One scene's picture: a gradient and blocks of its own, moving, with noise.
QImage scenePicture(int scene, int index)
{
    QImage picture(size, QImage::Format_RGB32);
    std::mt19937 layout(unsigned(scene) * 7919u);
    const int hue = int(layout() % 360);
    const QColor ground = QColor::fromHsv(hue, 140, 90 + int(layout() % 100));
    std::mt19937 noise(unsigned(scene) * 100003u + unsigned(index));
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int(noise() % 9) - 4;
            const int shade = (x + y) / 4 + grain;
            picture.setPixel(x, y,
                             qRgb(std::clamp(ground.red() + shade, 0, 255),
                                  std::clamp(ground.green() + shade, 0, 255),
                                  std::clamp(ground.blue() + shade, 0, 255)));
        }
    for (int block = 0; block < 3; ++block) {
        const int x = int(layout() % 120) + (index * (block + 1)) % 30;
        const int y = int(layout() % 60);
        const QColor colour = QColor::fromHsv((hue + 120 * (block + 1)) % 360, 200, 255);
        for (int dy = 0; dy < 24; ++dy)
            for (int dx = 0; dx < 30; ++dx)
                picture.setPixel(std::min(x + dx, size.width() - 1),
                                 std::min(y + dy, size.height() - 1), colour.rgb());
    }
    return picture;
}

// A grading curve: lifts the mid tones.
QImage regraded(QImage picture)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            const auto curve = [](int v) {
                return int(std::lround(255 * std::pow(v / 255.0, 0.7)));
            };
            picture.setPixel(x, y, qRgb(curve(qRed(p)), curve(qGreen(p)), curve(qBlue(p))));
        }
    return picture;
}

struct Part {
    int scene;
    int pictures;
    bool graded = false;
    int from = 0; // the scene's first picture shown
};

// A film of parts written losslessly and read as the batch tool reads it;
// with keyInterval, in MPEG-4 with a key picture every so many, read as
// sampling says.
VersionMeasures filmOf(const QString &path, const std::vector<Part> &parts,
                       const Sampling &sampling = Sampling(), int keyInterval = 0)
{
    std::vector<std::pair<int, int>> pictures; // part, index within it
    for (size_t p = 0; p < parts.size(); ++p)
        for (int i = 0; i < parts[p].pictures; ++i)
            pictures.emplace_back(int(p), i);
    testvideo::VideoStream stream;
    stream.pictureCount = int(pictures.size());
    if (keyInterval > 0) {
        stream.codec = testvideo::Codec::Mpeg4;
        stream.gopSize = keyInterval;
    }
    stream.picture = [&](int index) {
        const auto [p, i] = pictures[size_t(index)];
        if (parts[size_t(p)].scene < 0) {
            QImage black(size, QImage::Format_RGB32);
            black.fill(Qt::black);
            return black;
        }
        const QImage picture = scenePicture(parts[size_t(p)].scene, parts[size_t(p)].from + i);
        return parts[size_t(p)].graded ? regraded(picture) : picture;
    };
    QString why;
    if (!testvideo::writeVideo(path, stream, &why))
        qFatal("%s", qPrintable(why));
    const auto measured = measureVersion(
        path, sampling, [](const ReadProgress &) { return true; }, &why);
    if (!measured)
        qFatal("%s", qPrintable(why));
    return *measured;
}

// Only a film's key pictures, as an encoder places them: at each part's
// start and every 50 pictures within a part.
VersionFilm keyPictures(const VersionFilm &film, const std::vector<Part> &parts)
{
    VersionFilm keys;
    keys.end = film.end;
    int first = 0;
    for (const Part &part : parts) {
        for (int i = first; i < first + part.pictures; i += 50) {
            keys.times.push_back(film.times[size_t(i)]);
            keys.shapes.push_back(film.shapes[size_t(i)]);
            keys.labs.push_back(film.labs[size_t(i)]);
        }
        first += part.pictures;
    }
    return keys;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Part>)

class TestVersions : public QObject
{
    Q_OBJECT

private slots:
    // Pairs from Sharma, Wu and Dalal's table of CIEDE2000 test data.
    void colourDifference()
    {
        struct Pair {
            LabColour first, second;
            double difference;
        };
        const Pair pairs[] = {
            {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
            {{50, 0, 0}, {50, -1, 2}, 2.3669},
            {{50, 2.49, -0.001}, {50, -2.49, 0.0009}, 7.1792},
            {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
            {{50, 2.5, 0}, {50, 3.1736, 0.5854}, 1.0000},
            {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        };
        for (const Pair &pair : pairs) {
            QVERIFY(std::abs(deltaE2000(pair.first, pair.second) - pair.difference) < 1e-4);
            QVERIFY(std::abs(deltaE2000(pair.second, pair.first) - pair.difference) < 1e-4);
        }
        QCOMPARE(deltaE2000({40, 10, -5}, {40, 10, -5}), 0.0);
    }

    void sameFilm_data()
    {
        QTest::addColumn<std::vector<Part>>("parts");
        QTest::newRow("four shots") << std::vector<Part>{{0, 50}, {1, 40}, {2, 60}, {3, 45}};
        // Too short for a shot to match, or flat: still the same film.
        QTest::newRow("three pictures") << std::vector<Part>{{0, 3}};
        QTest::newRow("one picture") << std::vector<Part>{{2, 1}};
        QTest::newRow("black") << std::vector<Part>{{-1, 50}};
    }
    void sameFilm()
    {
        QFETCH(std::vector<Part>, parts);
        QTemporaryDir dir;
        const VersionMeasures a = filmOf(dir.filePath("a.mkv"), parts);
        const VersionAlignment alignment = alignVersions(a.film, a.film);
        QCOMPARE(alignment.segments.size(), size_t(1));
        const VersionSegment &segment = alignment.segments[0];
        QCOMPARE(segment.kind, VersionSegment::Same);
        QCOMPARE(segment.aFirst, 0);
        QCOMPARE(segment.aLast, int(a.film.times.size()) - 1);
        QCOMPARE(segment.bLast, segment.aLast);
        QCOMPARE(segment.deMean, 0.0);
        QCOMPARE(segment.deP95, 0.0);
    }

    // One scene removed and a new one inserted elsewhere, both within shots
    // of their own; then a part of the film regraded.
    void editsAndRegrade()
    {
        QTemporaryDir dir;
        const std::vector<Part> aParts = {{0, 75}, {1, 60}, {2, 80}, {3, 70}, {4, 65}, {5, 75}};
        const VersionMeasures a = filmOf(dir.filePath("a.mkv"), aParts);
        constexpr int removed = 2, insertedBefore = 5;
        std::vector<Part> bParts = aParts;
        bParts.insert(bParts.begin() + insertedBefore, Part{9, 55});
        bParts.erase(bParts.begin() + removed);
        const VersionMeasures b = filmOf(dir.filePath("b.mkv"), bParts);

        const auto firstOf = [](const std::vector<Part> &parts, int part) {
            int first = 0;
            for (int p = 0; p < part; ++p)
                first += parts[size_t(p)].pictures;
            return first;
        };
        const VersionAlignment alignment = alignVersions(a.film, b.film);
        std::vector<VersionSegment> edits;
        for (const VersionSegment &segment : alignment.segments)
            if (segment.kind != VersionSegment::Same)
                edits.push_back(segment);
            else
                QVERIFY(segment.deMean < 1e-9);
        QCOMPARE(edits.size(), size_t(2));
        QCOMPARE(edits[0].kind, VersionSegment::Removed);
        QCOMPARE(edits[0].aFirst, firstOf(aParts, removed));
        QCOMPARE(edits[0].aLast, firstOf(aParts, removed + 1) - 1);
        QCOMPARE(edits[1].kind, VersionSegment::Inserted);
        QCOMPARE(edits[1].bFirst, firstOf(bParts, insertedBefore - 1));
        QCOMPARE(edits[1].bLast, firstOf(bParts, insertedBefore) - 1);
        const QList<QByteArray> rows = versionsCsv(alignment).split('\n');
        QCOMPARE(rows.size(), qsizetype(alignment.segments.size()) + 2); // header, last newline
        QVERIFY(rows[2].startsWith("removed," + QByteArray::number(firstOf(aParts, removed) + 1)));

        // A shot of two plain pictures in a, where b keeps a faint layout (a
        // grade lifts it), right after the edit still goes with its part.
        VersionFilm plain = a.film;
        const int after = firstOf(aParts, removed + 1);
        plain.shapes[size_t(after)] = plain.shapes[size_t(after) + 1] = {};
        plain.shotFirsts.insert(
            std::upper_bound(plain.shotFirsts.begin(), plain.shotFirsts.end(), after), after + 2);
        const VersionAlignment plainAlignment = alignVersions(plain, b.film);
        QCOMPARE(plainAlignment.segments.size(), alignment.segments.size());
        QCOMPARE(plainAlignment.partner[size_t(after)], alignment.partner[size_t(after)]);

        // The regrade shows where it was applied and nowhere else.
        std::vector<Part> gradedParts = aParts;
        gradedParts[3].graded = gradedParts[4].graded = true;
        const VersionMeasures graded = filmOf(dir.filePath("graded.mkv"), gradedParts);
        const VersionAlignment regrade = alignVersions(a.film, graded.film);
        QCOMPARE(regrade.segments.size(), size_t(1));
        for (int i = 0; i < int(a.film.times.size()); ++i) {
            const bool inside = i >= firstOf(aParts, 3) && i < firstOf(aParts, 5);
            QCOMPARE(regrade.partner[size_t(i)], i);
            QVERIFY2(inside ? regrade.difference[size_t(i)] > 3
                            : regrade.difference[size_t(i)] == 0,
                     qPrintable(QString::number(i)));
        }
    }

    // A part kept between two inserts holds no whole shot of either version
    // (the end of one, the start of the next): it is found all the same.
    void keptPartWithoutWholeShot()
    {
        QTemporaryDir dir;
        const std::vector<Part> aParts = {{0, 75}, {1, 60}, {2, 60}, {3, 70}, {4, 65}};
        const VersionMeasures a = filmOf(dir.filePath("a.mkv"), aParts);
        const VersionMeasures b = filmOf(dir.filePath("b.mkv"), {{0, 75},
                                                                 {9, 55},
                                                                 {1, 30, false, 30},
                                                                 {2, 30},
                                                                 {8, 55},
                                                                 {2, 30, false, 30},
                                                                 {3, 70},
                                                                 {4, 65}});
        const VersionAlignment alignment = alignVersions(a.film, b.film);
        QCOMPARE(alignment.partner[75 + 30], 75 + 55);
        QCOMPARE(alignment.partner[75 + 60 + 29], 75 + 55 + 59);
        int removed = 0, inserted = 0;
        for (const VersionSegment &segment : alignment.segments) {
            removed += segment.kind == VersionSegment::Removed;
            inserted += segment.kind == VersionSegment::Inserted;
        }
        QCOMPARE(removed, 1); // scene 1's first 30 pictures
        QCOMPARE(inserted, 2);
    }

    // With key pictures only: a cut within a shot, with no key picture of a
    // in what it removed, and an insert are placed at b's key pictures.
    void keyPicturesOnly()
    {
        QTemporaryDir dir;
        const std::vector<Part> aParts = {{0, 75}, {1, 60}, {2, 80}, {3, 70}, {4, 65}, {5, 75}};
        const std::vector<Part> bParts = {{0, 75}, {1, 60}, {2, 15}, {2, 35, false, 45},
                                          {3, 70}, {9, 55}, {4, 65}, {5, 75}};
        const VersionFilm a = keyPictures(filmOf(dir.filePath("a.mkv"), aParts).film, aParts);
        const VersionFilm b = keyPictures(filmOf(dir.filePath("b.mkv"), bParts).film, bParts);
        std::vector<VersionSegment> edits;
        for (const VersionSegment &segment : alignVersions(a, b).segments)
            if (segment.kind != VersionSegment::Same)
                edits.push_back(segment);
        QCOMPARE(edits.size(), size_t(2));
        QCOMPARE(edits[0].kind, VersionSegment::Removed);
        QVERIFY(std::abs(edits[0].aStart - 150 / 25.0) < 0.05);
        QVERIFY(std::abs(edits[0].aEnd - 180 / 25.0) < 0.05);
        QCOMPARE(edits[1].kind, VersionSegment::Inserted);
        QVERIFY(std::abs(edits[1].bStart - 255 / 25.0) < 0.05);
        QVERIFY(std::abs(edits[1].bEnd - 310 / 25.0) < 0.05);

        // Read by its key pictures, a film still ends where its stream does,
        // not at its last key picture: a tail one version drops is seen.
        const VersionFilm gop =
            filmOf(dir.filePath("gop.mkv"), {{0, 40}}, Sampling{Sampling::Key}, 25).film;
        QCOMPARE(gop.times.size(), size_t(2));
        QVERIFY(std::abs(gop.end - 40 / 25.0) < 0.05);
    }
};

QTEST_GUILESS_MAIN(TestVersions)
#include "test_versions.moc"
