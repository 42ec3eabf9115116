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

// text may hold names from the command line: printed through printableName.
int failUsage(const QString &text)
{
    std::fprintf(stderr, "reelmeter-batch: %s\nTry 'reelmeter-batch --help' for more.\n",
                 qPrintable(printableName(text)));
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
                       "difference, mood, frames (each picture squeezed into a column), or all."),
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
    const QCommandLineOption widthOption(
        QStringLiteral("width"),
        QStringLiteral("Make every strip N columns wide, each an equal part of the video's time."),
        QStringLiteral("N"));
    const QCommandLineOption heightOption(
        QStringLiteral("height"),
        QStringLiteral("Make every strip N rows high (default 20, quadrant 40, frames 100)."),
        QStringLiteral("N"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("Image format and extension of the strips: bmp, png or jpg (default bmp)."),
        QStringLiteral("FORMAT"), QStringLiteral("bmp"));
    const QCommandLineOption sampleOption(
        QStringLiteral("sample"),
        QStringLiteral("Pictures to measure: all, key (key pictures only) or one per SECONDS "
                       "(default all)."),
        QStringLiteral("WHICH"), QStringLiteral("all"));
    const QCommandLineOption maxPixelsOption(
        QStringLiteral("max-pixels"),
        QStringLiteral("Refuse pictures of more than N pixels (default %1, 8192 x 8192).")
            .arg(defaultMaxPixels),
        QStringLiteral("N"), QString::number(defaultMaxPixels));
    const QCommandLineOption cropOption(
        QStringLiteral("crop"),
        QStringLiteral("Part of each picture to measure: none (all of it), auto (within the black "
                       "bars found in pictures across the video) or W:H:X:Y, as ffmpeg's crop "
                       "filter takes it (default none). The rectangle used is shown and written "
                       "to VIDEO-crop.txt."),
        QStringLiteral("CROP"), QStringLiteral("none"));
    parser.addOptions({stripsOption, csvOption, outputOption, jobsOption, quietOption, widthOption,
                       heightOption, formatOption, sampleOption, maxPixelsOption, cropOption});
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
    for (const auto &[option, value] : {std::pair(&widthOption, &options.layout.width),
                                        std::pair(&heightOption, &options.layout.height)}) {
        if (!parser.isSet(*option))
            continue;
        bool valid = false;
        *value = parser.value(*option).toInt(&valid);
        if (!valid || *value < 1)
            return failUsage(QStringLiteral("--%1 takes a whole number of at least 1.")
                                 .arg(option->names().constFirst()));
    }
    options.layout.format = parser.value(formatOption);
    if (!QStringList{QStringLiteral("bmp"), QStringLiteral("png"), QStringLiteral("jpg")}.contains(
            options.layout.format))
        return failUsage(
            QStringLiteral("Unknown format \"%1\": bmp, png or jpg.").arg(options.layout.format));
    if (const auto sampling = parseSampling(parser.value(sampleOption)))
        options.sampling = *sampling;
    else
        return failUsage(QStringLiteral("Unknown sampling \"%1\": all, key or a number of seconds "
                                        "above 0.")
                             .arg(parser.value(sampleOption)));
    if (const auto crop = parseCrop(parser.value(cropOption)))
        options.crop = *crop;
    else
        return failUsage(QStringLiteral("Unknown crop \"%1\": none, auto or W:H:X:Y.")
                             .arg(parser.value(cropOption)));
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
    // Its strips would replace it, and a later video might read them instead.
    if (const auto video = videoAmongOutputs(videos, options))
        return failUsage(
            QStringLiteral("%1 is both a video to read and a file to write.").arg(*video));
    if (!options.outputDir.isEmpty()) {
        if (!QDir().mkpath(options.outputDir)) {
            std::fprintf(stderr, "reelmeter-batch: %s: This directory could not be created.\n",
                         qPrintable(printableName(options.outputDir)));
            return 1;
        }
    }

    ProgressReport report(ProgressReport::modeFor(stderr, parser.isSet(quietOption)), stderr);
    std::atomic<qsizetype> next = 0;
    std::atomic<int> status = 0; // the worst of all videos
    const auto work = [&] {
        for (qsizetype i; (i = next++) < videos.size();) {
            const VideoOutcome outcome = processVideo(videos[i], options, report);
            const int code = outcome == VideoOutcome::Written  ? 0
                             : outcome == VideoOutcome::Failed ? 1
                                                               : usageError;
            for (int seen = status; code > seen && !status.compare_exchange_weak(seen, code);)
                ;
        }
    };
    std::vector<std::thread> workers;
    for (qsizetype i = 1; i < std::min<qsizetype>(jobs, videos.size()); ++i)
        workers.emplace_back(work);
    work();
    for (std::thread &worker : workers)
        worker.join();
    return status;
}
