// The film overview's own run of a video: only its key pictures, on a worker
// thread, so that the whole film shows within seconds while the window's run
// reads every picture at its own pace. What it reads reaches the window's
// thread in batches, at most about ten times a second.
#pragma once

#include <QObject>
#include <QRgb>
#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// Key pictures read since the last batch, and at the end what the run found.
struct OverviewBatch {
    std::vector<double> times;  // each picture's time as read; negative when unknown
    std::vector<QRgb> frames;   // each picture squeezed into rows colours, top first
    std::vector<QRgb> averages; // each picture's average colour
    double duration = -1;       // where the video ends; negative when unknown
    bool finished = false;      // the last batch: the run has ended
    // With the last batch only: where the last picture ends, the times of
    // the cuts found between key pictures, and why the video could not be
    // read (empty when it could).
    double end = 0;
    std::vector<double> cuts;
    QString failure;
};

class OverviewRun : public QObject
{
    Q_OBJECT

public:
    // Starts reading path's key pictures, each squeezed into rows colours.
    OverviewRun(const QString &path, int rows, QObject *parent = nullptr);
    // Stops the worker after the picture it reads and waits for it: at most
    // one key picture's decoding. Batches not yet delivered are dropped.
    ~OverviewRun() override;
    OverviewRun(const OverviewRun &) = delete;
    OverviewRun &operator=(const OverviewRun &) = delete;

    const QString &path() const { return m_path; }

signals:
    // On the thread that made the run, in order; the one with finished set
    // comes last (none after a cancel).
    void batchReady(const OverviewBatch &batch);

private:
    void work();
    // Hands batch to the owner's thread.
    void deliver(OverviewBatch batch);

    const QString m_path;
    const int m_rows;
    std::atomic<bool> m_cancelled{false};
    std::thread m_worker; // last: started once everything above is set
};
