#include "app/stripview.h"

#include "analysis/analysisstate.h"
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

void showScaled(const Strip &strip, QLabel *label)
{
    if (strip.width() == 0) {
        label->clear();
        return;
    }
    label->setPixmap(QPixmap::fromImage(strip.displayImage(label->contentsRect().size())));
}

} // namespace

void renderStrip(Strip &strip, const ColourHistory &history, QLabel *label, bool show)
{
    for (int i = strip.width(); i < history.size(); ++i)
        strip.append(history[i]);
    capLabel(label, strip.height());
    if (show)
        showScaled(strip, label);
}

void renderQuadrantStrip(Strip &strip, const std::array<ColourHistory, 4> &histories, QLabel *label,
                         bool show)
{
    for (int i = strip.width(); i < histories[TopLeft].size(); ++i) {
        const std::array<QColor, 4> column = {histories[TopLeft][i], histories[TopRight][i],
                                              histories[BottomLeft][i], histories[BottomRight][i]};
        strip.append(column);
    }
    capLabel(label, strip.height());
    if (show)
        showScaled(strip, label);
}

StripView::StripView(MainWindowForm *form, QWidget *parent) : QObject(parent), m_form(form)
{
    for (QLabel *label :
         {m_form->averageDisplay, m_form->averageQuadDisplay, m_form->brightnessDisplay,
          m_form->differenceDisplay, m_form->moodDisplay})
        label->installEventFilter(this);
}

void StripView::beginRun(const QString &videoPath)
{
    m_strips.clear();
    m_videoPath = videoPath;
    m_sinceShown.invalidate();
}

void StripView::addPicture(const AnalysisState &state, const QImage &frame)
{
    const bool show = !m_sinceShown.isValid() || m_sinceShown.elapsed() >= redrawIntervalMs;
    renderStrip(m_strips.average, state.averageHistory, m_form->averageDisplay, show);
    renderQuadrantStrip(m_strips.quadrant, state.quadrantHistories, m_form->averageQuadDisplay,
                        show);
    renderStrip(m_strips.brightness, state.brightnessHistory, m_form->brightnessDisplay, show);
    renderStrip(m_strips.difference, state.differenceHistory, m_form->differenceDisplay, show);
    renderStrip(m_strips.mood, state.moodHistory, m_form->moodDisplay, show);
    if (show) {
        showPreview(frame);
        m_sinceShown.start();
    }
}

void StripView::refresh(const QImage *frame)
{
    showStrips();
    if (frame && !frame->isNull())
        showPreview(*frame);
    m_sinceShown.start();
}

std::array<std::pair<const Strip *, QLabel *>, 5> StripView::shownStrips() const
{
    return {{{&m_strips.average, m_form->averageDisplay},
             {&m_strips.quadrant, m_form->averageQuadDisplay},
             {&m_strips.brightness, m_form->brightnessDisplay},
             {&m_strips.difference, m_form->differenceDisplay},
             {&m_strips.mood, m_form->moodDisplay}}};
}

void StripView::showStrips()
{
    for (const auto &[strip, label] : shownStrips())
        showScaled(*strip, label);
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
                showScaled(*strip, label);
    }
    return QObject::eventFilter(watched, event);
}
