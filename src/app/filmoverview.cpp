#include "app/filmoverview.h"

#include "analysis/poster.h"
#include "analysis/timeaxis.h"
#include "app/overviewrun.h"
#include "app/stripview.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

// Rows of the panel, top to bottom: the squeezed pictures, the average
// colour, a lane for the cuts, then the axis (its ticks and labels).
constexpr int framesHeight = FilmOverview::framesRows;
constexpr int averageTop = framesHeight + 2;
constexpr int averageHeight = 12;
constexpr int cutsTop = averageTop + averageHeight + 1;
constexpr int cutsHeight = 7;
constexpr int tickLength = 4;
// Room between two labels of the axis, beside the widest label.
constexpr int labelGap = 16;

// Each time no earlier than the one before: what a poster's span needs.
void appendPlaced(std::vector<double> &times, double time)
{
    const double before = times.empty() ? 0.0 : times.back();
    times.push_back(times.empty() ? std::max(time, 0.0) : std::max(time, before));
}

} // namespace

FilmOverview::FilmOverview(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filmOverview"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(false);
}

QSize FilmOverview::sizeHint() const
{
    return {400, minimumSizeHint().height()};
}

QSize FilmOverview::minimumSizeHint() const
{
    // Nothing asks for width: the window can always be made narrower.
    return {0, axisTop() + tickLength + 1 + fontMetrics().height() + 1};
}

QRect FilmOverview::framesArea() const
{
    return {0, 0, width(), framesHeight};
}

QRect FilmOverview::averageArea() const
{
    return {0, averageTop, width(), averageHeight};
}

int FilmOverview::axisTop() const
{
    return cutsTop + cutsHeight;
}

void FilmOverview::clear(const QString &videoPath)
{
    m_videoPath = videoPath;
    // New strips: kept ones may share their pixels with the window's run,
    // which would then copy them at its next picture.
    m_frames = Strip(framesRows, 1);
    m_average = Strip(1, 1);
    m_times.clear();
    m_duration = -1;
    m_end = 0;
    m_keysDone = false;
    m_exact = false;
    m_cuts.clear();
    render();
}

void FilmOverview::addKeyPictures(const OverviewBatch &batch)
{
    if (batch.finished) {
        m_keysDone = true;
        m_cuts = batch.cuts;
    }
    if (m_exact) {
        update();
        return;
    }
    m_duration = batch.duration;
    if (batch.finished)
        m_end = batch.end;
    const size_t count = batch.times.size();
    if (batch.averages.size() == count && batch.frames.size() == count * framesRows) {
        std::vector<QColor> rows(framesRows);
        for (size_t i = 0; i < count; ++i) {
            for (int r = 0; r < framesRows; ++r)
                rows[size_t(r)] = QColor(batch.frames[i * framesRows + size_t(r)]);
            m_frames.append(rows);
            m_average.append(QColor(batch.averages[i]));
            appendPlaced(m_times, batch.times[i]);
        }
    }
    render();
}

void FilmOverview::showExact(const Strip &frames, const Strip &average, std::vector<double> times,
                             double end)
{
    if (frames.bandCount() != framesRows || frames.width() != int(times.size()) ||
        average.width() != int(times.size()) || times.empty())
        return;
    // Strips share their pixels until either changes.
    m_frames = frames;
    m_average = average;
    m_times = std::move(times);
    m_end = end;
    m_exact = true;
    render();
}

double FilmOverview::start() const
{
    return m_times.empty() ? 0.0 : m_times.front();
}

double FilmOverview::end() const
{
    if (m_times.empty())
        return 0.0;
    const double last = m_exact ? m_end : std::max({m_duration, m_end, m_times.back()});
    // One picture of unknown length still takes the panel.
    return last > start() ? last : start() + 1.0;
}

double FilmOverview::xOf(double time) const
{
    return (time - start()) / (end() - start()) * width();
}

void FilmOverview::render()
{
    const int columns = width();
    m_framesImage = QImage();
    m_averageImage = QImage();
    m_filled = 0;
    if (!m_times.empty() && columns > 0 && m_frames.width() == int(m_times.size()) &&
        m_average.width() == int(m_times.size())) {
        const PictureSpan span{m_times, end()};
        m_framesImage = posterImage(m_frames, span, columns, framesHeight);
        m_averageImage = posterImage(m_average, span, columns, averageHeight);
        // While key pictures come, the columns after the last one wait for theirs.
        m_filled = isComplete() ? columns
                                : std::clamp(int(std::floor(xOf(m_times.back()))) + 1, 1, columns);
    }
    update();
}

void FilmOverview::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        render();
}

void FilmOverview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int columns = width();
    const QColor waiting = palette().color(QPalette::Mid);
    painter.fillRect(framesArea(), waiting);
    painter.fillRect(averageArea(), waiting);
    if (m_filled > 0) {
        const QRect drawn(0, 0, m_filled, framesHeight);
        painter.drawImage(QPoint(0, 0), m_framesImage, drawn);
        painter.drawImage(QPoint(0, averageTop), m_averageImage,
                          QRect(0, 0, m_filled, averageHeight));
    }
    if (m_times.empty())
        return;

    painter.setPen(palette().color(QPalette::WindowText));
    for (const double cut : m_cuts) {
        const int x = int(std::floor(xOf(cut)));
        if (x >= 0 && x < m_filled)
            painter.drawLine(x, cutsTop, x, cutsTop + cutsHeight - 2);
    }

    // The axis: a tick at every step, labelled where a label fits.
    const int top = axisTop();
    painter.drawLine(0, top, columns - 1, top);
    const bool withHours = end() >= 3600;
    const QFontMetrics metrics = fontMetrics();
    const double widest = metrics.horizontalAdvance(formatDuration(end(), withHours));
    const double step = axisStep(columns / (end() - start()), widest + labelGap);
    int labelsEnd = -labelGap;
    for (const double tick : axisTicks(start(), end(), step)) {
        const int x = std::min(int(std::lround(xOf(tick))), columns - 1);
        painter.drawLine(x, top, x, top + tickLength);
        const QString label = formatDuration(tick, withHours);
        const int labelWidth = metrics.horizontalAdvance(label);
        const int left = std::clamp(x - labelWidth / 2, 0, std::max(columns - labelWidth, 0));
        if (left < labelsEnd + labelGap / 2)
            continue;
        painter.drawText(QRect(left, top + tickLength + 1, labelWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop, label);
        labelsEnd = left + labelWidth;
    }
}

int FilmOverview::pictureAt(int x) const
{
    if (m_times.empty() || x < 0 || x >= m_filled)
        return -1;
    return nearestPicture(m_times, start() + (x + 0.5) * (end() - start()) / width());
}

QString FilmOverview::pictureName(int index) const
{
    const double time = m_times[size_t(index)];
    return m_exact ? pictureText(index + 1, time)
                   : QStringLiteral("Key picture at ") + formatTimestamp(time);
}

bool FilmOverview::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const int x = help->pos().x();
    const int index = pictureAt(x);
    if (index < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QString text = pictureName(index);
    if (!m_exact) {
        const double pointer = start() + (x + 0.5) * (end() - start()) / width();
        text += QStringLiteral(", the nearest to ") + formatTimestamp(pointer);
    }
    // The tip stays while the pointer is over the same picture.
    const size_t i = size_t(index);
    const double from = i > 0 ? (m_times[i - 1] + m_times[i]) / 2 : start();
    const double to = i + 1 < m_times.size() ? (m_times[i] + m_times[i + 1]) / 2 : end();
    const int first = std::min(int(std::ceil(xOf(from) - 0.5)), x);
    const int last = std::max(int(std::ceil(xOf(to) - 0.5)) - 1, x);
    QToolTip::showText(
        help->globalPos(), text, this,
        QRect(QPoint(std::max(first, 0), 0), QPoint(std::min(last, m_filled - 1), height() - 1)));
    return true;
}

void FilmOverview::mousePressEvent(QMouseEvent *event)
{
    const int index =
        event->button() == Qt::LeftButton ? pictureAt(int(event->position().x())) : -1;
    if (index >= 0)
        emit pictureClicked(m_times[size_t(index)], m_exact ? index + 1 : 0);
    QWidget::mousePressEvent(event);
}
