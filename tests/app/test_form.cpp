// The window as it stands before any run: widget tree, texts, wiring.
#include "app/filmoverview.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init() { window = std::make_unique<MainWindow>(); }
    void cleanup() { window.reset(); }

    void everyFieldCarriesItsObjectName();
    void windowTitleSizeAndIcon();
    void columnCellsInOrder();
    void controlCells();
    void policiesAndMinimumSizes();
    void buttonsShareOneBoldFont();
    void idleStateOfControls();
    void texts_data();
    void texts();
    void languageChangeResetsTexts();
    void buttonSlotsConnectedByName();
    void slotsInDeclaredOrder();
    void eventLoopResultIsReturned();

private:
    MainWindowForm *form() const { return window->form(); }
    std::unique_ptr<MainWindow> window;
};

void TestForm::everyFieldCarriesItsObjectName()
{
    const QList<QPair<QObject *, const char *>> fields = {
        {form()->centralWidget, "centralWidget"},
        {form()->gridLayout_3, "gridLayout_3"},
        {form()->gridLayout, "gridLayout"},
        {form()->label, "label"},
        {form()->averageDisplay, "averageDisplay"},
        {form()->brightnessDisplay, "brightnessDisplay"},
        {form()->differenceDisplay, "differenceDisplay"},
        {form()->label_2, "label_2"},
        {form()->label_3, "label_3"},
        {form()->label_4, "label_4"},
        {form()->averageQuadDisplay, "averageQuadDisplay"},
        {form()->label_6, "label_6"},
        {form()->label_7, "label_7"},
        {form()->moodDisplay, "moodDisplay"},
        {form()->gridLayout_2, "gridLayout_2"},
        {form()->pushButton_2, "pushButton_2"},
        {form()->saveButton, "saveButton"},
        {form()->label_5, "label_5"},
        {form()->spinBox, "spinBox"},
        {form()->pushButton, "pushButton"},
        {form()->statusBar, "statusBar"},
    };
    for (const auto &[object, name] : fields) {
        QVERIFY2(object, name);
        QCOMPARE(object->objectName(), QString::fromLatin1(name));
        // Reachable by name from the window, as slots connected by name need.
        QCOMPARE(window->findChild<QObject *>(QString::fromLatin1(name)), object);
    }
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->centralWidget(), form()->centralWidget);
    QCOMPARE(window->statusBar(), form()->statusBar);
    QCOMPARE(form()->centralWidget->layout(), form()->gridLayout_3);
}

void TestForm::windowTitleSizeAndIcon()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Reelmeter v1.0"));
    // Taller by the film overview, so that the preview keeps its room.
    QCOMPARE(window->width(), 596);
    QVERIFY(window->height() > 622);
    QVERIFY(!window->windowIcon().isNull());
    QVERIFY(!window->windowIcon().pixmap(32, 32).isNull());
}

static void checkCell(QGridLayout *grid, QWidget *widget, int row, int column)
{
    const int index = grid->indexOf(widget);
    QVERIFY2(index >= 0, qPrintable(widget->objectName()));
    int r, c, rowSpan, columnSpan;
    grid->getItemPosition(index, &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rowSpan, 1);
    QCOMPARE(columnSpan, 1);
    QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
}

void TestForm::columnCellsInOrder()
{
    QGridLayout *grid = form()->gridLayout;
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->count(), 13);
    // Insertion order is the creation order of the column's labels.
    const QList<QPair<QLabel *, int>> order = {
        {form()->label, 0},
        {form()->averageDisplay, 2},
        {form()->brightnessDisplay, 6},
        {form()->differenceDisplay, 8},
        {form()->label_2, 1},
        {form()->label_3, 5},
        {form()->label_4, 3},
        {form()->averageQuadDisplay, 4},
        {form()->label_6, 7},
        {form()->label_7, 9},
        {form()->moodDisplay, 10},
    };
    for (int i = 0; i < order.size(); ++i) {
        QCOMPARE(grid->itemAt(i)->widget(), order[i].first);
        checkCell(grid, order[i].first, order[i].second, 0);
        QCOMPARE(order[i].first->parentWidget(), form()->centralWidget);
    }
    // The film overview and its caption below the strips.
    auto *caption = window->findChild<QLabel *>(QStringLiteral("overviewCaption"));
    QVERIFY(caption);
    QCOMPARE(grid->itemAt(11)->widget(), caption);
    checkCell(grid, caption, 11, 0);
    QCOMPARE(grid->itemAt(12)->widget(), window->overview());
    checkCell(grid, window->overview(), 12, 0);

    QGridLayout *top = form()->gridLayout_3;
    QCOMPARE(top->spacing(), 6);
    QCOMPARE(top->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(top->count(), 2);
    QCOMPARE(top->itemAt(0)->layout(), form()->gridLayout);
    QCOMPARE(top->itemAt(1)->layout(), form()->gridLayout_2);
    int r, c, rs, cs;
    top->getItemPosition(0, &r, &c, &rs, &cs);
    QCOMPARE(QList<int>({r, c, rs, cs}), QList<int>({0, 0, 1, 1}));
    top->getItemPosition(1, &r, &c, &rs, &cs);
    QCOMPARE(QList<int>({r, c, rs, cs}), QList<int>({1, 0, 1, 1}));
}

void TestForm::controlCells()
{
    QGridLayout *grid = form()->gridLayout_2;
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->count(), 5);
    QCOMPARE(grid->itemAt(0)->widget(), form()->pushButton_2);
    QCOMPARE(grid->itemAt(1)->widget(), form()->saveButton);
    QCOMPARE(grid->itemAt(2)->widget(), form()->label_5);
    QCOMPARE(grid->itemAt(3)->widget(), form()->spinBox);
    QCOMPARE(grid->itemAt(4)->widget(), form()->pushButton);
    checkCell(grid, form()->pushButton_2, 0, 0);
    checkCell(grid, form()->saveButton, 1, 0);
    checkCell(grid, form()->label_5, 0, 1);
    checkCell(grid, form()->spinBox, 0, 2);
    checkCell(grid, form()->pushButton, 1, 2);
    QVERIFY(!grid->itemAtPosition(1, 1));
    QCOMPARE(form()->label_5->alignment(), Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(int(form()->label_5->alignment()), 130);
}

void TestForm::policiesAndMinimumSizes()
{
    const QSizePolicy preview = form()->label->sizePolicy();
    QCOMPARE(int(preview.horizontalPolicy()), 7);
    QCOMPARE(int(preview.verticalPolicy()), 7);
    QVERIFY(form()->label->autoFillBackground());
    QVERIFY(form()->label->hasScaledContents());

    const QList<QPair<QLabel *, int>> strips = {
        {form()->averageDisplay, 20},    {form()->averageQuadDisplay, 40},
        {form()->brightnessDisplay, 20}, {form()->differenceDisplay, 20},
        {form()->moodDisplay, 20},
    };
    for (const auto &[strip, height] : strips) {
        QCOMPARE(int(strip->sizePolicy().horizontalPolicy()), 7);
        QCOMPARE(int(strip->sizePolicy().verticalPolicy()), 5);
        QCOMPARE(strip->sizePolicy().horizontalStretch(), 0);
        QCOMPARE(strip->sizePolicy().verticalStretch(), 0);
        QCOMPARE(strip->minimumSize(), QSize(0, height));
        QVERIFY(strip->hasScaledContents());
        QVERIFY(!strip->autoFillBackground());
    }
    for (QLabel *caption : {form()->label_2, form()->label_3, form()->label_4, form()->label_6,
                            form()->label_7, form()->label_5})
        QVERIFY(!caption->hasScaledContents());

    const QSizePolicy status = form()->statusBar->sizePolicy();
    QCOMPARE(int(status.horizontalPolicy()), 5);
    QCOMPARE(int(status.verticalPolicy()), 5);

    for (QPushButton *button : {form()->pushButton_2, form()->saveButton, form()->pushButton})
        QCOMPARE(button->minimumSize(), QSize(0, 30));

    // The preview takes what the strips leave.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(form()->label->height() > 200);
    QCOMPARE(form()->averageDisplay->width(), form()->label->width());
}

void TestForm::buttonsShareOneBoldFont()
{
    const QFont font = form()->pushButton_2->font();
    QCOMPARE(font.pointSize(), 9);
    QVERIFY(font.bold());
    QCOMPARE(font.weight(), QFont::Bold);
    QCOMPARE(form()->saveButton->font(), font);
    QCOMPARE(form()->pushButton->font(), font);
    QVERIFY(!form()->label_5->font().bold());
}

void TestForm::idleStateOfControls()
{
    QVERIFY(form()->pushButton_2->isEnabled());
    QVERIFY(!form()->saveButton->isEnabled());
    QVERIFY(!form()->pushButton->isEnabled());
    QCOMPARE(form()->spinBox->minimum(), 0);
    QCOMPARE(form()->spinBox->maximum(), 999999999);
    QCOMPARE(form()->spinBox->singleStep(), 10);
    QCOMPARE(form()->spinBox->value(), 200);
    QVERIFY(form()->statusBar->currentMessage().isEmpty());
    for (QLabel *shown :
         {form()->label, form()->averageDisplay, form()->averageQuadDisplay,
          form()->brightnessDisplay, form()->differenceDisplay, form()->moodDisplay})
        QVERIFY(shown->pixmap().isNull());
}

void TestForm::texts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::newRow("preview") << "label" << QString();
    QTest::newRow("average strip") << "averageDisplay" << QString();
    QTest::newRow("brightness strip") << "brightnessDisplay" << QString();
    QTest::newRow("difference strip") << "differenceDisplay" << QString();
    QTest::newRow("quadrant strip") << "averageQuadDisplay" << QString();
    QTest::newRow("mood strip") << "moodDisplay" << QString();
    QTest::newRow("average caption") << "label_2"
                                     << "Average Color (Whole Image)";
    QTest::newRow("brightness caption") << "label_3"
                                        << "Brightness (Grayscale)";
    QTest::newRow("quadrant caption") << "label_4"
                                      << "Average Color (Quartiles)";
    QTest::newRow("difference caption") << "label_6"
                                        << "Difference between every 2 Frames";
    QTest::newRow("mood caption") << "label_7"
                                  << "MoodBar (Imageheight / 3 mapped to RGB)";
    QTest::newRow("skip caption") << "label_5"
                                  << "Skip Frames: ";
    QTest::newRow("toggle") << "pushButton_2"
                            << "Start Analysis";
    QTest::newRow("save") << "saveButton"
                          << "Save bars next to video at full resolution";
    QTest::newRow("skip") << "pushButton"
                          << "Skip the next Frames";
}

void TestForm::texts()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QObject *object = window->findChild<QObject *>(objectName);
    QVERIFY(object);
    QCOMPARE(object->property("text").toString(), text);
}

void TestForm::languageChangeResetsTexts()
{
    form()->pushButton_2->setText(QStringLiteral("Stop Analysis"));
    form()->label_2->setText(QStringLiteral("changed"));
    window->setWindowTitle(QStringLiteral("changed"));
    form()->averageDisplay->setPixmap(QPixmap(4, 20));

    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &change);

    QCOMPARE(form()->pushButton_2->text(), QStringLiteral("Start Analysis"));
    QCOMPARE(form()->label_2->text(), QStringLiteral("Average Color (Whole Image)"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Reelmeter v1.0"));
    // Setting a label's text drops its pixmap.
    QVERIFY(form()->averageDisplay->pixmap().isNull());

    // Other change events leave the texts alone.
    form()->label_3->setText(QStringLiteral("kept"));
    QEvent other(QEvent::FontChange);
    QCoreApplication::sendEvent(window.get(), &other);
    QCOMPARE(form()->label_3->text(), QStringLiteral("kept"));
}

// True when sender's clicked signal reaches slot on the window; removes the
// connection to find out, so only use it at the end of a test.
static bool reachesSlot(QObject *sender, QObject *window, const char *slot)
{
    const QByteArray target = QByteArray("1") + slot;
    return QObject::disconnect(sender, SIGNAL(clicked()), window, target.constData()) ||
           QObject::disconnect(sender, SIGNAL(clicked(bool)), window, target.constData());
}

void TestForm::buttonSlotsConnectedByName()
{
    QVERIFY(reachesSlot(form()->pushButton, window.get(), "on_pushButton_clicked()"));
    QVERIFY(reachesSlot(form()->saveButton, window.get(), "on_saveButton_clicked()"));
    QVERIFY(reachesSlot(form()->pushButton_2, window.get(), "on_pushButton_2_clicked()"));
    // Each connection is made once: a second removal finds nothing.
    QVERIFY(!reachesSlot(form()->pushButton_2, window.get(), "on_pushButton_2_clicked()"));
    QVERIFY(!reachesSlot(form()->saveButton, window.get(), "on_pushButton_clicked()"));
}

void TestForm::slotsInDeclaredOrder()
{
    const QMetaObject *meta = window->metaObject();
    QCOMPARE(meta->className(), "MainWindow");
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 4);
    const char *names[] = {"on_pushButton_clicked()", "on_saveButton_clicked()",
                           "on_pushButton_2_clicked()", "timerDone()"};
    for (int i = 0; i < 4; ++i) {
        const QMetaMethod slot = meta->method(meta->methodOffset() + i);
        QCOMPARE(slot.methodSignature(), QByteArray(names[i]));
        QCOMPARE(slot.access(), QMetaMethod::Private);
        QCOMPARE(slot.methodType(), QMetaMethod::Slot);
    }
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->enumeratorCount(), meta->enumeratorOffset());
    QCOMPARE(meta->classInfoCount(), meta->classInfoOffset());
}

void TestForm::eventLoopResultIsReturned()
{
    window->show();
    // Closing the last window ends the loop with 0.
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    QCOMPARE(QApplication::exec(), 0);

    window->show();
    QTimer::singleShot(0, window.get(), [] { QCoreApplication::exit(3); });
    QCOMPARE(QApplication::exec(), 3);
}

QTEST_MAIN(TestForm)
#include "test_form.moc"
