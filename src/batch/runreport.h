// A machine-readable record of a run: one JSON object per line and video,
// appended so that several tasks may share one file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>

// What became of one video.
struct VideoOutcome {
    enum Status { Written, Skipped, Failed } status = Failed;
    int64_t pictures = 0;                       // measured
    double seconds = 0;                         // wall-clock time spent on it
    QStringList outputs;                        // files it has (written, or found up to date)
    QString error;                              // Failed: why
    QString colour = QStringLiteral("default"); // the conversion that made the files
    // Failed as the crop asked for lies outside its pictures, or the sampling
    // is finer than its pictures.
    bool usageError = false;
};

// {"path": ..., "status": "written", "pictures": ..., "seconds": ...,
// "outputs": [...], "colour": "default"} and "error" when failed, on one line
// with its newline.
QByteArray reportLine(const QString &path, const VideoOutcome &outcome);

class RunReport
{
public:
    // Opens fileName for appending, creating it when missing ("-": standard
    // output); nothing when it cannot, with the reason in why. Like a log, a
    // symbolic link is followed; anything but a regular file (a FIFO, a
    // device) is refused.
    static std::unique_ptr<RunReport> open(const QString &fileName, QString *why);
    ~RunReport();
    RunReport(const RunReport &) = delete;
    RunReport &operator=(const RunReport &) = delete;

    // Appends the video's line in one write, under a lock on the file that
    // other processes (on NFS too) respect. May be called from any thread.
    bool append(const QString &path, const VideoOutcome &outcome, QString *why);

private:
    explicit RunReport(int descriptor, bool owned);

    int m_descriptor;
    bool m_owned;
    std::mutex m_mutex;
};
