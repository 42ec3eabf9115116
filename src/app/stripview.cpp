#include "app/stripview.h"

#include "app/mainwindowform.h"
#include "app/playhead.h"

#include <QEvent>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

// Redraws per second while a run goes on; the eye sees no more.
constexpr qint64 redrawIntervalMs = 33;

// The labels live in the main window, so their window() is the one whose
// width caps them.
void capLabel(QLabel *label, int height)
{
    label->setMaximumSize(label->window()->width() - 50, height);
}

bool isCapped(const QLabel *label)
{
    return label->maximumWidth() < QWIDGETSIZE_MAX;
}

// Position 0 in shownStrips().
constexpr int quadrantStrip = 1;

const char *quadrantName(int band)
{
    static const char *const names[] = {"top left", "top right", "bottom left", "bottom right"};
    return names[std::clamp(band, 0, 3)];
}

// The first of length pixels whose centre lies in part i of count equal parts.
int firstPixel(int i, int length, int count)
{
    return int(std::ceil(double(i) * length / count - 0.5));
}

} // namespace

QString pictureText(int number, double time)
{
    QString text = QStringLiteral("Picture %1").arg(number);
    if (time < 0)
        return text;
    const qint64 ms = std::llround(time * 1000.0);
    return text + QStringLiteral(" at %1:%2:%3.%4")
                      .arg(ms / 3600000)
                      .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
                      .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                      .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

StripView::StripView(const StripSet *strips, const std::vector<double> *times, MainWindowForm *form,
                     QWidget *parent)
    : QObject(parent), m_strips(strips), m_times(times), m_form(form)
{
    const auto shown = shownStrips();
    for (size_t i = 0; i < shown.size(); ++i) {
        shown[i].second->installEventFilter(this);
        m_lines[i] = new PlayheadLine(shown[i].second);
    }
    m_form->label->installEventFilter(this);
    parent->installEventFilter(this);
}

void StripView::beginRun(const QString &videoPath, double sampleAspect)
{
    m_videoPath = videoPath;
    m_runSampleAspect = sampleAspect;
    m_sinceShown.invalidate();
    m_playhead = -1;
}

void StripView::addPicture(const QImage &frame)
{
    m_exact = false;
    // The run's pictures replace it; a resize waits for the next one.
    m_previewPicture = QImage();
    const bool show = !m_sinceShown.isValid() || m_sinceShown.elapsed() >= redrawIntervalMs;
    const auto strips = shownStrips();
    for (int i = 0; i < int(strips.size()); ++i) {
        capLabel(strips[i].second, strips[i].first->height());
        if (show)
            showStrip(i);
    }
    if (show) {
        showPreview(frame);
        m_sinceShown.start();
        setPlayhead(m_strips->average.width() - 1);
    }
}

void StripView::refresh(const QImage *frame)
{
    m_exact = true;
    for (int i = 0; i < int(m_drawnColumns.size()); ++i)
        showStrip(i);
    if (frame && !frame->isNull()) {
        showPicture(*frame, m_runSampleAspect);
        setPlayhead(m_strips->average.width() - 1);
    }
    placePlayhead();
    m_sinceShown.start();
}

void StripView::setPlayhead(int index)
{
    const bool moved = index != m_playhead;
    m_playhead = index;
    placePlayhead();
    if (moved)
        emit playheadMoved(index);
}

void StripView::placePlayhead()
{
    const auto strips = shownStrips();
    for (size_t i = 0; i < strips.size(); ++i) {
        const QLabel *label = strips[i].second;
        const int columns = m_drawnColumns[i];
        const QRect area = label->contentsRect();
        const bool shown = m_playhead >= 0 && m_playhead < columns && !label->pixmap().isNull();
        // The middle of the picture's column as the label scales it.
        m_lines[i]->setX(shown ? area.left() + int((m_playhead + 0.5) * area.width() / columns)
                               : -1);
    }
}

void StripView::showPicture(const QImage &picture, double sampleAspect)
{
    if (picture.isNull() || sampleAspect <= 0)
        return;
    // A copy: picture may be a view of a reader's buffer.
    m_previewPicture = picture.copy();
    m_previewAspect = picture.width() * sampleAspect / picture.height();
    showPreview(m_previewPicture);
}

std::array<std::pair<const Strip *, QLabel *>, 5> StripView::shownStrips() const
{
    return {{{&m_strips->average, m_form->averageDisplay},
             {&m_strips->quadrant, m_form->averageQuadDisplay},
             {&m_strips->brightness, m_form->brightnessDisplay},
             {&m_strips->difference, m_form->differenceDisplay},
             {&m_strips->mood, m_form->moodDisplay}}};
}

int StripView::stripIndexOf(const QObject *label) const
{
    const auto strips = shownStrips();
    for (int i = 0; i < int(strips.size()); ++i)
        if (strips[i].second == label)
            return i;
    return -1;
}

void StripView::showStrip(int which)
{
    const auto [strip, label] = shownStrips()[which];
    m_drawnColumns[which] = strip->width();
    if (strip->width() == 0) {
        label->clear();
        return;
    }
    const QSize size = label->contentsRect().size();
    label->setPixmap(
        QPixmap::fromImage(m_exact ? strip->exactDisplayImage(size) : strip->displayImage(size)));
}

void StripView::showPreview(const QImage &frame)
{
    if (m_previewPicture.isNull())
        m_previewAspect = frame.width() * m_runSampleAspect / frame.height();
    fitPreview();
    // Scaled to the label here, so the label has nothing left to scale and the
    // cost depends on the label's size, not the video's.
    QLabel *preview = m_form->label;
    const QSize size = preview->contentsRect().size();
    if (size.isEmpty() || frame.size() == size)
        preview->setPixmap(QPixmap::fromImage(frame));
    else
        preview->setPixmap(QPixmap::fromImage(
            frame.scaled(size, Qt::IgnoreAspectRatio,
                         m_exact ? Qt::SmoothTransformation : Qt::FastTransformation)));
    preview->setVisible(true);
}

void StripView::fitPreview()
{
    if (m_previewAspect <= 0)
        return;
    QLabel *preview = m_form->label;
    const QRect whole = preview->contentsRect().marginsAdded(preview->contentsMargins());
    const int width = whole.width(), height = whole.height();
    if (width <= 0 || height <= 0)
        return;
    QSize fitted(width, std::max(1, int(std::lround(width / m_previewAspect))));
    if (fitted.height() > height)
        fitted = QSize(std::max(1, int(std::lround(height * m_previewAspect))), height);
    const int left = (width - fitted.width()) / 2;
    const int top = (height - fitted.height()) / 2;
    // What the margins leave uncovered shows the label's own background.
    preview->setContentsMargins(left, top, width - fitted.width() - left,
                                height - fitted.height() - top);
}

void StripView::recap()
{
    for (const auto &[strip, label] : shownStrips())
        if (isCapped(label))
            capLabel(label, strip->height());
}

int StripView::pictureAt(int which, int x) const
{
    const QLabel *label = shownStrips()[which].second;
    const int columns = m_drawnColumns[which];
    const QRect area = label->contentsRect();
    if (columns <= 0 || label->pixmap().isNull() || area.isEmpty() || x < area.left() ||
        x > area.right())
        return -1;
    // The column under the pixel's centre, squeezed or stretched as drawn.
    const double column = (x - area.left() + 0.5) * columns / area.width();
    return std::clamp(int(column), 0, columns - 1);
}

bool StripView::showToolTip(int which, QEvent *event)
{
    const auto *help = static_cast<QHelpEvent *>(event);
    const int index = pictureAt(which, help->pos().x());
    if (index < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const double time = size_t(index) < m_times->size() ? (*m_times)[size_t(index)] : -1.0;
    QString text = pictureText(index + 1, time);
    QLabel *label = shownStrips()[which].second;
    const QRect area = label->contentsRect();
    const int columns = m_drawnColumns[which];
    // The tip stays while the pointer is over the same picture (and band).
    QRect over(area.left() + firstPixel(index, area.width(), columns), area.top(), 0, 0);
    over.setRight(area.left() + firstPixel(index + 1, area.width(), columns) - 1);
    over.setBottom(area.bottom());
    if (which == quadrantStrip) {
        const int bands = shownStrips()[which].first->bandCount();
        const int band = std::clamp(
            int((help->pos().y() - area.top() + 0.5) * bands / area.height()), 0, bands - 1);
        text += QStringLiteral(", %1 quadrant").arg(QLatin1String(quadrantName(band)));
        over.setTop(area.top() + firstPixel(band, area.height(), bands));
        over.setBottom(area.top() + firstPixel(band + 1, area.height(), bands) - 1);
    }
    QToolTip::showText(help->globalPos(), text, label, over);
    return true;
}

bool StripView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize:
        if (watched == parent()) {
            // The caps follow the window, so its labels can grow or shrink with it.
            recap();
        } else if (watched == m_form->label) {
            // Setting the margins sends a resize of the same size.
            const auto *resize = static_cast<QResizeEvent *>(event);
            if (resize->size() != resize->oldSize()) {
                fitPreview();
                // A preview cleared by a language change stays empty.
                if (!m_previewPicture.isNull() && !m_form->label->pixmap().isNull())
                    showPreview(m_previewPicture);
            }
        } else if (const int which = stripIndexOf(watched); which >= 0) {
            // Only strips that are shown are redrawn: a label cleared by a
            // language change stays empty until the next picture, as before.
            if (!shownStrips()[which].second->pixmap().isNull())
                showStrip(which);
            m_lines[size_t(which)]->setGeometry(shownStrips()[which].second->rect());
            placePlayhead();
        }
        break;
    case QEvent::ToolTip:
        if (const int which = stripIndexOf(watched); which >= 0)
            return showToolTip(which, event);
        break;
    case QEvent::MouseButtonPress:
        if (const int which = stripIndexOf(watched); which >= 0) {
            const auto *press = static_cast<QMouseEvent *>(event);
            const int index = press->button() == Qt::LeftButton
                                  ? pictureAt(which, int(press->position().x()))
                                  : -1;
            if (index >= 0)
                emit pictureClicked(index);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
