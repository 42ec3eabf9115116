// File > Compare Versions...: two versions of a film read on a thread of
// their own, aligned, and the display and summary shown, with Save for the
// files reelmeter-batch --versions writes.
#pragma once

#include "export/versionsexport.h"

#include <QDialog>
#include <QElapsedTimer>

#include <atomic>
#include <optional>
#include <thread>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class VersionsDialog : public QDialog
{
    Q_OBJECT

public:
    // a: the window's video, proposed as version A (may be empty).
    explicit VersionsDialog(const QString &a, QWidget *parent = nullptr);
    ~VersionsDialog() override;

    bool isComparing() const { return m_worker.joinable(); }

public slots:
    void reject() override; // cancels a comparison first

private:
    void compare();
    void showProgress(int version, const ReadProgress &progress);
    void finishComparing(const QString &failure);
    void save();
    void setComparing(bool on);

    QLineEdit *m_a;
    QLineEdit *m_b;
    QComboBox *m_sampling;
    QPushButton *m_compare;
    QPushButton *m_save;
    QProgressBar *m_progress;
    QLabel *m_display;
    QPlainTextEdit *m_summary;
    QList<QWidget *> m_settings;

    std::thread m_worker;
    std::atomic<bool> m_cancel = false;
    // Written by the worker, read once it has ended.
    std::optional<VersionMeasures> m_measured[2];
    VersionAlignment m_alignment;
    QString m_comparedA;
    QImage m_image;
};
