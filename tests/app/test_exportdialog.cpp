// The menu bar and File > Export...: the batch tool's files, byte for byte;
// a cancelled export writes nothing; a file not written is named with why.
#include "app/exportdialog.h"
#include "app/versionsdialog.h"
#include "batchprocess.h"
#include "export/outputcheck.h"
#include "guidriver.h"
#include "testvideo.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace guidriver;

namespace {

QByteArray contents(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the batch tool writes for the dialog's defaults, in its order.
const QStringList defaultSuffixes = {QStringLiteral("-averageDisplay.png"),
                                     QStringLiteral("-framesDisplay.png"),
                                     QStringLiteral(".reelmeter.json")};

} // namespace

class TestExportDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void defaultExportIsTheBatchToolsFiles();
    void posterOnAPageIsTheBatchToolsFiles();
    void exportAfterTheWindowsRun_data();
    void exportAfterTheWindowsRun();
    void cancelledOrClosedExportWritesNothing();
    void unwritableFileIsNamedWithItsReason();
    void settingsTheToolRefusesSayWhy_data();
    void settingsTheToolRefusesSayWhy();
    void fullSpeedActionFollowsTheWindow();
    void versionsOfOneFilmAreTheSame();

private:
    // Ctrl+E, the video typed in; the dialog is left open for the test.
    ExportDialog *openDialog(const QString &video);
    // The files of video with suffixes equal those reelmeter-batch writes
    // with options; they are replaced by the batch tool's.
    void sameAsBatch(const QStringList &suffixes, const QStringList &options);
    QStringList filesBeside() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString video;
    QString longVideo;
    std::unique_ptr<MainWindow> window;
};

void TestExportDialog::initTestCase()
{
    video = dir.filePath(QStringLiteral("film.mkv"));
    testvideo::VideoStream stream;
    stream.pictureCount = 60;
    stream.picture = [](int index) {
        QImage image(64, 48, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qRgb((x * 4 + index * 9) % 256, (y * 5 + index * 13) % 256,
                                    (x + y + index * 31) % 256));
        return image;
    };
    QString error;
    QVERIFY2(testvideo::writeVideo(video, stream, &error), qPrintable(error));
    // Long enough that a cancel pressed at once comes while it is read.
    longVideo = dir.filePath(QStringLiteral("long.mkv"));
    QVERIFY2(testvideo::writeVideo(
                 longVideo, testvideo::uniformColours({320, 240}, testvideo::paletteColours(3000)),
                 &error),
             qPrintable(error));
}

void TestExportDialog::init()
{
    window = openFreshWindow();
}

void TestExportDialog::cleanup()
{
    closeWindow(window);
    for (const QString &file : filesBeside())
        if (!file.endsWith(QLatin1String(".mkv")))
            QFile::remove(dir.filePath(file));
}

ExportDialog *TestExportDialog::openDialog(const QString &path)
{
    // Keys go to the active window, as on a desktop.
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowActive(window.get()))
        return nullptr;
    QTest::keyClick(window.get(), Qt::Key_E, Qt::ControlModifier);
    auto *dialog = window->findChild<ExportDialog *>();
    if (!dialog || !QTest::qWaitForWindowActive(dialog))
        return nullptr;
    dialog->findChild<QLineEdit *>(QStringLiteral("videoEdit"))->setText(path);
    return dialog;
}

void TestExportDialog::sameAsBatch(const QStringList &suffixes, const QStringList &options)
{
    const QStringList videos = filesBeside();
    QList<QByteArray> exported;
    for (const QString &suffix : suffixes) {
        exported << contents(video + suffix);
        QVERIFY2(!exported.last().isEmpty(), qPrintable(suffix));
        QVERIFY(window->form()->statusBar->currentMessage().contains(video + suffix));
        QVERIFY(QFile::remove(video + suffix));
    }
    QCOMPARE(filesBeside().size(), videos.size() - suffixes.size());
    const auto batch =
        batchprocess::run(QStringList{QStringLiteral("--quiet")} + options + QStringList{video});
    QVERIFY(batch.finished);
    QCOMPARE(batch.exitCode, 0);
    for (int i = 0; i < suffixes.size(); ++i)
        QVERIFY2(contents(video + suffixes[i]) == exported[i], qPrintable(suffixes[i]));
    QCOMPARE(filesBeside(), videos);
}

void TestExportDialog::defaultExportIsTheBatchToolsFiles()
{
    QPointer<ExportDialog> dialog = openDialog(video);
    QVERIFY(dialog);
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog, 60000);
    sameAsBatch(defaultSuffixes,
                {QStringLiteral("--strips"), QStringLiteral("average,frames"),
                 QStringLiteral("--width"), QStringLiteral("1920"), QStringLiteral("--height"),
                 QStringLiteral("1080"), QStringLiteral("--format"), QStringLiteral("png")});
}

void TestExportDialog::posterOnAPageIsTheBatchToolsFiles()
{
    QPointer<ExportDialog> dialog = openDialog(video);
    QVERIFY(dialog);
    dialog->findChild<QComboBox *>(QStringLiteral("formatBox"))->setCurrentIndex(1);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("posterButton")),
                      Qt::LeftButton);
    QString why;
    const std::optional<OutputChoice> poster = dialog->choice(&why);
    QVERIFY2(poster, qPrintable(why));
    QCOMPARE(poster->layout.format, QStringLiteral("png"));
    QCOMPARE(poster->layout.width, 3840);
    QVERIFY(poster->layout.axis && poster->layout.title == QLatin1String("auto"));
    // A page replaces the size: the picture is the page at the DPI.
    auto *page = dialog->findChild<QComboBox *>(QStringLiteral("pageBox"));
    page->setCurrentIndex(page->findText(QStringLiteral("A4")));
    QVERIFY(!dialog->findChild<QComboBox *>(QStringLiteral("sizeBox"))->isEnabled());
    dialog->findChild<QLineEdit *>(QStringLiteral("dpiEdit"))->setText(QStringLiteral("100"));
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog, 60000);
    QCOMPARE(QImage(video + defaultSuffixes.first()).size(), QSize(1169, 827));
    // In the dialog's order of strips, as its record lists them.
    sameAsBatch(defaultSuffixes,
                {QStringLiteral("--poster"), QStringLiteral("--strips"),
                 QStringLiteral("average,frames"), QStringLiteral("--page"), QStringLiteral("A4"),
                 QStringLiteral("--dpi"), QStringLiteral("100")});
}

void TestExportDialog::exportAfterTheWindowsRun_data()
{
    QTest::addColumn<QStringList>("strips");
    QTest::addColumn<bool>("fromWindow");
    QTest::addColumn<bool>("exact");  // colours
    QTest::addColumn<bool>("framed"); // with an axis and the title auto
    // --layout and --mean, set in the dialog's boxes of those names.
    QTest::addColumn<QStringList>("looks");
    QTest::addRow("strips the window drew")
        << QStringList{"average", "brightness", "mood"} << true << false << false << QStringList();
    // The window's first difference is against the previous video's last picture.
    QTest::addRow("with the difference")
        << QStringList{"average", "difference"} << false << false << false << QStringList();
    // The window converts the default way.
    QTest::addRow("exact colours")
        << QStringList{"average", "mood"} << false << true << false << QStringList();
    QTest::addRow("with an axis and a title")
        << QStringList{"average"} << false << false << true << QStringList();
    // The window averages sRGB values.
    QTest::addRow("linear mean") << QStringList{"average", "mood"} << false << false << false
                                 << QStringList{"--mean", "linear"};
    QTest::addRow("a ring with a title")
        << QStringList{"average", "frames"} << false << false << true
        << QStringList{"--layout", "ring", "--mean", "linear"};
}

void TestExportDialog::exportAfterTheWindowsRun()
{
    QFETCH(QStringList, strips);
    QFETCH(bool, fromWindow);
    QFETCH(bool, exact);
    QFETCH(bool, framed);
    QFETCH(QStringList, looks);
    QVERIFY(startThroughDialog(window->form(), video));
    QTRY_COMPARE_WITH_TIMEOUT(window->form()->pushButton_2->text(),
                              QStringLiteral("Start Analysis"), 60000);
    QPointer<ExportDialog> dialog = openDialog(video);
    QVERIFY(dialog);
    QStringList suffixes;
    for (auto *box : dialog->findChildren<QCheckBox *>(QRegularExpression("^strip_"))) {
        box->setChecked(strips.contains(box->objectName().mid(6)));
        if (box->isChecked())
            suffixes << QLatin1Char('-') + box->objectName().mid(6) + QLatin1String("Display.png");
    }
    // Custom, both fields blank: one column per picture.
    dialog->findChild<QComboBox *>(QStringLiteral("sizeBox"))->setCurrentIndex(3);
    dialog->findChild<QLineEdit *>(QStringLiteral("widthEdit"))->clear();
    dialog->findChild<QLineEdit *>(QStringLiteral("heightEdit"))->clear();
    dialog->findChild<QComboBox *>(QStringLiteral("colourBox"))->setCurrentIndex(exact ? 1 : 0);
    dialog->findChild<QCheckBox *>(QStringLiteral("axisBox"))->setChecked(framed);
    dialog->findChild<QLineEdit *>(QStringLiteral("titleEdit"))->setText(framed ? "auto" : "");
    for (const char *look : {"layout", "mean"})
        dialog->findChild<QComboBox *>(QLatin1String(look) + QLatin1String("Box"))
            ->setCurrentIndex(looks.contains(QLatin1String("--") + QLatin1String(look)) ? 1 : 0);
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog, 60000);
    QCOMPARE(window->form()->statusBar->currentMessage().contains(QStringLiteral("window's run")),
             fromWindow);
    const QStringList frame = {QStringLiteral("--axis"), QStringLiteral("--title"),
                               QStringLiteral("auto")};
    sameAsBatch(suffixes << QStringLiteral(".reelmeter.json"),
                QStringList{QStringLiteral("--strips"), strips.join(QLatin1Char(',')),
                            QStringLiteral("--format"), QStringLiteral("png"),
                            QStringLiteral("--colour"),
                            exact ? QStringLiteral("exact") : QStringLiteral("default")} +
                    (framed ? frame : QStringList()) + looks);
}

void TestExportDialog::cancelledOrClosedExportWritesNothing()
{
    // Cancel right after the start: the run stops at its next report, which
    // comes before anything is written.
    const QStringList videos = filesBeside();
    QPointer<ExportDialog> dialog = openDialog(longVideo);
    QVERIFY(dialog);
    QTest::keyClick(dialog, Qt::Key_Return);
    QVERIFY(dialog->isExporting());
    QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog, 60000);
    QVERIFY(window->form()->statusBar->currentMessage().contains(QStringLiteral("cancelled")));
    QCOMPARE(filesBeside(), videos);

    // Closing the window cancels and joins the export.
    dialog = openDialog(longVideo);
    QVERIFY(dialog);
    QTest::keyClick(dialog, Qt::Key_Return);
    QVERIFY(dialog->isExporting());
    window->close();
    QVERIFY(!dialog);
    QTest::qWait(200);
    QCOMPARE(filesBeside(), videos);
}

void TestExportDialog::unwritableFileIsNamedWithItsReason()
{
    const QString blocked = video + defaultSuffixes[1];
    QVERIFY(QDir().mkpath(blocked));
    QPointer<ExportDialog> dialog = openDialog(video);
    QVERIFY(dialog);
    auto box = answerMessageBox();
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(box->answered, 60000);
    QCOMPARE(box->icon, QMessageBox::Critical);
    QVERIFY(box->text.contains(blocked));
    QVERIFY(!box->text.contains(defaultSuffixes[0]));
    QVERIFY(box->informativeText.contains(blocked + QStringLiteral(": Is a directory.")));
    // The other strip is written; the record, which would vouch for both, not.
    QVERIFY(!QImage(video + defaultSuffixes[0]).isNull());
    QVERIFY(!QFile::exists(video + defaultSuffixes[2]));
    QVERIFY(QDir(blocked).removeRecursively());
}

void TestExportDialog::settingsTheToolRefusesSayWhy_data()
{
    QTest::addColumn<QString>("box"); // its last entry goes with the field
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::addRow("width 0") << "sizeBox"
                             << "widthEdit"
                             << "0"
                             << "from 1 to 1048576";
    QTest::addRow("oversized") << "sizeBox"
                               << "widthEdit"
                               << "1048576"
                               << "larger than";
    QTest::addRow("too fine") << "samplingBox"
                              << "secondsEdit"
                              << "0.0001"
                              << "at least 0.001";
    QTest::addRow("page of no height") << "pageBox"
                                       << "pageEdit"
                                       << "300x0mm"
                                       << "outside 10 to 5080 mm";
    QTest::addRow("no rectangle") << "cropBox"
                                  << "rectangleEdit"
                                  << "4:3"
                                  << "W:H:X:Y";
}

void TestExportDialog::settingsTheToolRefusesSayWhy()
{
    QFETCH(QString, box);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QPointer<ExportDialog> dialog = openDialog(video);
    QVERIFY(dialog);
    auto *combo = dialog->findChild<QComboBox *>(box);
    combo->setCurrentIndex(combo->count() - 1);
    if (box == QLatin1String("sizeBox")) // both sides, for "oversized"
        dialog->findChild<QLineEdit *>(QStringLiteral("heightEdit"))->setText(text);
    dialog->findChild<QLineEdit *>(field)->setText(text);
    QTest::keyClick(dialog, Qt::Key_Return);
    QVERIFY(!dialog->isExporting());
    const QString shown = dialog->findChild<QLabel *>(QStringLiteral("errorLabel"))->text();
    QVERIFY2(shown.contains(reason), qPrintable(shown));
    QCOMPARE(filesBeside().size(), 2);
}

void TestExportDialog::fullSpeedActionFollowsTheWindow()
{
    QAction *action = window->fullSpeedAction();
    QVERIFY(action->isCheckable() && !action->isChecked() && !windowRun.fullSpeed);
    action->trigger();
    QVERIFY(windowRun.fullSpeed);
    window->setFullSpeed(false);
    QVERIFY(!action->isChecked() && !windowRun.fullSpeed);
    // Save follows its button, so its shortcut does nothing before a run.
    QVERIFY(!window->findChild<QAction *>(QStringLiteral("actionSave"))->isEnabled());
}

void TestExportDialog::versionsOfOneFilmAreTheSame()
{
    // File > Compare Versions..., the film against itself, then Save.
    auto *action = window->findChild<QAction *>(QStringLiteral("actionCompareVersions"));
    QVERIFY(action);
    action->trigger();
    auto *dialog = window->findChild<VersionsDialog *>();
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>(QStringLiteral("versionA"))->setText(video);
    dialog->findChild<QLineEdit *>(QStringLiteral("versionB"))->setText(video);
    auto *save = dialog->findChild<QPushButton *>(QStringLiteral("saveVersionsButton"));
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("compareButton")),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isComparing() && save->isEnabled(), 60000);
    QVERIFY(!dialog->findChild<QLabel *>(QStringLiteral("versionsDisplay"))->pixmap().isNull());
    QVERIFY(dialog->findChild<QPlainTextEdit *>(QStringLiteral("versionsSummary"))
                ->toPlainText()
                .startsWith(QStringLiteral("0 removed, 0 inserted")));

    QTemporaryDir out;
    const auto seen = guidriver::answerFileDialog(out.path());
    QTest::mouseClick(save, Qt::LeftButton);
    QTRY_VERIFY(seen->answered);
    const QStringList files = versionsFileNames(outputBase(video, out.path()), "png");
    QTRY_VERIFY(QFileInfo::exists(files.last()));
    const QList<QByteArray> rows = contents(files.first()).trimmed().split('\n');
    QCOMPARE(rows.size(), 2);
    QVERIFY2(rows[1].startsWith("same,1,60,"), rows[1].constData());
    dialog->reject();
}

QTEST_MAIN(TestExportDialog)
#include "test_exportdialog.moc"
