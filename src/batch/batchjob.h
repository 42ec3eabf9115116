// What reelmeter-batch does with one video.
#pragma once

#include "batch/runreport.h"
#include "export/outputs.h"
#include "video/framesource.h"

#include <QString>

class ProgressReport;

struct BatchOptions {
    OutputChoice output = recorded();
    QString outputDir;                    // empty: next to each video
    int64_t maxPixels = defaultMaxPixels; // larger pictures are refused
    bool skipExisting = false;            // leave videos whose files are up to date

    // The tool always records what its files were made from.
    static OutputChoice recorded()
    {
        OutputChoice choice;
        choice.record = true;
        return choice;
    }
};

// The files options ask for from videoPath, in the order they are written.
QStringList outputFiles(const QString &videoPath, const BatchOptions &options);

// Reads videoPath and writes its files, reporting progress and every failure
// ("reelmeter-batch: PATH: REASON") to report. A video that cannot be read,
// or whose pictures do not hold the crop asked for (a usage error), writes
// nothing. With options.skipExisting, a video whose files are up to date
// (see outputsAreCurrent) is skipped unread.
VideoOutcome processVideo(const QString &videoPath, const BatchOptions &options,
                          ProgressReport &report);
