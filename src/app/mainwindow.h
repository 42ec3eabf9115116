// The one window. It holds only its form; the state of a run is the
// module-level analysisState that its slots share.
#pragma once

#include <QMainWindow>

#include <memory>

struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The form, for code that reaches widgets by their object names.
    MainWindowForm *form() const { return ui.get(); }

protected:
    void changeEvent(QEvent *event) override;

private slots:
    // The order fixes the meta-object indices 0..3.
    void on_pushButton_clicked();
    void on_saveButton_clicked();
    void on_pushButton_2_clicked();
    void timerDone();

private:
    std::unique_ptr<MainWindowForm> ui;
};
