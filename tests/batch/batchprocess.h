// Runs the built reelmeter-batch as a user would, without a display.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

namespace batchprocess {

struct Result {
    bool finished = false; // ran to its end on its own (no crash, no timeout)
    int exitCode = -1;
    QString output;
    QStringList errorLines;
};

// The test's environment less everything that leads Qt to a display: the
// tool must not need one.
inline QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// input, when given, is the tool's standard input.
inline Result run(const QStringList &arguments, const QString &workingDirectory = QString(),
                  const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProgram(QStringLiteral(REELMETER_BATCH));
    process.setArguments(arguments);
    process.setProcessEnvironment(withoutDisplay());
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start();
    process.write(input);
    process.closeWriteChannel();
    Result result;
    // Generous: sanitizer builds are several times slower.
    result.finished =
        process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished)
        process.kill();
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.errorLines = QString::fromLocal8Bit(process.readAllStandardError())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return result;
}

} // namespace batchprocess
