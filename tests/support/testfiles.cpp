#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

QByteArray contentsOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString runFfmpeg(const QStringList &arguments, const QString &output)
{
    QStringList all = QStringList{"-nostdin", "-v", "error", "-y"} + arguments;
    if (!output.isEmpty()) {
        if (!QDir().mkpath(QFileInfo(output).path()))
            return QStringLiteral("cannot make the directory of ") + output;
        all << output;
    }
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(QStringLiteral("ffmpeg"), all);
    if (ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
        ffmpeg.exitCode() == 0)
        return {};
    return "ffmpeg " + all.mid(4).join(' ') + ": " + ffmpeg.errorString() + '\n' +
           QString::fromLocal8Bit(ffmpeg.readAll());
}
