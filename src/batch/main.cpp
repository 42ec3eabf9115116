// reelmeter-batch: the window's strips (and more) for many videos, without a
// display.
#include "batch/batchjob.h"
#include "batch/progress.h"
#include "video/framesource.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int usageError = 2;

int failUsage(const QString &text)
{
    std::fprintf(stderr, "reelmeter-batch: %s\nTry 'reelmeter-batch --help' for more.\n",
                 qPrintable(text));
    return usageError;
}

} // namespace

int main(int argc, char *argv[])
{
    // QCoreApplication, not QGuiApplication: no display is needed for QImage.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reelmeter-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(REELMETER_VERSION));

    // FFmpeg's own messages would cut into the progress lines and say no more
    // than the tool's one line per failed video.
    quietVideoLibraries(true);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the colour strips of each VIDEO as BMP files, as the Reelmeter window saves "
        "them: by default VIDEO-averageDisplay.bmp, VIDEO-averageQuadDisplay.bmp and "
        "VIDEO-brightnessDisplay.bmp next to the video.\n"
        "Exit status: 0 when everything was written, 1 when a video or file failed, 2 for a "
        "usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption stripsOption(
        QStringLiteral("strips"),
        QStringLiteral("Strips to write, comma-separated: average, quadrant, brightness, "
                       "difference, mood, or all."),
        QStringLiteral("LIST"), QStringLiteral("average,quadrant,brightness"));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"),
        QStringLiteral("Also write VIDEO-colours.csv: one row per picture with its number, time "
                       "and the eight measured colours."));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output-dir")},
        QStringLiteral("Write into DIR, named after each video's file name."),
        QStringLiteral("DIR"));
    const QCommandLineOption jobsOption({QStringLiteral("j"), QStringLiteral("jobs")},
                                        QStringLiteral("Read N videos at once (default 1)."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Show no progress, only errors."));
    const QCommandLineOption maxPixelsOption(
        QStringLiteral("max-pixels"),
        QStringLiteral("Refuse pictures of more than N pixels (default %1, 8192 x 8192).")
            .arg(defaultMaxPixels),
        QStringLiteral("N"), QString::number(defaultMaxPixels));
    parser.addOptions(
        {stripsOption, csvOption, outputOption, jobsOption, quietOption, maxPixelsOption});
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("Videos to read."),
                                 QStringLiteral("VIDEO..."));

    // parse, not process: process exits with 1 on a usage error.
    if (!parser.parse(QCoreApplication::arguments()))
        return failUsage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList videos = parser.positionalArguments();
    if (videos.isEmpty())
        return failUsage(QStringLiteral("No video given."));
    BatchOptions options;
    const auto kinds = parseStripKinds(parser.value(stripsOption));
    if (!kinds)
        return failUsage(
            QStringLiteral("Unknown strip list \"%1\".").arg(parser.value(stripsOption)));
    options.kinds = *kinds;
    options.csv = parser.isSet(csvOption);
    bool jobsValid = false;
    const int jobs = parser.value(jobsOption).toInt(&jobsValid);
    if (!jobsValid || jobs < 1)
        return failUsage(
            QStringLiteral("The number of jobs must be a whole number of at least 1."));
    bool maxPixelsValid = false;
    options.maxPixels = parser.value(maxPixelsOption).toLongLong(&maxPixelsValid);
    if (!maxPixelsValid || options.maxPixels < 1)
        return failUsage(QStringLiteral("The pixel limit must be a whole number of at least 1."));
    if (parser.isSet(outputOption)) {
        options.outputDir = parser.value(outputOption);
        if (options.outputDir.isEmpty())
            return failUsage(QStringLiteral("The output directory is empty."));
    }
    // The later video's files would silently replace the earlier one's.
    if (const auto clash = clashingOutputs(videos, options.outputDir))
        return failUsage(QStringLiteral("%1 and %2 would write files of the same names.")
                             .arg(clash->first, clash->second));
    if (!options.outputDir.isEmpty()) {
        if (!QDir().mkpath(options.outputDir)) {
            std::fprintf(stderr, "reelmeter-batch: %s: This directory could not be created.\n",
                         qPrintable(options.outputDir));
            return 1;
        }
    }

    ProgressReport report(ProgressReport::modeFor(stderr, parser.isSet(quietOption)), stderr);
    std::atomic<qsizetype> next = 0;
    std::atomic<bool> allWritten = true;
    const auto work = [&] {
        for (qsizetype i; (i = next++) < videos.size();)
            if (!processVideo(videos[i], options, report))
                allWritten = false;
    };
    std::vector<std::thread> workers;
    for (qsizetype i = 1; i < std::min<qsizetype>(jobs, videos.size()); ++i)
        workers.emplace_back(work);
    work();
    for (std::thread &worker : workers)
        worker.join();
    return allWritten ? 0 : 1;
}
