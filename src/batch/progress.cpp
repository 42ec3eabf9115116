#include "batch/progress.h"

#include "export/filename.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {

QString rate(int64_t pictures, double elapsedSeconds)
{
    return QString::number(static_cast<double>(pictures) / elapsedSeconds, 'f', 1) +
           QStringLiteral(" pictures/s");
}

int terminalColumns(std::FILE *stream)
{
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Shortens the name at its start rather than losing the figures at the end.
QString fitted(const QString &name, const QString &line, int width)
{
    if (line.size() <= width)
        return line;
    const QString figures = line.mid(name.size());
    const qsizetype room = width - figures.size() - 3;
    if (room <= 0)
        return line.left(width);
    return QStringLiteral("...") + name.right(room) + figures;
}

} // namespace

QString failureLine(const QString &file, const QString &reason)
{
    return QStringLiteral("reelmeter-batch: ") + file + QStringLiteral(": ") + reason;
}

QString progressLine(const QString &name, const ReadProgress &progress, double elapsedSeconds)
{
    const bool known = progress.fraction >= 0;
    QString line =
        name + QStringLiteral("  ") +
        (known ? QString::number(static_cast<int>(progress.fraction * 100)) : QStringLiteral("?")) +
        QStringLiteral("%  ") + QString::number(progress.pictures) + QStringLiteral(" pictures");
    if (elapsedSeconds > 0)
        line += QStringLiteral("  ") + rate(progress.pictures, elapsedSeconds);
    if (known && progress.fraction > 0)
        line += QStringLiteral("  ") +
                formatDuration(elapsedSeconds * (1 - progress.fraction) / progress.fraction) +
                QStringLiteral(" left");
    if (!progress.crop.isNull())
        line += QStringLiteral("  crop=") + cropText(progress.crop);
    return line;
}

QString finishedLine(const QString &name, int64_t pictures, double elapsedSeconds,
                     const QRect &crop)
{
    QString line = name + QStringLiteral(": ") + QString::number(pictures) +
                   QStringLiteral(" pictures in ") + formatDuration(elapsedSeconds);
    if (elapsedSeconds > 0)
        line += QStringLiteral(", ") + rate(pictures, elapsedSeconds);
    if (!crop.isNull())
        line += QStringLiteral(", crop=") + cropText(crop);
    return line;
}

ProgressReport::ProgressReport(Mode mode, std::FILE *stream) : m_mode(mode), m_stream(stream) {}

ProgressReport::Mode ProgressReport::modeFor(std::FILE *stream, bool quiet)
{
    if (quiet)
        return Mode::Quiet;
    return isatty(fileno(stream)) ? Mode::Terminal : Mode::Lines;
}

int ProgressReport::begin(const QString &name)
{
    std::lock_guard lock(m_mutex);
    Running running{m_nextId++, printableName(name), QElapsedTimer(), QString()};
    running.clock.start();
    running.line = progressLine(running.name, ReadProgress(), 0);
    m_running << running;
    if (m_mode == Mode::Terminal)
        draw({});
    return running.id;
}

void ProgressReport::update(int id, const ReadProgress &progress)
{
    if (m_mode != Mode::Terminal)
        return;
    std::lock_guard lock(m_mutex);
    if (Running *running = find(id)) {
        running->line = progressLine(running->name, progress, running->clock.nsecsElapsed() / 1e9);
        draw({});
    }
}

void ProgressReport::finish(int id, const ReadProgress &progress, bool written)
{
    std::lock_guard lock(m_mutex);
    Running *running = find(id);
    if (!running)
        return;
    QStringList permanent;
    if (written && m_mode != Mode::Quiet)
        permanent << finishedLine(running->name, progress.pictures,
                                  running->clock.nsecsElapsed() / 1e9, progress.crop);
    m_running.removeIf([id](const Running &r) { return r.id == id; });
    draw(permanent);
}

void ProgressReport::message(const QString &text)
{
    std::lock_guard lock(m_mutex);
    draw({printableName(text)});
}

ProgressReport::Running *ProgressReport::find(int id)
{
    for (Running &running : m_running)
        if (running.id == id)
            return &running;
    return nullptr;
}

void ProgressReport::draw(const QStringList &permanent)
{
    if (m_mode != Mode::Terminal) {
        for (const QString &line : permanent)
            std::fprintf(m_stream, "%s\n", qPrintable(line));
        std::fflush(m_stream);
        return;
    }
    // Lines are cut to the terminal's width: a wrapped line would throw off
    // the count of lines to go back up.
    const int width = std::max(terminalColumns(m_stream) - 1, 10);
    QByteArray out;
    if (m_drawnLines > 0)
        out += "\r\033[" + QByteArray::number(m_drawnLines) + 'A';
    for (const QString &line : permanent)
        out += "\r\033[K" + line.toLocal8Bit() + '\n';
    for (const Running &running : m_running)
        out += "\r\033[K" + fitted(running.name, running.line, width).toLocal8Bit() + '\n';
    // Lines left over from videos that have finished.
    out += "\033[J";
    m_drawnLines = int(m_running.size());
    std::fwrite(out.constData(), 1, size_t(out.size()), m_stream);
    std::fflush(m_stream);
}
