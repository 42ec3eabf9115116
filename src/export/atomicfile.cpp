#include "export/atomicfile.h"

#include "export/filename.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

bool fail(QString *why, int error)
{
    if (why)
        *why = systemReason(error);
    return false;
}

// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    // The close of a written file can report a failed write of its own.
    int release()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

// A short name of its own, so that a target name close to the longest a
// directory allows still leaves room for it.
QByteArray temporaryName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(".reelmeter-");
    for (int i = 0; i < 10; ++i)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name + ".tmp";
}

bool writeAll(int fd, QByteArrayView bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Passes what is written on to a descriptor in blocks of a megabyte, and
// keeps the reason of the first write that failed.
class DescriptorDevice : public QIODevice
{
public:
    explicit DescriptorDevice(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | Unbuffered); }
    // 0 when everything reached the file, else the errno of the failure.
    int finish()
    {
        flushBlock();
        return m_error;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (m_error != 0)
            return -1;
        if (m_block.size() + size > blockSize)
            flushBlock();
        // A large piece goes straight to the file rather than through a copy.
        if (size >= blockSize) {
            if (m_error == 0 && !writeAll(m_fd, QByteArrayView(data, size)))
                m_error = errno;
        } else {
            m_block.append(data, size);
        }
        return m_error == 0 ? size : -1;
    }

private:
    static constexpr qsizetype blockSize = qsizetype(1) << 20;
    void flushBlock()
    {
        if (m_error == 0 && !writeAll(m_fd, m_block))
            m_error = errno;
        m_block.truncate(0);
    }

    int m_fd;
    int m_error = 0;
    QByteArray m_block;
};

} // namespace

QString systemReason(int error)
{
    // strerror's text without its thread-unsafe buffer: videos are written
    // from several threads at once.
    return QString::fromStdString(std::generic_category().message(error)) + QLatin1Char('.');
}

bool writeFileAtomically(const QString &fileName, const QByteArray &bytes, QString *why)
{
    return writeFileAtomically(
        fileName, [&bytes](QIODevice &device) { return device.write(bytes) == bytes.size(); },
        QString(), why);
}

bool writeFileAtomically(const QString &fileName, const std::function<bool(QIODevice &)> &write,
                         const QString &failure, QString *why)
{
    const QByteArray path = fileNameBytes(fileName);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray directory = slash < 0    ? QByteArray(".")
                                 : slash == 0 ? QByteArray("/")
                                              : path.left(slash);
    const QByteArray name = path.mid(slash + 1);
    if (name.isEmpty())
        return fail(why, EISDIR);

    // Everything below is relative to this one directory, so the new file and
    // the target stay side by side whatever happens to the path meanwhile.
    // O_PATH: a directory one may write in but not list will do.
    const Descriptor dir(::open(directory.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return fail(why, errno);
    struct stat target;
    const bool exists = ::fstatat(dir.get(), name.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0;
    // A name too long or a directory that cannot be searched fails here,
    // before anything is written.
    if (!exists && errno != ENOENT)
        return fail(why, errno);

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporaryName();
        // 0666 less the umask, as for any new file.
        fd = ::openat(dir.get(), temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(why, errno);
    }
    if (fd < 0)
        return fail(why, EEXIST);
    Descriptor file(fd);
    const auto abandon = [&](int error) {
        ::unlinkat(dir.get(), temporary.constData(), 0);
        return fail(why, error);
    };

    // Set before any byte is in it: a private file stays private throughout.
    if (exists && S_ISREG(target.st_mode) && ::fchmod(file.get(), target.st_mode & 0777) != 0)
        return abandon(errno);
    DescriptorDevice device(file.get());
    const bool written = write(device);
    if (const int error = device.finish(); error != 0)
        return abandon(error);
    if (!written) {
        ::unlinkat(dir.get(), temporary.constData(), 0);
        if (why)
            *why = failure;
        return false;
    }
    if (::fsync(file.get()) != 0 || file.release() != 0)
        return abandon(errno);
    if (::renameat(dir.get(), temporary.constData(), dir.get(), name.constData()) != 0)
        return abandon(errno);
    return true;
}
