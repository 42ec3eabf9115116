// The window's playhead: where the strips and the overview mark the picture
// shown, and the keys that step through the pictures.
#include "analysis/analysisstate.h"
#include "analysis/poster.h"
#include "app/filmoverview.h"
#include "app/mainwindow.h"
#include "app/playhead.h"
#include "app/stripview.h"

#include <QKeySequence>
#include <QShortcut>

void MainWindow::addPlayhead()
{
    // The overview follows the strips' playhead: during a run, the newest
    // picture.
    connect(stripView, &StripView::playheadMoved, this, [this](int index) {
        const std::vector<double> &times = analysisState.pictureTimes;
        if (index >= 0 && size_t(index) < times.size())
            filmOverview->setPlayhead(times[size_t(index)]);
    });
    // Window shortcuts: a focused spin box takes the arrows for its own text
    // first (it accepts them as an override), the buttons do not.
    const struct {
        QKeyCombination keys;
        int direction;
        bool bySecond;
    } steps[] = {{Qt::Key_Left, -1, false},
                 {Qt::Key_Right, 1, false},
                 {Qt::SHIFT | Qt::Key_Left, -1, true},
                 {Qt::SHIFT | Qt::Key_Right, 1, true}};
    for (const auto &step : steps)
        connect(new QShortcut(QKeySequence(step.keys), this), &QShortcut::activated, this,
                [this, step] { stepPicture(step.direction, step.bySecond); });
}

void MainWindow::stepPicture(int direction, bool bySecond)
{
    const std::vector<double> &times = analysisState.pictureTimes;
    // As a click: only on strips no run adds to.
    if (isRunning() || times.empty() || stripView->videoPath().isEmpty())
        return;
    int from = stripView->playhead();
    // A key picture past where a stopped run got to: from the nearest one measured.
    if (from < 0 || size_t(from) >= times.size())
        from = filmOverview->playhead() >= 0 ? nearestPicture(times, filmOverview->playhead())
                                             : int(times.size()) - 1;
    const int to = steppedPicture(times, from, direction, bySecond);
    if (to != from || stripView->playhead() != to)
        showPicture(to);
}

void MainWindow::markShown(int index, double time)
{
    stripView->setPlayhead(index);
    filmOverview->setPlayhead(time);
}
