#include "app/mainwindowform.h"

#include <QCoreApplication>
#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSizePolicy>
#include <QSpinBox>
#include <QStatusBar>
#include <QWidget>

namespace {

// A label for images drawn to its own size (the preview and the strips): what
// it shows asks for no room, so the window can always be made smaller again.
// Without Q_OBJECT: to the rest of the program it is a QLabel.
class PictureLabel : public QLabel
{
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return isEmpty() ? QLabel::sizeHint() : QSize(0, 0); }
    QSize minimumSizeHint() const override
    {
        return isEmpty() ? QLabel::minimumSizeHint() : QSize(0, 0);
    }

private:
    // The preview's margins frame a picture; they are no room of their own.
    bool isEmpty() const { return pixmap().isNull() && contentsMargins().isNull(); }
};

// Keeps the widget's height-for-width flag, as a designer form would.
void setPolicy(QWidget *widget, QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical)
{
    QSizePolicy policy(horizontal, vertical);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    widget->setSizePolicy(policy);
}

QLabel *makeStripLabel(QWidget *parent, const char *name, int minimumHeight)
{
    auto *strip = new PictureLabel(parent);
    strip->setObjectName(QString::fromLatin1(name));
    setPolicy(strip, QSizePolicy::Expanding, QSizePolicy::Preferred);
    strip->setMinimumSize(QSize(0, minimumHeight));
    strip->setScaledContents(true);
    return strip;
}

QLabel *makeCaption(QWidget *parent, const char *name)
{
    auto *caption = new QLabel(parent);
    caption->setObjectName(QString::fromLatin1(name));
    return caption;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QFont &font)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumSize(QSize(0, 30));
    button->setFont(font);
    return button;
}

// Qt 6 ignores setText() with an unchanged empty text; clear() also drops a
// shown pixmap, which is what setting the text did before.
void setEmptyText(QLabel *target)
{
    target->clear();
}

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

void MainWindowForm::setupForm(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QString::fromLatin1("MainWindow"));
    window->resize(596, 622);

    QIcon icon;
    icon.addFile(QString::fromLatin1(":/icon/main/icon.png"), QSize(), QIcon::Normal, QIcon::Off);
    window->setWindowIcon(icon);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QString::fromLatin1("centralWidget"));
    gridLayout_3 = new QGridLayout(centralWidget);
    gridLayout_3->setSpacing(6);
    gridLayout_3->setContentsMargins(11, 11, 11, 11);
    gridLayout_3->setObjectName(QString::fromLatin1("gridLayout_3"));
    gridLayout = new QGridLayout();
    gridLayout->setSpacing(6);
    gridLayout->setObjectName(QString::fromLatin1("gridLayout"));

    label = new PictureLabel(centralWidget);
    label->setObjectName(QString::fromLatin1("label"));
    setPolicy(label, QSizePolicy::Expanding, QSizePolicy::Expanding);
    label->setAutoFillBackground(true);
    label->setScaledContents(true);
    gridLayout->addWidget(label, 0, 0, 1, 1);

    averageDisplay = makeStripLabel(centralWidget, "averageDisplay", 20);
    gridLayout->addWidget(averageDisplay, 2, 0, 1, 1);
    brightnessDisplay = makeStripLabel(centralWidget, "brightnessDisplay", 20);
    gridLayout->addWidget(brightnessDisplay, 6, 0, 1, 1);
    differenceDisplay = makeStripLabel(centralWidget, "differenceDisplay", 20);
    gridLayout->addWidget(differenceDisplay, 8, 0, 1, 1);
    label_2 = makeCaption(centralWidget, "label_2");
    gridLayout->addWidget(label_2, 1, 0, 1, 1);
    label_3 = makeCaption(centralWidget, "label_3");
    gridLayout->addWidget(label_3, 5, 0, 1, 1);
    label_4 = makeCaption(centralWidget, "label_4");
    gridLayout->addWidget(label_4, 3, 0, 1, 1);
    averageQuadDisplay = makeStripLabel(centralWidget, "averageQuadDisplay", 40);
    gridLayout->addWidget(averageQuadDisplay, 4, 0, 1, 1);
    label_6 = makeCaption(centralWidget, "label_6");
    gridLayout->addWidget(label_6, 7, 0, 1, 1);
    label_7 = makeCaption(centralWidget, "label_7");
    gridLayout->addWidget(label_7, 9, 0, 1, 1);
    moodDisplay = makeStripLabel(centralWidget, "moodDisplay", 20);
    gridLayout->addWidget(moodDisplay, 10, 0, 1, 1);

    gridLayout_3->addLayout(gridLayout, 0, 0, 1, 1);

    gridLayout_2 = new QGridLayout();
    gridLayout_2->setSpacing(6);
    gridLayout_2->setObjectName(QString::fromLatin1("gridLayout_2"));

    // One font object shared by the three buttons.
    QFont buttonFont;
    buttonFont.setPointSize(9);
    buttonFont.setWeight(QFont::Bold);
    pushButton_2 = makeButton(centralWidget, "pushButton_2", buttonFont);
    gridLayout_2->addWidget(pushButton_2, 0, 0, 1, 1);
    saveButton = makeButton(centralWidget, "saveButton", buttonFont);
    saveButton->setEnabled(false);
    gridLayout_2->addWidget(saveButton, 1, 0, 1, 1);

    label_5 = makeCaption(centralWidget, "label_5");
    label_5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    gridLayout_2->addWidget(label_5, 0, 1, 1, 1);

    spinBox = new QSpinBox(centralWidget);
    spinBox->setObjectName(QString::fromLatin1("spinBox"));
    spinBox->setMaximum(999999999);
    spinBox->setSingleStep(10);
    spinBox->setValue(200);
    gridLayout_2->addWidget(spinBox, 0, 2, 1, 1);

    pushButton = makeButton(centralWidget, "pushButton", buttonFont);
    pushButton->setEnabled(false);
    gridLayout_2->addWidget(pushButton, 1, 2, 1, 1);

    gridLayout_3->addLayout(gridLayout_2, 1, 0, 1, 1);
    window->setCentralWidget(centralWidget);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QString::fromLatin1("statusBar"));
    setPolicy(statusBar, QSizePolicy::Preferred, QSizePolicy::Preferred);
    window->setStatusBar(statusBar);

    retranslateForm(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateForm(QMainWindow *window)
{
    window->setWindowTitle(tr("Reelmeter v1.0"));
    setEmptyText(label);
    setEmptyText(averageDisplay);
    setEmptyText(brightnessDisplay);
    setEmptyText(differenceDisplay);
    label_2->setText(tr("Average Color (Whole Image)"));
    label_3->setText(tr("Brightness (Grayscale)"));
    label_4->setText(tr("Average Color (Quartiles)"));
    setEmptyText(averageQuadDisplay);
    label_6->setText(tr("Difference between every 2 Frames"));
    label_7->setText(tr("MoodBar (Imageheight / 3 mapped to RGB)"));
    setEmptyText(moodDisplay);
    pushButton_2->setText(tr("Start Analysis"));
    saveButton->setText(tr("Save bars next to video at full resolution"));
    label_5->setText(tr("Skip Frames: "));
    pushButton->setText(tr("Skip the next Frames"));
}
