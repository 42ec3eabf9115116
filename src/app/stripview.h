// What the window shows of a run: the five strips and the preview. It keeps
// the full strips of the run on screen (for saving) and hands the labels
// images already scaled to their size, at most about 30 times a second, so a
// picture costs the same at the end of a feature film as at its start.
#pragma once

#include "analysis/strip.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <utility>

class QImage;
class QLabel;
class QWidget;
struct AnalysisState;
struct MainWindowForm;

// Brings strip up to date with history (one column per new entry), caps the
// label at the main window's width minus 50 and the strip's height, and, when
// show is set, gives the label the strip scaled to its size.
void renderStrip(Strip &strip, const ColourHistory &history, QLabel *label, bool show);
void renderQuadrantStrip(Strip &strip, const std::array<ColourHistory, 4> &histories, QLabel *label,
                         bool show);

class StripView : public QObject
{
    Q_OBJECT

public:
    // Shows in form's labels; parent is the main window.
    StripView(MainWindowForm *form, QWidget *parent);

    // The first picture of a run replaces the strips of the run before.
    void beginRun(const QString &videoPath);
    // After the measurement of a picture: extends the strips and, when due,
    // redraws the labels and the preview from frame.
    void addPicture(const AnalysisState &state, const QImage &frame);
    // Redraws everything now; frame, when given and not null, becomes the preview.
    void refresh(const QImage *frame = nullptr);

    const StripSet &strips() const { return m_strips; }
    // The video the shown strips were drawn from; null before the first picture.
    const QString &videoPath() const { return m_videoPath; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPreview(const QImage &frame);
    void showStrips();
    // The strips in display order beside the labels that show them.
    std::array<std::pair<const Strip *, QLabel *>, 5> shownStrips() const;

    MainWindowForm *m_form;
    StripSet m_strips;
    QString m_videoPath;
    QElapsedTimer m_sinceShown;
};
