// What `cmake --install` puts into a prefix, and that the desktop entry it
// installs is one a desktop environment accepts.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString entryPath = QStringLiteral("share/applications/reelmeter.desktop");
const QString iconPath = QStringLiteral("share/icons/hicolor/64x64/apps/reelmeter.png");

// Runs program with arguments; its exit code, or -1 when it could not run.
int run(const QString &program, const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(-1))
        return -1;
    *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The keys of the [Desktop Entry] group, as written (no locale variants).
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QStringLiteral("[Desktop Entry]");
        else if (inEntry && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0).trimmed(),
                        line.section(QLatin1Char('='), 1).trimmed());
    }
    return keys;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void installsExactlyTheExpectedFiles();
    void windowProgramIsExecutable();
    void batchToolRunsFromPrefix();
    void desktopEntryLaunchesTheWindow();
    void desktopEntryValidates();
    void iconIsTheWindowIcon();

private:
    QString installed(const QString &relative) const { return prefix.filePath(relative); }

    QTemporaryDir prefix;
};

void TestInstall::initTestCase()
{
    QVERIFY(prefix.isValid());
    QByteArray output;
    const int code = run(QStringLiteral(REELMETER_CMAKE),
                         {QStringLiteral("--install"), QStringLiteral(REELMETER_BUILD_DIR),
                          QStringLiteral("--prefix"), prefix.path()},
                         &output);
    QVERIFY2(code == 0, output.constData());
}

void TestInstall::installsExactlyTheExpectedFiles()
{
    QStringList expected = {QStringLiteral("bin/reelmeter"), QStringLiteral("bin/reelmeter-batch"),
                            entryPath, iconPath};
#ifdef REELMETER_PYTHON_MODULE
    expected << QStringLiteral(REELMETER_PYTHON_MODULE);
#endif
    expected.sort();

    QStringList found;
    QDirIterator it(prefix.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(prefix.path()).relativeFilePath(it.next());
    found.sort();
    QCOMPARE(found, expected);
}

void TestInstall::windowProgramIsExecutable()
{
    const QFileInfo program(installed(QStringLiteral("bin/reelmeter")));
    QVERIFY(program.isFile());
    QVERIFY(program.isExecutable());
}

void TestInstall::batchToolRunsFromPrefix()
{
    const QString program = installed(QStringLiteral("bin/reelmeter-batch"));
    QVERIFY(QFileInfo(program).isExecutable());
    // Nothing of the build tree is needed to run it.
    QByteArray output;
    QCOMPARE(run(program, {QStringLiteral("--version")}, &output), 0);
    QVERIFY2(output.contains("reelmeter-batch"), output.constData());
}

void TestInstall::desktopEntryLaunchesTheWindow()
{
    const QMap<QString, QString> entry = desktopEntry(installed(entryPath));
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("Reelmeter"));
    const QStringList categories =
        entry.value(QStringLiteral("Categories")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QVERIFY(categories.contains(QStringLiteral("AudioVideo")));
    QVERIFY(categories.contains(QStringLiteral("Video")));
    QVERIFY(entry.value(QStringLiteral("MimeType"))
                .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                .contains(QStringLiteral("video/*")));
    // The command and the icon name what the install put beside the entry.
    const QString command = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
    QCOMPARE(command, QStringLiteral("reelmeter"));
    QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + command)).isExecutable());
    QCOMPARE(entry.value(QStringLiteral("Icon")), QFileInfo(iconPath).completeBaseName());
}

void TestInstall::desktopEntryValidates()
{
    QByteArray output;
    const int code = run(QStringLiteral("desktop-file-validate"), {installed(entryPath)}, &output);
    QVERIFY2(code != -1, "desktop-file-validate (desktop-file-utils) did not run");
    QVERIFY2(code == 0, output.constData());
    // Warnings and hints count too.
    QVERIFY2(output.trimmed().isEmpty(), output.constData());
}

void TestInstall::iconIsTheWindowIcon()
{
    const QImage icon(installed(iconPath));
    QCOMPARE(icon.size(), QSize(64, 64));
    const QImage window(QStringLiteral(REELMETER_SOURCE_DIR "/src/app/icon/icon.png"));
    QVERIFY(!window.isNull());
    QCOMPARE(icon, window);
}

QTEST_MAIN(TestInstall)
#include "test_install.moc"
