// What the window shows of a run: the five strips and the preview. While a
// run goes on it hands the labels images already scaled to their size, at
// most about 30 times a second, so a picture costs the same at the end of a
// feature film as at its start; after a run or a stop they show the exact
// smooth scaling of the whole strips.
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
struct MainWindowForm;

class StripView : public QObject
{
    Q_OBJECT

public:
    // Shows strips (which outlive the view) in form's labels; parent is the
    // main window.
    StripView(const StripSet *strips, MainWindowForm *form, QWidget *parent);

    // The first picture of a run has replaced the strips of the run before.
    void beginRun(const QString &videoPath);
    // After a picture was recorded: caps the labels and, when due, redraws
    // them and the preview from frame.
    void addPicture(const QImage &frame);
    // The run has ended or stopped: redraws everything exactly, now; frame,
    // when given and not null, becomes the preview.
    void refresh(const QImage *frame = nullptr);

    const StripSet &strips() const { return *m_strips; }
    // The video the shown strips were drawn from; null before the first picture.
    const QString &videoPath() const { return m_videoPath; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPreview(const QImage &frame);
    void showStrip(const Strip &strip, QLabel *label);
    // The strips in display order beside the labels that show them.
    std::array<std::pair<const Strip *, QLabel *>, 5> shownStrips() const;

    const StripSet *m_strips;
    MainWindowForm *m_form;
    QString m_videoPath;
    QElapsedTimer m_sinceShown;
    // No run adds to the strips: they are shown exactly.
    bool m_exact = true;
};
