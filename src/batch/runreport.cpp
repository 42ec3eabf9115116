#include "batch/runreport.h"

#include "export/atomicfile.h"
#include "export/filename.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

const char *statusName(VideoOutcome::Status status)
{
    switch (status) {
    case VideoOutcome::Written:
        return "written";
    case VideoOutcome::Skipped:
        return "skipped";
    case VideoOutcome::Failed:
        break;
    }
    return "failed";
}

// Holds a write lock on the whole file while it lives; a file that takes no
// locks (a pipe, some file systems) is written without one.
class FileLock
{
public:
    explicit FileLock(int descriptor) : m_descriptor(descriptor)
    {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        int result;
        do
            result = ::fcntl(descriptor, F_SETLKW, &lock);
        while (result != 0 && errno == EINTR);
        m_locked = result == 0;
    }
    ~FileLock()
    {
        if (!m_locked)
            return;
        struct flock lock = {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(m_descriptor, F_SETLK, &lock);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int m_descriptor;
    bool m_locked = false;
};

} // namespace

QByteArray reportLine(const QString &path, const VideoOutcome &outcome)
{
    QJsonObject line{
        {QStringLiteral("path"), path},
        {QStringLiteral("status"), QLatin1String(statusName(outcome.status))},
        {QStringLiteral("pictures"), qint64(outcome.pictures)},
        {QStringLiteral("seconds"), std::round(outcome.seconds * 1000) / 1000},
        {QStringLiteral("outputs"), QJsonArray::fromStringList(outcome.outputs)},
        {QStringLiteral("colour"), outcome.colour},
    };
    if (outcome.status == VideoOutcome::Failed)
        line.insert(QStringLiteral("error"), outcome.error);
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

std::unique_ptr<RunReport> RunReport::open(const QString &fileName, QString *why)
{
    if (fileName == QLatin1String("-"))
        return std::unique_ptr<RunReport>(new RunReport(STDOUT_FILENO, false));
    const QByteArray path = fileNameBytes(fileName);
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    const QString notRegular = QStringLiteral("The report must be a regular file.");
    // A FIFO would block the open until someone reads it.
    struct stat status;
    if (::stat(path.constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return fail(notRegular);
    const int descriptor =
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (descriptor < 0)
        return fail(systemReason(errno));
    std::unique_ptr<RunReport> report(new RunReport(descriptor, true));
    // It may have been swapped for something else since the stat.
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return fail(notRegular);
    return report;
}

RunReport::RunReport(int descriptor, bool owned) : m_descriptor(descriptor), m_owned(owned) {}

RunReport::~RunReport()
{
    if (m_owned)
        ::close(m_descriptor);
}

bool RunReport::append(const QString &path, const VideoOutcome &outcome, QString *why)
{
    const QByteArray line = reportLine(path, outcome);
    std::lock_guard guard(m_mutex);
    FileLock lock(m_descriptor);
    // O_APPEND puts each write at the end; under the lock the rest of a short
    // write (a pipe) follows it before anyone else's line.
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t written =
            ::write(m_descriptor, line.constData() + done, size_t(line.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (why)
                *why = systemReason(written < 0 ? errno : ENOSPC);
            return false;
        }
        done += written;
    }
    return true;
}
