// The list of videos a task reads: from the command line and from list
// files, each video once, and the share of it that falls to one task of many.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// One of count tasks that split a list between them: task index takes the
// videos whose position modulo count is index.
struct Shard {
    int index = 0;
    int count = 1;
};

// "K/N" with 0 <= K < N; nothing otherwise.
std::optional<Shard> parseShard(const QString &text);

// Longest name a list may hold, in bytes: the longest path Linux takes.
constexpr int longestListedName = 4096;

enum class ListRead { Read, Unreadable, Malformed };

// Appends the names in the file listPath ("-": standard input) to videos,
// byte for byte (see fileNameFromBytes). A list is one name per line, or,
// when it holds a NUL byte or nulSeparated is set, one per NUL-terminated
// entry, as find -print0 writes them (a name may then hold a line break).
// Empty and blank entries are skipped; a line's closing carriage return
// (CRLF) is not part of the name; anything else, spaces included, is. The
// list must be a file, a pipe or a terminal, not a device that never ends.
// On failure *why says why: Unreadable when the list cannot be read,
// Malformed when an entry is longer than longestListedName or a line holds
// a NUL byte.
ListRead readVideoList(const QString &listPath, bool nulSeparated, QStringList &videos,
                       QString *why);

// videos without the later mentions of a file already listed (the same
// file by any name, links included; for names that do not exist, the same
// absolute path once cleaned), in the order given.
QStringList withoutDuplicates(const QStringList &videos);

// The videos that fall to shard.
QStringList shardOf(const QStringList &videos, const Shard &shard);
