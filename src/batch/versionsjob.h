// reelmeter-batch --versions A B: two versions of a film read, aligned and
// compared (export/versionsexport.h).
#pragma once

#include "analysis/videorun.h"
#include "batch/progress.h"

#include <QString>

struct VersionsJob {
    QString a, b;
    Sampling sampling;
    QString format = QStringLiteral("bmp");
    int width = 0; // of the display; 0: one column per picture of a
    QString outputDir;
    bool together = false; // read both at once
};

// Writes A-versions.csv and A-versionsDisplay.FORMAT and prints the summary
// on standard output. The tool's exit status: 0 when written, 1 otherwise.
int runVersionsJob(const VersionsJob &job, ProgressReport &report);
