#include "batch/videolist.h"

#include "export/atomicfile.h"
#include "export/fileidentity.h"
#include "export/filename.h"

#include <QDir>
#include <QScopeGuard>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

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

namespace {

// Reads into buffer until it holds at least wanted bytes or the input ends;
// the number read, or -1 with errno set.
ssize_t readSome(int descriptor, QByteArray &buffer, qsizetype wanted)
{
    const qsizetype before = buffer.size();
    char chunk[65536];
    while (buffer.size() - before < wanted) {
        const ssize_t got = ::read(descriptor, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        buffer.append(chunk, got);
    }
    return ssize_t(buffer.size() - before);
}

} // namespace

ListRead readVideoList(const QString &listPath, bool nulSeparated, QStringList &videos,
                       QString *why)
{
    const auto fail = [why](ListRead result, const QString &reason) {
        if (why)
            *why = reason;
        return result;
    };
    const bool standardInput = listPath == QLatin1String("-");
    int descriptor = STDIN_FILENO;
    if (!standardInput) {
        descriptor = ::open(fileNameBytes(listPath).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return fail(ListRead::Unreadable, systemReason(errno));
    }
    const auto closer = qScopeGuard([&] {
        if (!standardInput)
            ::close(descriptor);
    });
    struct stat status;
    if (::fstat(descriptor, &status) != 0)
        return fail(ListRead::Unreadable, systemReason(errno));
    // /dev/zero or /dev/urandom would be read for ever.
    if ((S_ISCHR(status.st_mode) && !::isatty(descriptor)) || S_ISBLK(status.st_mode))
        return fail(ListRead::Unreadable, QStringLiteral("This is a device, not a list."));

    QByteArray buffer;
    // A NUL-separated list shows a NUL within its first name.
    if (readSome(descriptor, buffer, longestListedName + 1) < 0)
        return fail(ListRead::Unreadable, systemReason(errno));
    const char separator = nulSeparated || buffer.contains('\0') ? '\0' : '\n';
    const QString entryName = separator ? QStringLiteral("Line") : QStringLiteral("Entry");
    qsizetype number = 0;
    for (bool ended = buffer.isEmpty();;) {
        qsizetype start = 0;
        for (qsizetype end; (end = buffer.indexOf(separator, start)) >= 0; start = end + 1) {
            ++number;
            QByteArrayView entry(buffer.constData() + start, end - start);
            if (separator == '\n' && entry.endsWith('\r'))
                entry.chop(1);
            if (entry.size() > longestListedName)
                return fail(ListRead::Malformed, QStringLiteral("%1 %2 is longer than %3 bytes.")
                                                     .arg(entryName)
                                                     .arg(number)
                                                     .arg(longestListedName));
            if (separator == '\n' && entry.contains('\0'))
                return fail(ListRead::Malformed,
                            QStringLiteral("Line %1 holds a NUL byte.").arg(number));
            if (!entry.trimmed().isEmpty())
                videos << fileNameFromBytes(entry);
        }
        buffer.remove(0, start);
        if (buffer.size() > longestListedName + 1)
            return fail(ListRead::Malformed, QStringLiteral("%1 %2 is longer than %3 bytes.")
                                                 .arg(entryName)
                                                 .arg(number + 1)
                                                 .arg(longestListedName));
        if (ended)
            break;
        const ssize_t got = readSome(descriptor, buffer, 1);
        if (got < 0)
            return fail(ListRead::Unreadable, systemReason(errno));
        if (got == 0) {
            // The last name needs no separator after it.
            ended = true;
            if (!buffer.isEmpty())
                buffer.append(separator);
        }
    }
    return ListRead::Read;
}

QStringList withoutDuplicates(const QStringList &videos)
{
    QSet<QString> seenPaths;
    std::set<FileIdentity> seenFiles;
    FileIdentities identities;
    const QString workingDirectory = QDir::currentPath();
    QStringList unique;
    for (const QString &video : videos) {
        // Hard and symbolic links are the same file by another name.
        bool fresh;
        if (const auto identity = identities.of(video)) {
            fresh = seenFiles.insert(*identity).second;
        } else {
            const QString path = cleanAbsolute(video, workingDirectory);
            fresh = !seenPaths.contains(path);
            seenPaths.insert(path);
        }
        if (fresh)
            unique << video;
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
