// Progress of the videos being read, on a stream (stderr): on a terminal one
// line per running video, redrawn in place; elsewhere one line per finished
// video. Error messages go through it too, so they never cut a line. Names
// and messages are printed through printableName.
#pragma once

#include "analysis/timeaxis.h"
#include "analysis/videorun.h"
#include "export/filename.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <cstdio>
#include <mutex>

// "reelmeter-batch: FILE: REASON", the tool's one line for anything that
// failed.
QString failureLine(const QString &file, const QString &reason);

// "NAME  42%  1234 pictures  283.1 pictures/s  0:05 left  crop=W:H:X:Y"; "?%"
// and no time left while the fraction is unknown, no rate before any time has
// passed, no crop when the whole picture is measured.
QString progressLine(const QString &name, const ReadProgress &progress, double elapsedSeconds);
// "NAME: 1500 pictures in 0:05, 283.1 pictures/s", then ", crop=W:H:X:Y" when
// crop is not null.
QString finishedLine(const QString &name, int64_t pictures, double elapsedSeconds,
                     const QRect &crop = QRect());

class ProgressReport
{
public:
    enum class Mode {
        Quiet,    // messages only
        Lines,    // one line per finished video
        Terminal, // running videos redrawn in place
    };

    ProgressReport(Mode mode, std::FILE *stream);
    // Terminal when stream is one, else Lines; Quiet when quiet.
    static Mode modeFor(std::FILE *stream, bool quiet);

    // All of these may be called from any thread.
    // Starts the clock of a video; returns its id for the calls below.
    int begin(const QString &name);
    void update(int id, const ReadProgress &progress);
    // The video is done (successfully or not: shown only when written).
    void finish(int id, const ReadProgress &progress, bool written);
    // One line, always shown, e.g. an error.
    void message(const QString &text);

private:
    struct Running {
        int id;
        QString name;
        QElapsedTimer clock;
        QString line;
    };
    Running *find(int id);
    // Terminal: prints the permanent lines above the running ones and
    // redraws those; elsewhere just the permanent lines.
    void draw(const QStringList &permanent);

    Mode m_mode;
    std::FILE *m_stream;
    std::mutex m_mutex;
    QList<Running> m_running;
    int m_nextId = 0;
    int m_drawnLines = 0;
};
