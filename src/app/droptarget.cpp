#include "app/droptarget.h"

#include "app/mainwindow.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

DropTarget::DropTarget(MainWindow *window) : QObject(window), m_window(window)
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

QString DropTarget::droppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return QString();
    const QList<QUrl> urls = mime->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    // The file dialog offers no directories either.
    if (path.isEmpty() || QFileInfo(path).isDir())
        return QString();
    return path;
}

bool DropTarget::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // A run may end while the drag hovers, so every move asks again.
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (!m_window->isRunning() && !droppedFile(drag->mimeData()).isNull())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = droppedFile(drop->mimeData());
        if (m_window->isRunning() || path.isNull()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        // Started after the drop returns: an error box inside the drop would
        // keep the file manager's drag waiting until the box is closed.
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                if (!m_window->isRunning())
                    m_window->startRun(path);
            },
            Qt::QueuedConnection);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
