#include "export/fileidentity.h"

#include "export/filename.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileIdentities::~FileIdentities()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::optional<FileIdentity> FileIdentities::of(const QString &name)
{
    const QByteArray path = fileNameBytes(name);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray directory = slash < 0 ? QByteArray(".") : path.left(slash + 1);
    if (directory != m_directory || m_directory.isNull()) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_directory = directory;
        m_descriptor = ::open(directory.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    const QByteArray file = path.mid(slash + 1);
    struct stat status;
    // A name ending in a slash (or "dir/.") is the directory itself.
    const bool found =
        m_descriptor >= 0 &&
        ::fstatat(m_descriptor, file.isEmpty() ? "." : file.constData(), &status, 0) == 0;
    if (!found)
        return std::nullopt;
    return FileIdentity(status.st_dev, status.st_ino);
}

QString cleanAbsolute(const QString &path, const QString &workingDirectory)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                      : workingDirectory + QLatin1Char('/') + path);
}
