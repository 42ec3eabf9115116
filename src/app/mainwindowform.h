// The main window's widget tree, built by hand. Every field bears the object
// name of its widget; the widgets are children of the window, not of the form.
// The names (pushButton, pushButton_2, label_2...) and the window's slots named
// after them (on_pushButton_clicked...) stay as they are on purpose: other
// code and users' tools find the widgets by these names.
#pragma once

class QGridLayout;
class QLabel;
class QMainWindow;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QWidget;

struct MainWindowForm {
    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout_3 = nullptr;
    QGridLayout *gridLayout = nullptr;
    QLabel *label = nullptr;
    QLabel *averageDisplay = nullptr;
    QLabel *brightnessDisplay = nullptr;
    QLabel *differenceDisplay = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *label_3 = nullptr;
    QLabel *label_4 = nullptr;
    QLabel *averageQuadDisplay = nullptr;
    QLabel *label_6 = nullptr;
    QLabel *label_7 = nullptr;
    QLabel *moodDisplay = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QPushButton *pushButton_2 = nullptr;
    QPushButton *saveButton = nullptr;
    QLabel *label_5 = nullptr;
    QSpinBox *spinBox = nullptr;
    QPushButton *pushButton = nullptr;
    QStatusBar *statusBar = nullptr;

    // Builds every widget into window, sets the texts and connects the
    // window's on_<object>_<signal> slots by name.
    void setupForm(QMainWindow *window);
    // Sets the title and every label and button text (again on a language change).
    void retranslateForm(QMainWindow *window);
};
