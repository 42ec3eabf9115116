// Answers the window's real modal dialogs from inside their event loops, the
// way a user would: wait for the modal widget, then act on it.
#pragma once

#include "analysis/analysisstate.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "app/windowrun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace guidriver {

// Calls answer with the next modal widget of type T, polling the event loop.
// Gives up (leaving the dialog open, so the test times out visibly) after 10 s.
template <class T> void whenModal(std::function<void(T *)> answer)
{
    auto *poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, started] {
        if (auto *modal = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(modal);
        } else if (started->elapsed() > 10000) {
            qWarning("no modal %s appeared", T::staticMetaObject.className());
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

// What the file dialog was asked for, filled in when it is answered.
struct FileDialogSeen {
    QString caption;
    QStringList filters;
    QString directory;
    bool answered = false;
};

// The next file dialog picks path (or is cancelled when path is null).
inline std::shared_ptr<FileDialogSeen> answerFileDialog(const QString &path)
{
    auto seen = std::make_shared<FileDialogSeen>();
    whenModal<QFileDialog>([seen, path](QFileDialog *dialog) {
        seen->caption = dialog->windowTitle();
        seen->filters = dialog->nameFilters();
        seen->directory = dialog->directory().absolutePath();
        seen->answered = true;
        if (path.isNull()) {
            dialog->reject();
        } else {
            // Type the path into the name field and press Open, as a user would.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (name)
                name->setText(path);
            else
                dialog->selectFile(path);
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            QPushButton *open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
            // The button may wait for the directory listing, which loads in the
            // background; the dialog's own accept checks the file directly.
            if (open && open->isEnabled())
                open->click();
            else
                QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    return seen;
}

struct MessageBoxSeen {
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    bool answered = false;
};

// The next message box is read and answered with its Ok button.
inline std::shared_ptr<MessageBoxSeen> answerMessageBox()
{
    auto seen = std::make_shared<MessageBoxSeen>();
    whenModal<QMessageBox>([seen](QMessageBox *box) {
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->informativeText = box->informativeText();
        seen->icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            seen->buttons << box->standardButton(button);
        seen->answered = true;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    return seen;
}

// Clicks Start and answers the real file dialog with path (null: cancels it).
// False when no dialog appeared.
inline bool startThroughDialog(MainWindowForm *form, const QString &path)
{
    auto seen = answerFileDialog(path);
    QTest::mouseClick(form->pushButton_2, Qt::LeftButton);
    return seen->answered;
}

// The box a video that cannot be opened brings up, and the idle window it
// leaves; check QTest::currentTestFailed() after it.
inline void verifyCannotOpen(const MessageBoxSeen &box, MainWindowForm *form)
{
    QVERIFY(box.answered);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text,
             QStringLiteral("This is not a video or image file.\nCould not initialize video."));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    QCOMPARE(form->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QVERIFY(!form->pushButton->isEnabled());
    QVERIFY(!windowRun.run);
    QVERIFY(!windowRun.tickTimer->isActive());
}

// A clean module-level state, as at program start.
inline void resetAnalysisState()
{
    windowRun = WindowRun();
    analysisState = AnalysisState();
}

// A shown window over a clean state, as after program start.
inline std::unique_ptr<MainWindow> openFreshWindow()
{
    resetAnalysisState();
    auto window = std::make_unique<MainWindow>();
    window->show();
    return window;
}

// Closes the window and cleans the state it leaves behind.
inline void closeWindow(std::unique_ptr<MainWindow> &window)
{
    window.reset();
    resetAnalysisState();
}

// A small text file, which no demuxer takes for a video.
inline bool writeNonVideo(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("not a video at all\n") > 0;
}

} // namespace guidriver
