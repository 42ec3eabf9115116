// Telling files apart: by device and inode when they exist, by clean
// absolute path when they do not.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <sys/types.h>

#include <optional>
#include <utility>

// A file's device and inode, links followed: the same file by any name.
using FileIdentity = std::pair<dev_t, ino_t>;

// Looks up the identities of many names, most of them in a few directories:
// each directory is looked up once, then only the names within it, which
// keeps a list of a million names quick.
class FileIdentities
{
public:
    FileIdentities() = default;
    ~FileIdentities();
    FileIdentities(const FileIdentities &) = delete;
    FileIdentities &operator=(const FileIdentities &) = delete;

    // Nothing when the name cannot be looked up (it does not exist, say).
    std::optional<FileIdentity> of(const QString &name);

private:
    QByteArray m_directory; // the last name's directory, as given
    int m_descriptor = -1;  // that directory, opened O_PATH; -1 when it cannot be
};

// path made absolute and cleaned: what tells two mentions of a file apart.
// Loops over many names pass the working directory once: asking the system
// for it costs a call per name.
QString cleanAbsolute(const QString &path, const QString &workingDirectory = QDir::currentPath());
