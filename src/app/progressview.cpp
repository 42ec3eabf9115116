#include "app/progressview.h"

#include "analysis/timeaxis.h"
#include "video/framesource.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

int progressPercent(double pictureTime, double duration, int64_t position, int64_t size)
{
    const double fraction = progressFraction(pictureTime, duration, position, size);
    if (fraction < 0)
        return -1;
    // The last picture starts before the end, and the demuxer may read the
    // whole file before the decoder gives its last pictures.
    return std::clamp(int(std::floor(100.0 * fraction)), 0, 99);
}

ProgressView::ProgressView(QStatusBar *statusBar, QWidget *parent)
    : QObject(parent), m_bar(new QProgressBar(statusBar)), m_figures(new QLabel(statusBar))
{
    m_figures->setObjectName(QStringLiteral("runFigures"));
    statusBar->addPermanentWidget(m_figures);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    // Narrow, so the picture count keeps most of the bar.
    m_bar->setMaximumWidth(160);
    statusBar->addPermanentWidget(m_bar);
    m_bar->setVisible(false);
}

void ProgressView::runStarted()
{
    m_clock.start();
    m_sinceFigures.invalidate();
    m_figures->clear();
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setVisible(true);
}

void ProgressView::runFailed()
{
    m_figures->clear();
    m_bar->setVisible(false);
}

void ProgressView::pictureShown(const FrameSource *source, int64_t pictures)
{
    // Twice a second is enough for figures in whole seconds, and spares the
    // paced run a relayout of the status bar at every picture.
    if (!m_sinceFigures.isValid() || m_sinceFigures.hasExpired(500)) {
        m_sinceFigures.start();
        m_figures->setText(
            figures(pictures, progressFraction(source), m_clock.nsecsElapsed() / 1e9));
    }
    const int percent = progressPercent(currentPictureTime(source), streamDuration(source),
                                        readPosition(source), fileSize(source));
    if (percent < 0) {
        // Nothing tells how long the video is (a pipe): a busy bar.
        m_bar->setRange(0, 0);
        return;
    }
    m_bar->setRange(0, 100);
    // A picture whose time is unknown must not move the bar back.
    m_bar->setValue(std::max(m_bar->value(), percent));
}

QString ProgressView::figures(int64_t pictures, double fraction, double elapsedSeconds)
{
    QString text = formatDuration(elapsedSeconds);
    if (elapsedSeconds > 0)
        text += QStringLiteral("  ") + rateText(pictures, elapsedSeconds);
    if (fraction > 0 && fraction <= 1)
        text += QStringLiteral("  ") + timeLeftText(fraction, elapsedSeconds);
    return text;
}

void ProgressView::videoEnded(int64_t pictures)
{
    if (m_clock.isValid())
        m_figures->setText(figures(pictures, -1, m_clock.nsecsElapsed() / 1e9));
    m_bar->setRange(0, 100);
    m_bar->setValue(100);
}
