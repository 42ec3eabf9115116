// Dropping a video file from a file manager onto the window starts a run on
// it, exactly as if it had been chosen in the file dialog. While a run goes on
// the window refuses drops, so a stray drag never replaces the running video.
#pragma once

#include <QObject>
#include <QString>

class MainWindow;
class QMimeData;

class DropTarget : public QObject
{
    Q_OBJECT

public:
    // Filters window's drag and drop events and makes it accept drops; the
    // window is also the parent.
    explicit DropTarget(MainWindow *window);

    // The local file a drag carries (the first of its URLs), or a null string
    // when it carries none that could be a video.
    static QString droppedFile(const QMimeData *mime);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainWindow *m_window;
};
