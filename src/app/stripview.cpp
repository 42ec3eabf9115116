#include "app/stripview.h"

#include "app/mainwindowform.h"

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {

// Redraws per second while a run goes on; the eye sees no more.
constexpr qint64 redrawIntervalMs = 33;

// The labels live in the main window, so their window() is the one whose
// width caps them.
void capLabel(QLabel *label, int height)
{
    label->setMaximumSize(label->window()->width() - 50, height);
}

} // namespace

StripView::StripView(const StripSet *strips, MainWindowForm *form, QWidget *parent)
    : QObject(parent), m_strips(strips), m_form(form)
{
    for (const auto &[strip, label] : shownStrips())
        label->installEventFilter(this);
}

void StripView::beginRun(const QString &videoPath)
{
    m_videoPath = videoPath;
    m_sinceShown.invalidate();
}

void StripView::addPicture(const QImage &frame)
{
    m_exact = false;
    const bool show = !m_sinceShown.isValid() || m_sinceShown.elapsed() >= redrawIntervalMs;
    for (const auto &[strip, label] : shownStrips()) {
        capLabel(label, strip->height());
        if (show)
            showStrip(*strip, label);
    }
    if (show) {
        showPreview(frame);
        m_sinceShown.start();
    }
}

void StripView::refresh(const QImage *frame)
{
    m_exact = true;
    for (const auto &[strip, label] : shownStrips())
        showStrip(*strip, label);
    if (frame && !frame->isNull())
        showPreview(*frame);
    m_sinceShown.start();
}

std::array<std::pair<const Strip *, QLabel *>, 5> StripView::shownStrips() const
{
    return {{{&m_strips->average, m_form->averageDisplay},
             {&m_strips->quadrant, m_form->averageQuadDisplay},
             {&m_strips->brightness, m_form->brightnessDisplay},
             {&m_strips->difference, m_form->differenceDisplay},
             {&m_strips->mood, m_form->moodDisplay}}};
}

void StripView::showStrip(const Strip &strip, QLabel *label)
{
    if (strip.width() == 0) {
        label->clear();
        return;
    }
    const QSize size = label->contentsRect().size();
    label->setPixmap(
        QPixmap::fromImage(m_exact ? strip.exactDisplayImage(size) : strip.displayImage(size)));
}

void StripView::showPreview(const QImage &frame)
{
    // Scaled to the label here, so the label has nothing left to scale and the
    // cost depends on the label's size, not the video's.
    QLabel *preview = m_form->label;
    const QSize size = preview->contentsRect().size();
    if (size.isEmpty() || frame.size() == size)
        preview->setPixmap(QPixmap::fromImage(frame));
    else
        preview->setPixmap(
            QPixmap::fromImage(frame.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    preview->setVisible(true);
}

bool StripView::eventFilter(QObject *watched, QEvent *event)
{
    // Only strips that are shown are redrawn: a label cleared by a language
    // change stays empty until the next picture, as before.
    if (event->type() == QEvent::Resize) {
        for (const auto &[strip, label] : shownStrips())
            if (label == watched && !label->pixmap().isNull())
                showStrip(*strip, label);
    }
    return QObject::eventFilter(watched, event);
}
