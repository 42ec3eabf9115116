#include "app/filmoverview.h"

#include "analysis/analysisstate.h"
#include "analysis/poster.h"
#include "analysis/timeaxis.h"
#include "app/overviewrun.h"
#include "app/playhead.h"
#include "app/stripview.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>
#include <QWheelEvent>

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
// A notch of the wheel shows this part of what was shown; a pan moves by
// this part of it.
constexpr double zoomStep = 0.8;
constexpr double panStep = 0.125;
// Until the window's run has timed two pictures.
constexpr double assumedInterval = 0.04;

// Each time no earlier than the one before: what a poster's span needs.
void appendPlaced(std::vector<double> &times, double time)
{
    const double before = times.empty() ? 0.0 : times.back();
    times.push_back(times.empty() ? std::max(time, 0.0) : std::max(time, before));
}

// Band colours of pictures first..last - 1 of strip, each the rounded
// average, into column x of image (a row a band, or all rows for one band).
void drawColumn(QImage &image, int x, const Strip &strip, int first, int last)
{
    const int bands = strip.bandCount();
    const int count = last - first;
    for (int b = 0; b < bands; ++b) {
        unsigned red = 0, green = 0, blue = 0;
        for (int i = first; i < last; ++i) {
            const QRgb pixel = strip.colourAt(i, b);
            red += unsigned(qRed(pixel));
            green += unsigned(qGreen(pixel));
            blue += unsigned(qBlue(pixel));
        }
        const unsigned half = unsigned(count) / 2;
        const QRgb colour =
            qRgb(int((red + half) / unsigned(count)), int((green + half) / unsigned(count)),
                 int((blue + half) / unsigned(count)));
        const int top = b * image.height() / bands;
        const int bottom = (b + 1) * image.height() / bands;
        for (int y = top; y < bottom; ++y)
            reinterpret_cast<QRgb *>(image.scanLine(y))[x] = colour;
    }
}

} // namespace

FilmOverview::FilmOverview(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filmOverview"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(false);
    m_follow.setSingleShot(true);
    m_follow.setInterval(250);
    connect(&m_follow, &QTimer::timeout, this, &FilmOverview::render);
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
    m_playhead = -1;
    m_viewSpan = 0;
    m_live = nullptr;
    m_runTimes.clear();
    m_runFrames = Strip(framesRows, 1);
    m_runAverage = Strip(1, 1);
    render();
}

void FilmOverview::followRun(const AnalysisState *state)
{
    if (!state && m_live) {
        syncRun();
        // Shared until the next run's first picture, and the panel is
        // cleared before that.
        if (m_live->frameCount >= 1 && m_live->strips.frames.bandCount() == framesRows) {
            m_runFrames = m_live->strips.frames;
            m_runAverage = m_live->strips.average;
        }
    }
    m_live = state;
}

void FilmOverview::syncRun()
{
    if (!m_live || m_live->frameCount < 1)
        return;
    const std::vector<double> &times = m_live->pictureTimes;
    for (size_t i = m_runTimes.size(); i < times.size(); ++i)
        appendPlaced(m_runTimes, times[i]);
}

int FilmOverview::runCount() const
{
    if (m_exact)
        return 0;
    const Strip &frames = m_live ? m_live->strips.frames : m_runFrames;
    const Strip &average = m_live ? m_live->strips.average : m_runAverage;
    if (frames.bandCount() != framesRows || (m_live && m_live->frameCount < 1))
        return 0;
    return std::min({int(m_runTimes.size()), frames.width(), average.width()});
}

double FilmOverview::runFront() const
{
    const int count = runCount();
    return count > 0 ? m_runTimes[size_t(count - 1)] + pictureInterval() : -1.0;
}

double FilmOverview::pictureInterval() const
{
    const std::vector<double> &times = m_exact ? m_times : m_runTimes;
    const size_t count = m_exact ? times.size() : size_t(runCount());
    if (count < 2 || !(times[count - 1] > times[0]))
        return assumedInterval;
    return (times[count - 1] - times[0]) / double(count - 1);
}

FilmOverview::Pictures FilmOverview::picturesAt(double time) const
{
    if (isZoomed() && time < runFront()) {
        const bool live = m_live != nullptr;
        return {live ? &m_live->strips.frames : &m_runFrames,
                live ? &m_live->strips.average : &m_runAverage,
                std::span<const double>(m_runTimes).first(size_t(runCount())), true};
    }
    return {&m_frames, &m_average, m_times, m_exact};
}

void FilmOverview::setPlayhead(double time)
{
    const auto lineArea = [this](double at) {
        return QRect(int(std::floor(xOf(at))) - 1, 0, 3, axisTop());
    };
    if (m_playhead >= 0 && !m_times.empty())
        update(lineArea(m_playhead));
    m_playhead = time;
    if (m_playhead >= 0 && !m_times.empty())
        update(lineArea(m_playhead));
    // Zoomed, the run's new columns replace the key pictures' in view.
    if (isZoomed() && m_live && !m_follow.isActive())
        m_follow.start();
}

double FilmOverview::viewStart() const
{
    return isZoomed() ? m_viewStart : start();
}

double FilmOverview::viewEnd() const
{
    return isZoomed() ? m_viewStart + m_viewSpan : end();
}

double FilmOverview::timeAt(double x) const
{
    return viewStart() + x * (viewEnd() - viewStart()) / std::max(width(), 1);
}

void FilmOverview::setView(double from, double span)
{
    const double whole = end() - start();
    // No narrower than a column a picture.
    span = std::max(span, pictureInterval() * width());
    if (m_times.empty() || span >= whole) {
        m_viewSpan = 0;
    } else {
        m_viewSpan = span;
        m_viewStart = std::clamp(from, start(), end() - span);
    }
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
    m_live = nullptr;
    m_runTimes = std::vector<double>();
    m_runFrames = Strip(framesRows, 1);
    m_runAverage = Strip(1, 1);
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
    return (time - viewStart()) / (viewEnd() - viewStart()) * width();
}

void FilmOverview::render()
{
    syncRun();
    if (isZoomed()) {
        // The film may have grown or shrunk under the part shown.
        const double whole = end() - start();
        if (m_viewSpan >= whole) {
            m_viewSpan = 0;
        } else {
            m_viewStart = std::clamp(m_viewStart, start(), end() - m_viewSpan);
            renderZoomed();
            return;
        }
    }
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

void FilmOverview::renderZoomed()
{
    const int columns = width();
    m_framesImage = QImage(std::max(columns, 1), framesHeight, QImage::Format_RGB32);
    m_averageImage = QImage(std::max(columns, 1), averageHeight, QImage::Format_RGB32);
    m_filled = 0;
    if (m_framesImage.isNull() || m_averageImage.isNull())
        return;
    // Beyond both runs' last pictures the columns wait for theirs.
    const double known =
        isComplete() ? end() : std::max(m_times.back(), runCount() > 0 ? runFront() : 0.0);
    for (int x = 0; x < columns; ++x) {
        const double from = timeAt(x), to = timeAt(x + 1);
        if (from > known)
            break;
        const Pictures shown = picturesAt((from + to) / 2);
        if (shown.times.empty())
            break;
        const auto begin = shown.times.begin();
        int first = int(std::lower_bound(begin, shown.times.end(), from) - begin);
        int last = int(std::lower_bound(begin, shown.times.end(), to) - begin);
        // A column without a picture of its own takes the nearest one.
        if (first == last) {
            first = nearestPicture(shown.times, (from + to) / 2);
            last = first + 1;
        }
        drawColumn(m_framesImage, x, *shown.frames, first, last);
        drawColumn(m_averageImage, x, *shown.average, first, last);
        m_filled = x + 1;
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
    if (m_playhead >= 0) {
        const int x = int(std::floor(xOf(m_playhead)));
        if (x >= 0 && x < columns)
            drawPlayhead(painter, x, 0, axisTop() - 1);
    }

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
    const double step = axisStep(columns / (viewEnd() - viewStart()), widest + labelGap);
    int labelsEnd = -labelGap;
    for (const double tick : axisTicks(viewStart(), viewEnd(), step)) {
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

int FilmOverview::pictureAt(int x, Pictures *pictures) const
{
    if (m_times.empty() || x < 0 || x >= m_filled)
        return -1;
    const double time = timeAt(x + 0.5);
    *pictures = picturesAt(time);
    const std::span<const double> times = pictures->times;
    if (times.empty())
        return -1;
    // Zoomed in on every picture, the one showing there: at a column a
    // picture, that column's own.
    if (isZoomed() && pictures->exact)
        return std::max(int(std::upper_bound(times.begin(), times.end(), time) - times.begin()) - 1,
                        0);
    return nearestPicture(times, time);
}

bool FilmOverview::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const int x = help->pos().x();
    syncRun();
    Pictures shown{};
    const int index = pictureAt(x, &shown);
    if (index < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const std::span<const double> times = shown.times;
    const size_t i = size_t(index);
    QString text = shown.exact
                       ? pictureText(index + 1, times[i])
                       : QStringLiteral("Key picture at ") + formatTimestamp(times[i]) +
                             QStringLiteral(", the nearest to ") + formatTimestamp(timeAt(x + 0.5));
    // The tip stays while the pointer is over the same picture: from
    // halfway to its neighbours, or zoomed in on every picture, while it shows.
    const bool showing = isZoomed() && shown.exact;
    const double from = i > 0 ? (showing ? times[i] : (times[i - 1] + times[i]) / 2) : start();
    const double to =
        i + 1 < times.size() ? (showing ? times[i + 1] : (times[i] + times[i + 1]) / 2) : end();
    const int first = std::min(int(std::ceil(xOf(from) - 0.5)), x);
    const int last = std::max(int(std::ceil(xOf(to) - 0.5)) - 1, x);
    QToolTip::showText(
        help->globalPos(), text, this,
        QRect(QPoint(std::max(first, 0), 0), QPoint(std::min(last, m_filled - 1), height() - 1)));
    return true;
}

void FilmOverview::mousePressEvent(QMouseEvent *event)
{
    syncRun();
    Pictures shown{};
    const int index =
        event->button() == Qt::LeftButton ? pictureAt(int(event->position().x()), &shown) : -1;
    if (index >= 0)
        emit pictureClicked(shown.times[size_t(index)], shown.exact ? index + 1 : 0);
    QWidget::mousePressEvent(event);
}

void FilmOverview::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (isZoomed())
        setView(start(), end() - start());
    QWidget::mouseDoubleClickEvent(event);
}

void FilmOverview::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    const double span = viewEnd() - viewStart();
    if (m_times.empty() || width() <= 0 || span <= 0) {
        event->ignore();
        return;
    }
    // Shift or a sideways wheel moves along the film.
    const bool pan = (event->modifiers() & Qt::ShiftModifier) || delta.y() == 0;
    const int notches = pan && delta.x() != 0 ? delta.x() : delta.y();
    if (pan) {
        if (isZoomed())
            setView(m_viewStart - notches / 120.0 * panStep * span, span);
    } else {
        // The time under the pointer stays under it.
        const double x = event->position().x();
        const double pointer = timeAt(x);
        const double zoomed =
            std::max(span * std::pow(zoomStep, notches / 120.0), pictureInterval() * width());
        setView(pointer - x * zoomed / width(), zoomed);
    }
    event->accept();
}
