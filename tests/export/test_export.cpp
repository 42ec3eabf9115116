// The files as written and the names they are known by, apart from the
// window and the batch tool.
#include "export/filename.h"
#include "export/posterframe.h"
#include "export/printsize.h"
#include "export/stripexport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A poppler-utils tool's standard output; empty when it fails.
QString poppler(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void resolutionDoesNotFollowTheScreen();
    void stripListNames_data();
    void stripListNames();
    void printableNames_data();
    void printableNames();
    void axisTicksSitInTheirColumns();
    void sidesTheFormatCannotHold();
    void ringReadsAsTheLinearPoster();
    void pageSizes();
    void pdfOfTwoHoursAtOneColumnAPicture();

private:
    QTemporaryDir dir;
};

void TestExport::resolutionDoesNotFollowTheScreen()
{
    // The files say 96 dpi whatever the screen, so a window on a HiDPI desktop
    // and the batch tool without a display write the same bytes.
    StripSet strips;
    strips.average.append(QColor(10, 20, 30));
    const QString base = dir.filePath(QStringLiteral("dpi"));
    QVERIFY(writeStrips(strips, base, savedStripKinds()).isEmpty());
    const QImage saved(base + QStringLiteral("-averageDisplay.bmp"));
    QCOMPARE(saved.dotsPerMeterX(), 3780);
    QCOMPARE(saved.dotsPerMeterY(), 3780);
}

void TestExport::stripListNames_data()
{
    using Kinds = QList<StripKind>;
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Kinds>("kinds");
    QTest::addRow("all") << "all" << true
                         << Kinds{StripKind::Average,    StripKind::Quadrant, StripKind::Brightness,
                                  StripKind::Difference, StripKind::Mood,     StripKind::Frames,
                                  StripKind::Shots,      StripKind::Palette};
    QTest::addRow("order kept, repeats once")
        << "mood,average,mood" << true << Kinds{StripKind::Mood, StripKind::Average};
    QTest::addRow("all after one")
        << "difference,all" << true
        << Kinds{StripKind::Difference, StripKind::Average, StripKind::Quadrant,
                 StripKind::Brightness, StripKind::Mood,    StripKind::Frames,
                 StripKind::Shots,      StripKind::Palette};
    QTest::addRow("empty") << "" << false << Kinds{};
    QTest::addRow("unknown") << "brightness,colour" << false << Kinds{};
    QTest::addRow("capitals") << "Average" << false << Kinds{};
}

void TestExport::stripListNames()
{
    QFETCH(QString, list);
    QFETCH(bool, valid);
    QFETCH(QList<StripKind>, kinds);
    const auto parsed = parseStripKinds(list);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QVERIFY(*parsed == kinds);
}

void TestExport::printableNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("printed");
    QTest::addRow("backslash doubled")
        << QStringLiteral("a\\n.mkv") << QStringLiteral("a\\\\n.mkv");
    QTest::addRow("tab, return, bell, DEL")
        << QStringLiteral("a\tb\rc\ad\x7f") << QStringLiteral("a\\tb\\rc\\x07d\\x7f");
    QTest::addRow("C1 control sequence introducer")
        << QStringLiteral("x\u009b2J.mkv") << QStringLiteral("x\\x9b2J.mkv");
    QTest::addRow("other letters kept")
        << QStringLiteral("Film \u2013 \u00dcber \u00e9t\u00e9.mkv")
        << QStringLiteral("Film \u2013 \u00dcber \u00e9t\u00e9.mkv");
}

void TestExport::printableNames()
{
    QFETCH(QString, name);
    QFETCH(QString, printed);
    QCOMPARE(printableName(name), printed);
}

void TestExport::axisTicksSitInTheirColumns()
{
    // Ten minutes at 25 pictures a second, a poster 1,200 columns wide.
    std::vector<double> times(15000);
    for (size_t i = 0; i < times.size(); ++i)
        times[i] = double(i) / 25;
    const PictureSpan span{times, 600};
    const std::vector<AxisMark> marks = axisMarks(span, 1200, 100);
    QCOMPARE(marks.front().seconds, 0.0);
    QCOMPARE(marks.back().seconds, 540.0); // a minute apart; none at the end itself
    const auto fiveMinutes = std::find_if(marks.begin(), marks.end(),
                                          [](const AxisMark &mark) { return mark.seconds == 300; });
    QVERIFY(fiveMinutes != marks.end());
    QVERIFY(std::abs(fiveMinutes->column - 600) <= 1);
    // One column per picture: the picture showing at that time.
    const double sparse[] = {0, 1.5, 4, 9};
    QCOMPARE(axisColumn({sparse, 12}, 0, 5), 2);
    QCOMPARE(axisColumn({sparse, 12}, 0, 1.5), 1);
    QCOMPARE(axisColumn({sparse, 12}, 0, 11.9), 3);
}

void TestExport::sidesTheFormatCannotHold()
{
    StripLayout layout;
    layout.format = QStringLiteral("jpg");
    layout.height = 65501;
    QVERIFY(oversizedStrip({StripKind::Average}, layout));
    layout.height = 2;
    layout.width = 65501;
    QVERIFY(oversizedStrip({StripKind::Average}, layout));
    layout.format = QStringLiteral("png");
    QVERIFY(!oversizedStrip({StripKind::Average}, layout));
    QVERIFY(!tooWideFor(QStringLiteral("jpg"), 65500));
    QCOMPARE(*tooWideFor(QStringLiteral("jpg"), 172800, true),
             QStringLiteral("The strips would be about 172800 pixels wide, more than the JPEG "
                            "format holds (65500); a width of 65500 or less (--width 65500) "
                            "fits."));
}

void TestExport::ringReadsAsTheLinearPoster()
{
    // Three bands, 400 pictures of distinct colours, two to a column of a
    // ring 200 pixels a side.
    Strip strip(3, 1);
    std::vector<double> times;
    for (int i = 0; i < 400; ++i) {
        const QColor bands[3] = {QColor(i % 256, 40, 200), QColor(90, i / 2, 30),
                                 QColor(255 - i % 256, 160, i % 7 * 30)};
        strip.append(bands);
        times.push_back(i * 0.04);
    }
    StripLayout layout;
    layout.ring = true;
    layout.width = 200;
    layout.format = QStringLiteral("png");
    layout.mean = ColourMean::Linear;
    layout.span = {times, 16.0};
    const QImage ring = stripImage(strip, StripKind::Frames, layout);
    QCOMPARE(ring.size(), QSize(200, 200));
    const QImage linear = posterImage(strip, layout.span, 200, 3, ColourMean::Linear);
    // 3 o'clock is a quarter into the film; 12 o'clock its start; the bands
    // run from the centre outwards.
    QCOMPARE(ring.pixel(190, 100), linear.pixel(50, 2));
    QCOMPARE(ring.pixel(150, 100), linear.pixel(50, 1));
    QCOMPARE(ring.pixel(101, 101), linear.pixel(75, 0));
    QCOMPARE(ring.pixel(100, 10), linear.pixel(0, 2));
    QCOMPARE(ring.pixel(10, 99), linear.pixel(150, 2));
    QVERIFY(linear.pixel(50, 2) != linear.pixel(51, 2));
    QCOMPARE(qAlpha(ring.pixel(0, 0)), 0);
    // The rim blends: neither outside nor wholly inside.
    const int rim = qAlpha(ring.pixel(29, 29));
    QVERIFY2(rim > 0 && rim < 255, qPrintable(QString::number(rim)));

    layout.format = QStringLiteral("jpg");
    const QImage dark = stripImage(strip, StripKind::Frames, layout);
    QCOMPARE(dark.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(dark.pixel(190, 100), linear.pixel(50, 2));
}

void TestExport::pageSizes()
{
    QString why;
    QCOMPARE(parsePageSize(QStringLiteral("a2"), &why), QSizeF(594, 420));
    QCOMPARE(parsePageSize(QStringLiteral("500.5x300mm"), &why), QSizeF(500.5, 300));
    QCOMPARE(pagePixels(*parsePageSize(QStringLiteral("A2"), &why), 300), QSize(7016, 4961));
    for (const char *nonsense : {"0x100mm", "-5x30mm", "99999x100mm", "B5", "300x200", ""})
        QVERIFY2(!parsePageSize(QLatin1String(nonsense), &why) && !why.isEmpty(), nonsense);
    QCOMPARE(*parsePageSize(pageSizeText(QSizeF(500.5, 300)), &why), QSizeF(500.5, 300));
    // A picture is the page at its dpi, title and axis included.
    StripLayout layout;
    layout.format = QStringLiteral("png");
    layout.page = QSizeF(594, 420);
    layout.axis = true;
    layout.title = QStringLiteral("Dawn");
    QVERIFY(fitToPage(layout, &why));
    QCOMPARE(layout.width, 7016);
    QCOMPARE(layout.height + axisRows(7016) + titleRows(7016), 4961);
}

void TestExport::pdfOfTwoHoursAtOneColumnAPicture()
{
    for (const char *tool : {"pdfinfo", "pdftoppm", "pdftotext"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                 "poppler-utils is needed: scripts/install-deps test");
    // Two hours at 24 pictures a second: 100 blocks of one red and blue, the
    // green alternating so that no two neighbours merge.
    constexpr int pictures = 172800;
    constexpr int block = pictures / 100;
    const auto colourOf = [](int i) {
        return QColor((i / block) * 37 % 256, 100 + i % 2, (i / block) * 91 % 256);
    };
    Strip strip(1, 1);
    std::vector<double> times(pictures);
    for (int i = 0; i < pictures; ++i) {
        strip.append(colourOf(i));
        times[size_t(i)] = i / 24.0;
    }
    StripLayout layout;
    layout.format = QStringLiteral("pdf");
    layout.page = QSizeF(594, 420);
    layout.span = {times, pictures / 24.0};
    layout.axis = true;
    layout.title = QStringLiteral("Two hours");
    const QString file = dir.filePath(QStringLiteral("long.pdf"));
    QString why;
    QVERIFY2(writeStrip(strip, StripKind::Average, file, layout, &why), qPrintable(why));
    const qint64 bytes = QFileInfo(file).size();
    qInfo("172,800 columns on A2: %lld bytes", bytes);
    QVERIFY(bytes < 20 * 1000 * 1000);

    const QString info = poppler(QStringLiteral("pdfinfo"), {file});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages: +1\\n"))), qPrintable(info));
    // 594 x 420 mm in points, as rounded.
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Page size: +168[34](\\.\\d+)? x "
                                                             "119[01](\\.\\d+)? pts"))),
             qPrintable(info));
    const QString text = poppler(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
    QVERIFY2(text.contains(QStringLiteral("Two hours")) && text.contains(QStringLiteral("1:00:00")),
             qPrintable(text));

    // Rendered at 25 dpi without smoothing, the middle of each block shows
    // its colour.
    const QString prefix = dir.filePath(QStringLiteral("long"));
    poppler(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("25"), QStringLiteral("-aa"),
             QStringLiteral("no"), QStringLiteral("-aaVector"), QStringLiteral("no"),
             QStringLiteral("-singlefile"), file, prefix});
    const QImage page(prefix + QStringLiteral(".ppm"));
    const QSize expectedSize = pagePixels(layout.page, 25); // poppler rounds up
    QVERIFY(std::abs(page.width() - expectedSize.width()) <= 1 &&
            std::abs(page.height() - expectedSize.height()) <= 1);
    const double scale = 25.0 / 300;
    const int top = int(titleRows(7016) * scale) + 2;
    const int bottom = int((4961 - axisRows(7016)) * scale) - 2;
    QVERIFY(bottom > top);
    for (int b = 0; b < 100; b += 7) {
        const int x = int((b + 0.5) * page.width() / 100);
        const QColor expected = colourOf(b * block);
        for (const int y : {top, (top + bottom) / 2, bottom}) {
            const QColor seen = page.pixelColor(x, y);
            QVERIFY2(std::abs(seen.red() - expected.red()) <= 1 &&
                         std::abs(seen.blue() - expected.blue()) <= 1 &&
                         std::abs(seen.green() - 100) <= 2,
                     qPrintable(QStringLiteral("block %1 at %2,%3: %4, not %5")
                                    .arg(b)
                                    .arg(x)
                                    .arg(y)
                                    .arg(seen.name(), expected.name())));
        }
    }
}

// The PDF and the poster's text need fonts: a QGuiApplication.
QTEST_MAIN(TestExport)
#include "test_export.moc"
