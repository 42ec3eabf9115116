// The list of videos a task reads: from the command line and from list
// files, each video once, and the share of it that falls to one task of many.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// One of count tasks that split a list between them: task index takes the
// videos whose position modulo count is index.
struct Shard {
    int index = 0;
    int count = 1;
};

// "K/N" with 0 <= K < N; nothing otherwise.
std::optional<Shard> parseShard(const QString &text);

// Appends the paths in the file listPath ("-": standard input), one per line,
// to videos. Blank lines are skipped; anything else on a line, spaces
// included, is part of the path. False when the list cannot be read, with
// the reason in why.
bool readVideoList(const QString &listPath, QStringList &videos, QString *why);

// path made absolute and cleaned: what tells two mentions of a file apart.
QString cleanAbsolute(const QString &path);

// videos without the later mentions of a file already listed (the same
// absolute path once cleaned), in the order given.
QStringList withoutDuplicates(const QStringList &videos);

// The videos that fall to shard.
QStringList shardOf(const QStringList &videos, const Shard &shard);
