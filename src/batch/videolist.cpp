#include "batch/videolist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdio>

std::optional<Shard> parseShard(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 2)
        return std::nullopt;
    bool indexValid = false;
    bool countValid = false;
    const Shard shard{parts[0].toInt(&indexValid), parts[1].toInt(&countValid)};
    if (!indexValid || !countValid || shard.index < 0 || shard.index >= shard.count)
        return std::nullopt;
    return shard;
}

bool readVideoList(const QString &listPath, QStringList &videos, QString *why)
{
    QFile list;
    const bool standardInput = listPath == QLatin1String("-");
    const bool opened = standardInput
                            ? list.open(stdin, QIODevice::ReadOnly)
                            : (list.setFileName(listPath), list.open(QIODevice::ReadOnly));
    QByteArray bytes;
    if (opened)
        bytes = list.readAll();
    if (!opened || list.error() != QFileDevice::NoError) {
        if (why)
            *why = list.errorString() + QLatin1Char('.');
        return false;
    }
    for (const QByteArray &line : bytes.split('\n')) {
        if (!line.trimmed().isEmpty())
            videos << QFile::decodeName(line);
    }
    return true;
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QStringList withoutDuplicates(const QStringList &videos)
{
    QSet<QString> seen;
    QStringList unique;
    for (const QString &video : videos) {
        const QString path = cleanAbsolute(video);
        if (!seen.contains(path)) {
            seen.insert(path);
            unique << video;
        }
    }
    return unique;
}

QStringList shardOf(const QStringList &videos, const Shard &shard)
{
    QStringList share;
    for (qsizetype i = shard.index; i < videos.size(); i += shard.count)
        share << videos[i];
    return share;
}
