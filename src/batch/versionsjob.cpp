#include "batch/versionsjob.h"

#include "export/outputcheck.h"
#include "export/versionsexport.h"

#include <cstdio>
#include <thread>

int runVersionsJob(const VersionsJob &job, ProgressReport &report)
{
    std::optional<VersionMeasures> measured[2];
    QString why[2];
    const auto read = [&](int k) {
        const QString &path = k == 0 ? job.a : job.b;
        const int id = report.begin(path);
        ReadProgress last;
        measured[k] = measureVersion(
            path, job.sampling,
            [&](const ReadProgress &progress) {
                report.update(id, progress);
                last = progress;
                return true;
            },
            &why[k]);
        report.finish(id, last, measured[k].has_value());
    };
    if (job.together) {
        std::thread second(read, 1);
        read(0);
        second.join();
    } else {
        read(0);
        read(1);
    }
    for (int k = 0; k < 2; ++k)
        if (!measured[k]) {
            report.message(failureLine(k == 0 ? job.a : job.b, why[k]));
            return 1;
        }
    const VersionAlignment alignment = alignVersions(measured[0]->film, measured[1]->film);
    QString failure;
    if (!writeVersions(outputBase(job.a, job.outputDir), job.format, job.width, alignment,
                       *measured[0], *measured[1], &failure)) {
        report.message(QStringLiteral("reelmeter-batch: ") + failure);
        return 1;
    }
    std::fputs(qPrintable(versionsSummary(alignment, measured[0]->film)), stdout);
    std::fflush(stdout);
    return 0;
}
