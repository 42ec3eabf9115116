// File > Export...: the files reelmeter-batch writes for one video, chosen in
// a dialog and written by a run on a worker thread of its own, while the
// window goes on.
#pragma once

#include "export/outputs.h"
#include "export/videoexport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    // videoPath fills the video field (it may be empty).
    explicit ExportDialog(const QString &videoPath, QWidget *parent = nullptr);
    // Cancels a running export and waits for its thread.
    ~ExportDialog() override;

    // The files and run settings chosen, or nothing with the reason in why,
    // as the batch tool would refuse its options.
    std::optional<OutputChoice> choice(QString *why) const;
    // Where the files go: the video's own path, or its file name in the folder.
    QString base() const;
    bool isExporting() const { return m_worker.joinable(); }

    // Checks the settings and starts the export (the default button).
    void accept() override;
    // Cancels a running export (nothing is written), else closes.
    void reject() override;

signals:
    // The export of video has ended (not cancelled): written or not.
    // fromWindowRun: drawn from the window's own measurements, not read again.
    void exportEnded(const QString &video, const VideoExport &outcome, bool fromWindowRun);
    // It was cancelled: nothing was written.
    void exportCancelled(const QString &video);

private:
    void buildForm(const QString &videoPath);
    void showProgress(const ReadProgress &progress);
    void finishExport(const VideoExport &outcome);
    // Settings can be changed only while no export runs.
    void setExporting(bool on);
    // The size fields a page leaves (a picture's size is the page, a PDF
    // keeps its columns), and the custom page's field.
    void showSizeFields();
    // The batch tool's --poster.
    void choosePoster();

    QLineEdit *m_video;
    QList<QCheckBox *> m_strips; // in StripKind order
    QComboBox *m_size;
    QLineEdit *m_width;
    QLineEdit *m_height;
    QComboBox *m_format;
    QComboBox *m_page;
    QLineEdit *m_pageSize;
    QLineEdit *m_dpi;
    QCheckBox *m_axis;
    QLineEdit *m_title;
    QComboBox *m_sampling;
    QLineEdit *m_seconds;
    QComboBox *m_crop;
    QLineEdit *m_rectangle;
    QComboBox *m_colour;
    QComboBox *m_layout; // linear, ring
    QComboBox *m_mean;   // in ColourMean's order
    QCheckBox *m_csv;
    QCheckBox *m_shotsCsv;
    QLineEdit *m_folder;
    QLabel *m_error;
    QProgressBar *m_progress;
    QLabel *m_timeLeft;
    QDialogButtonBox *m_buttons;
    QList<QWidget *> m_settings; // disabled while exporting

    QString m_exportedVideo;
    QElapsedTimer m_clock;
    std::atomic<bool> m_cancel = false;
    std::thread m_worker; // last: joined before anything it uses goes
};
