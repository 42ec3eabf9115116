#include "export/outputcheck.h"

#include "export/fileidentity.h"
#include "export/filename.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

QString outputBase(const QString &videoPath, const QString &outputDir)
{
    if (outputDir.isEmpty())
        return videoPath;
    return QDir(outputDir).filePath(QFileInfo(videoPath).fileName());
}

std::optional<std::pair<QString, QString>> clashingOutputs(const QStringList &videos,
                                                           const QString &outputDir)
{
    const QString workingDirectory = QDir::currentPath();
    const auto baseOf = [&](qsizetype i) {
        return cleanAbsolute(outputBase(videos[i], outputDir), workingDirectory);
    };
    // Hashes rather than the names: a list may hold a million videos.
    std::unordered_multimap<size_t, qsizetype> byBase;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        const QString base = baseOf(i);
        const auto [first, last] = byBase.equal_range(qHash(base));
        for (auto other = first; other != last; ++other) {
            const QString path = cleanAbsolute(videos[i], workingDirectory);
            const QString otherPath = cleanAbsolute(videos[other->second], workingDirectory);
            if (baseOf(other->second) == base && otherPath != path)
                return std::pair(otherPath, path);
        }
        byBase.emplace(qHash(base), i);
    }
    return std::nullopt;
}

namespace {

// Which of a few or many files an output is: the same clean absolute path, or
// an existing file reached another way (a hard link, a linked directory).
// Most outputs do not exist yet: rather than look each one up, each output
// directory is listed once, and only its entries that end like an output and
// share an inode with one of the files (or are links) are looked at closer.
class OutputMatcher
{
public:
    OutputMatcher(const QStringList &files, const OutputChoice &choice)
        : m_files(files), m_workingDirectory(QDir::currentPath())
    {
        m_suffixes = outputNames(QString(), choice);
        FileIdentities identities;
        for (qsizetype i = 0; i < files.size(); ++i) {
            m_paths.emplace(qHash(cleanAbsolute(files[i], m_workingDirectory)), i);
            if (const auto identity = identities.of(files[i])) {
                m_identities.emplace(*identity, i);
                m_inodes.insert(identity->second);
            }
        }
    }

    // The number of the file output is, or -1. direct: look output itself up
    // rather than its directory (for outputs not named like the videos').
    qsizetype match(const QString &output, bool direct = false)
    {
        const QString path = cleanAbsolute(output, m_workingDirectory);
        const auto [first, last] = m_paths.equal_range(qHash(path));
        for (auto candidate = first; candidate != last; ++candidate) {
            if (cleanAbsolute(m_files[candidate->second], m_workingDirectory) == path)
                return candidate->second;
        }
        if (direct) {
            const auto identity = m_lookups.of(output);
            const auto found = identity ? m_identities.find(*identity) : m_identities.end();
            return found != m_identities.end() ? found->second : -1;
        }
        const qsizetype slash = output.lastIndexOf(QLatin1Char('/'));
        list(slash < 0 ? QStringLiteral(".") : output.left(slash + 1));
        return m_existing.value(path, -1);
    }

private:
    void list(const QString &directory)
    {
        if (m_listed.contains(directory))
            return;
        m_listed.insert(directory);
        const QByteArray name = fileNameBytes(directory);
        const int descriptor = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor < 0)
            return;
        const std::unique_ptr<DIR, int (*)(DIR *)> entries(::fdopendir(descriptor), ::closedir);
        if (!entries) {
            ::close(descriptor);
            return;
        }
        while (const dirent *entry = ::readdir(entries.get())) {
            // A directory of a million videos has a million entries: only
            // those that may be one of the files are decoded and compared.
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN &&
                !m_inodes.count(entry->d_ino))
                continue;
            const QString entryName = fileNameFromBytes(entry->d_name);
            if (std::none_of(
                    m_suffixes.begin(), m_suffixes.end(),
                    [&entryName](const QString &suffix) { return entryName.endsWith(suffix); }))
                continue;
            struct stat status;
            if (::fstatat(descriptor, entry->d_name, &status, 0) != 0)
                continue;
            const auto found = m_identities.find({status.st_dev, status.st_ino});
            if (found != m_identities.end())
                m_existing.insert(cleanAbsolute(directory + entryName, m_workingDirectory),
                                  found->second);
        }
    }

    const QStringList &m_files;
    const QString m_workingDirectory;
    QStringList m_suffixes;
    std::unordered_multimap<size_t, qsizetype> m_paths; // by the hash of the clean path
    std::map<FileIdentity, qsizetype> m_identities;
    std::unordered_set<ino_t> m_inodes;
    FileIdentities m_lookups;
    QSet<QString> m_listed;
    QHash<QString, qsizetype> m_existing; // entries found to be one of the files
};

// Calls check(file, direct) with every file the run writes (others first,
// direct) until it returns true.
template <typename Check>
void forEachOutput(const QStringList &videos, const OutputChoice &choice, const QString &outputDir,
                   const QStringList &others, Check check)
{
    for (const QString &file : others) {
        if (check(file, true))
            return;
    }
    for (const QString &video : videos) {
        for (const QString &file : outputNames(outputBase(video, outputDir), choice)) {
            if (check(file, false))
                return;
        }
    }
}

} // namespace

std::optional<QString> videoAmongOutputs(const QStringList &videos, const OutputChoice &choice,
                                         const QString &outputDir, const QStringList &others)
{
    OutputMatcher videoFiles(videos, choice);
    qsizetype first = videos.size();
    forEachOutput(videos, choice, outputDir, others, [&](const QString &file, bool direct) {
        if (const qsizetype found = videoFiles.match(file, direct); found >= 0)
            first = std::min(first, found);
        return false;
    });
    return first < videos.size() ? std::optional(videos[first]) : std::nullopt;
}

std::optional<QString> writtenAmong(const QString &file, const QStringList &videos,
                                    const OutputChoice &choice, const QString &outputDir,
                                    const QStringList &others)
{
    const QStringList files{file};
    OutputMatcher target(files, choice);
    std::optional<QString> written;
    forEachOutput(videos, choice, outputDir, others, [&](const QString &output, bool direct) {
        if (target.match(output, direct) >= 0)
            written = output;
        return written.has_value();
    });
    return written;
}
