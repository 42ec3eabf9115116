// reelmeter-batch: the window's strips (and more) for many videos, without a
// display.
#include "batch/batchjob.h"
#include "batch/progress.h"
#include "batch/runreport.h"
#include "batch/versionsjob.h"
#include "batch/videolist.h"
#include "export/comparison.h"
#include "export/fileidentity.h"
#include "export/filename.h"
#include "export/outputcheck.h"
#include "export/printsize.h"
#include "export/versionsexport.h"
#include "video/framesource.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

int failFile(const QString &file, const QString &reason)
{
    std::fprintf(stderr, "%s\n", qPrintable(printableName(failureLine(file, reason))));
    return 1;
}

// Only a comparison, an axis and a title draw text, and text needs a
// QGuiApplication; it gets the offscreen platform, so no display is needed
// either way.
bool drawsText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        // A PDF and a page's title and axis rows need fonts too.
        if (qstrcmp(argv[i], "--format=pdf") == 0 ||
            (qstrcmp(argv[i], "--format") == 0 && i + 1 < argc && qstrcmp(argv[i + 1], "pdf") == 0))
            return true;
        for (const char *option :
             {"--compare", "--axis", "--title", "--poster", "--page", "--versions"}) {
            const size_t length = qstrlen(option);
            if (qstrncmp(argv[i], option, length) == 0 &&
                (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

// name.png becomes name-shard-K-of-N.png: the tasks of one job array share
// their command line but must not share the file.
QString shardFileName(const QString &fileName, const std::optional<Shard> &shard)
{
    if (!shard)
        return fileName;
    const QFileInfo info(fileName);
    const QString stem = info.completeBaseName() +
                         QStringLiteral("-shard-%1-of-%2").arg(shard->index).arg(shard->count);
    return info.dir().filePath(stem + QLatin1Char('.') + info.suffix());
}

// --poster stands for the options it names, in its place, so that an option
// given after it wins (the parser keeps an option's last value).
QStringList withPosterExpanded(const QStringList &arguments)
{
    QStringList expanded;
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--poster"))
            expanded << QStringLiteral("--strips") << QStringLiteral("frames,average")
                     << QStringLiteral("--width") << QStringLiteral("3840")
                     << QStringLiteral("--height") << QStringLiteral("2160")
                     << QStringLiteral("--format") << QStringLiteral("png")
                     << QStringLiteral("--axis") << QStringLiteral("--title")
                     << QStringLiteral("auto");
        else
            expanded << argument;
        optionsEnded = optionsEnded || argument == QLatin1String("--");
    }
    return expanded;
}

// option was given on the command line itself, not by --poster.
bool givenByUser(const QStringList &arguments, const QString &option)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == option || argument.startsWith(option + QLatin1Char('=')))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // A closed standard stream would be taken by the next file opened: a
    // report opened as descriptor 1 would get the progress lines.
    bool inputClosed = false;
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            inputClosed = inputClosed || descriptor == STDIN_FILENO;
            ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
    const std::unique_ptr<QCoreApplication> application =
        displayFreeApplication(argc, argv, drawsText(argc, argv));
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
        "Exit status: 0 when everything was written (or skipped as up to date), 1 when a video "
        "or file failed, 2 for a usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    // First in --help: the one option a newcomer needs.
    const QCommandLineOption posterOption(
        QStringLiteral("poster"),
        QStringLiteral("A poster to print: the frames and average strips at 3840 x 2160 as PNG, "
                       "with a time axis and the video's title (--strips frames,average --width "
                       "3840 --height 2160 --format png --axis --title auto). Options after it "
                       "override it, e.g. reelmeter-batch --poster --width 1920 film.mp4"));
    parser.addOption(posterOption);
    const QCommandLineOption stripsOption(
        QStringLiteral("strips"),
        QStringLiteral("Strips to write, comma-separated: average, quadrant, brightness, "
                       "difference, mood, frames (each picture squeezed into a column), shots "
                       "(each shot's average), palette (each shot's palette), or all."),
        QStringLiteral("LIST"), QStringLiteral("average,quadrant,brightness"));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"),
        QStringLiteral("Also write VIDEO-colours.csv: one row per picture with its number, time, "
                       "the eight measured colours and its mean colour as L*a*b*."));
    const QCommandLineOption shotsOption(
        QStringLiteral("shots"),
        QStringLiteral("Also find the shots and write VIDEO-shots.csv: one row per shot with its "
                       "pictures, times, average colour, palette and transition."));
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
        QStringLiteral("Make every strip N rows high (default 20, quadrant and palette 40, frames "
                       "100)."),
        QStringLiteral("N"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("Image format and extension of the strips: bmp, png, jpg or pdf (a vector "
                       "page; default bmp)."),
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
    const QCommandLineOption fromOption(
        QStringLiteral("from"),
        QStringLiteral("Also read the videos listed in LIST, one path per line, or NUL-separated "
                       "when it holds a NUL byte (- for standard input)."),
        QStringLiteral("LIST"));
    const QCommandLineOption fromNulOption(
        QStringLiteral("from0"),
        QStringLiteral("Also read the videos listed in LIST, NUL-separated as find -print0 writes "
                       "them (- for standard input)."),
        QStringLiteral("LIST"));
    const QCommandLineOption shardOption(
        QStringLiteral("shard"),
        QStringLiteral("Read only every Nth video of the list, starting at the Kth (from 0): "
                       "task K of N."),
        QStringLiteral("K/N"));
    const QCommandLineOption skipOption(
        QStringLiteral("skip-existing"),
        QStringLiteral("Skip videos whose files all exist and were made from the video as it is "
                       "now with the same settings (recorded in VIDEO.reelmeter.json)."));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Append one JSON line per video to FILE (- for standard output)."),
        QStringLiteral("FILE"));
    const QCommandLineOption compareOption(
        QStringLiteral("compare"),
        QStringLiteral("Also draw all videos' strips, one row each, into the image FILE (.png, "
                       ".jpg or .bmp; needs --width)."),
        QStringLiteral("FILE"));
    const QCommandLineOption cropOption(
        QStringLiteral("crop"),
        QStringLiteral("Part of each picture to measure: none (all of it), auto (within the black "
                       "bars found in pictures across the video) or W:H:X:Y, as ffmpeg's crop "
                       "filter takes it (default none). The rectangle used is shown and written "
                       "to VIDEO-crop.txt."),
        QStringLiteral("CROP"), QStringLiteral("none"));
    const QCommandLineOption colourOption(
        QStringLiteral("colour"),
        QStringLiteral("How pictures become RGB: default (fast, as the window shows them) or exact "
                       "(accurate rounding and full chroma interpolation, untagged HD video read "
                       "as BT.709; slower)."),
        QStringLiteral("CONVERSION"), QStringLiteral("default"));
    const QCommandLineOption axisOption(
        QStringLiteral("axis"), QStringLiteral("Draw a time axis (h:mm:ss) under each strip."));
    const QCommandLineOption titleOption(
        QStringLiteral("title"),
        QStringLiteral("Draw TEXT above each strip; auto: the video's title tag, else its file "
                       "name."),
        QStringLiteral("TEXT"));
    const QCommandLineOption pageOption(
        QStringLiteral("page"),
        QStringLiteral("Make each strip a poster of the print size PAGE: A4, A3, A2, A1, A0 "
                       "(landscape) or WxHmm. A picture is then the page at --dpi (replacing "
                       "--width and --height), a PDF that page."),
        QStringLiteral("PAGE"));
    const QCommandLineOption dpiOption(
        QStringLiteral("dpi"),
        QStringLiteral("Dots per inch of the files: a page's pixels, a PDF's page without --page "
                       "(default %1 then, else 96).")
            .arg(defaultPrintDpi),
        QStringLiteral("N"));
    const QCommandLineOption compareScaleOption(
        QStringLiteral("compare-scale"),
        QStringLiteral("Length of each row of --compare: width (all the width, default) or time "
                       "(in proportion to its video's duration, the longest the width)."),
        QStringLiteral("SCALE"), QStringLiteral("width"));
    const QCommandLineOption versionsOption(
        QStringLiteral("versions"),
        QStringLiteral("Compare two versions of a film, VIDEO A and VIDEO B: align B to A and "
                       "write A-versions.csv (the parts removed, inserted and kept, with their "
                       "colour difference) and A-versionsDisplay.FORMAT (both average strips "
                       "and the difference over A's time), and print what changed."));
    parser.addOption(versionsOption);
    parser.addOptions({stripsOption,    csvOption,   shotsOption,  outputOption,  jobsOption,
                       quietOption,     widthOption, heightOption, formatOption,  sampleOption,
                       maxPixelsOption, cropOption,  colourOption, fromOption,    fromNulOption,
                       shardOption,     skipOption,  reportOption, compareOption, axisOption,
                       titleOption});
    const QCommandLineOption layoutOption(
        QStringLiteral("layout"),
        QStringLiteral("linear (default) or ring: each strip as a disc, time clockwise from 12 "
                       "o'clock, --width a side (default 2000), without --height or an axis."),
        QStringLiteral("LAYOUT"), QStringLiteral("linear"));
    const QCommandLineOption meanOption(
        QStringLiteral("mean"),
        QStringLiteral("How colours are averaged: srgb (default) or linear, the mean of the light, "
                       "for the average, quadrant, shots and frames strips and the CSV."),
        QStringLiteral("MEAN"), QStringLiteral("srgb"));
    parser.addOptions({layoutOption, meanOption});
    parser.addOptions({pageOption, dpiOption, compareScaleOption});
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("Videos to read."),
                                 QStringLiteral("VIDEO..."));

    // parse, not process: process exits with 1 on a usage error. arguments()
    // would turn a name's bytes that are not UTF-8 into U+FFFD.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << fileNameFromBytes(argv[i]);
    const bool sizeGiven = givenByUser(arguments, QStringLiteral("--width")) ||
                           givenByUser(arguments, QStringLiteral("--height"));
    const bool heightGiven = givenByUser(arguments, QStringLiteral("--height"));
    arguments = withPosterExpanded(arguments);
    if (!parser.parse(arguments))
        return failUsage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    QStringList videos = parser.positionalArguments();
    if (videos.isEmpty() && !parser.isSet(fromOption) && !parser.isSet(fromNulOption))
        return failUsage(QStringLiteral("No video given."));
    std::optional<Shard> shard;
    if (parser.isSet(shardOption)) {
        shard = parseShard(parser.value(shardOption));
        if (!shard)
            return failUsage(QStringLiteral("--shard takes K/N, two whole numbers with "
                                            "0 <= K < N."));
    }
    BatchOptions options;
    OutputChoice &output = options.output;
    const auto kinds = parseStripKinds(parser.value(stripsOption));
    if (!kinds)
        return failUsage(
            QStringLiteral("Unknown strip list \"%1\".").arg(parser.value(stripsOption)));
    output.kinds = *kinds;
    output.colours = parser.isSet(csvOption);
    output.shots = parser.isSet(shotsOption);
    for (const auto &[option, value] : {std::pair(&widthOption, &output.layout.width),
                                        std::pair(&heightOption, &output.layout.height)}) {
        if (!parser.isSet(*option))
            continue;
        bool valid = false;
        *value = parser.value(*option).toInt(&valid);
        if (!valid || *value < 1 || *value > largestStripSide)
            return failUsage(QStringLiteral("--%1 takes a whole number from 1 to %2.")
                                 .arg(option->names().constFirst())
                                 .arg(largestStripSide));
    }
    output.layout.format = parser.value(formatOption);
    const QString layout = parser.value(layoutOption);
    const QString mean = parser.value(meanOption);
    if (layout != QLatin1String("linear") && layout != QLatin1String("ring"))
        return failUsage(QStringLiteral("Unknown layout \"%1\": linear or ring.").arg(layout));
    if (mean != QLatin1String("srgb") && mean != QLatin1String("linear"))
        return failUsage(QStringLiteral("Unknown mean \"%1\": srgb or linear.").arg(mean));
    output.layout.ring = layout == QLatin1String("ring");
    output.layout.mean = mean == QLatin1String("linear") ? ColourMean::Linear : ColourMean::Srgb;
    if (output.layout.ring && parser.isSet(compareOption))
        return failUsage(QStringLiteral("--compare lays strips side by side: it does not take "
                                        "--layout ring."));
    if (!QStringList{QStringLiteral("bmp"), QStringLiteral("png"), QStringLiteral("jpg"),
                     QStringLiteral("pdf")}
             .contains(output.layout.format))
        return failUsage(QStringLiteral("Unknown format \"%1\": bmp, png, jpg or pdf.")
                             .arg(output.layout.format));
    output.layout.axis = parser.isSet(axisOption);
    output.layout.title = parser.value(titleOption);
    if (parser.isSet(dpiOption)) {
        bool valid = false;
        output.layout.dpi = parser.value(dpiOption).toInt(&valid);
        if (!valid || output.layout.dpi < fewestDpi || output.layout.dpi > mostDpi)
            return failUsage(QStringLiteral("--dpi takes a whole number from %1 to %2.")
                                 .arg(fewestDpi)
                                 .arg(mostDpi));
    }
    if (parser.isSet(pageOption)) {
        QString why;
        const auto page = parsePageSize(parser.value(pageOption), &why);
        if (!page)
            return failUsage(why);
        output.layout.page = *page;
        // The page replaces --poster's size. A PDF keeps its columns on any page; a picture's size
        // is the page.
        const bool pdf = output.layout.format == QLatin1String("pdf");
        if (pdf ? heightGiven : sizeGiven)
            return failUsage(pdf ? QStringLiteral("--page sets the strips' height: give --height "
                                                  "or --page, not both.")
                                 : QStringLiteral("--page sets the pictures' size: give --width "
                                                  "and --height or --page, not both."));
        if (!fitToPage(output.layout, &why))
            return failUsage(why);
    }
    if (output.layout.ring &&
        (output.layout.format == QLatin1String("pdf") || parser.isSet(pageOption)))
        return failUsage(QStringLiteral("A ring is drawn as a picture --width pixels a side: it "
                                        "does not take --format pdf or --page."));
    if (const auto oversized = oversizedStrip(output.kinds, output.layout))
        return failUsage(*oversized);
    if (const auto sampling = parseSampling(parser.value(sampleOption)))
        output.sampling = *sampling;
    else
        return failUsage(QStringLiteral("Unknown sampling \"%1\": all, key or a number of seconds "
                                        "of at least %2.")
                             .arg(parser.value(sampleOption))
                             .arg(Sampling::shortestInterval));
    if (const auto crop = parseCrop(parser.value(cropOption)))
        output.crop = *crop;
    else
        return failUsage(QStringLiteral("Unknown crop \"%1\": none, auto or W:H:X:Y.")
                             .arg(parser.value(cropOption)));
    if (const auto colour = parseColourConversion(parser.value(colourOption)))
        output.colour = *colour;
    else
        return failUsage(QStringLiteral("Unknown colour conversion \"%1\": default or exact.")
                             .arg(parser.value(colourOption)));
    bool jobsValid = false;
    const int jobs = parser.value(jobsOption).toInt(&jobsValid);
    if (!jobsValid || jobs < 1)
        return failUsage(
            QStringLiteral("The number of jobs must be a whole number of at least 1."));
    bool maxPixelsValid = false;
    options.maxPixels = parser.value(maxPixelsOption).toLongLong(&maxPixelsValid);
    // FFmpeg's decoders take at most INT_MAX.
    if (!maxPixelsValid || options.maxPixels < 1 || options.maxPixels > INT_MAX)
        return failUsage(
            QStringLiteral("The pixel limit must be a whole number from 1 to %1.").arg(INT_MAX));
    options.skipExisting = parser.isSet(skipOption);
    const QString compareFile = shardFileName(parser.value(compareOption), shard);
    const auto compareScale = parseComparisonScale(parser.value(compareScaleOption));
    if (!compareScale)
        return failUsage(QStringLiteral("Unknown comparison scale \"%1\": width or time.")
                             .arg(parser.value(compareScaleOption)));
    if (parser.isSet(compareOption)) {
        if (output.layout.width == 0)
            return failUsage(QStringLiteral("--compare needs --width."));
        if (output.layout.format == QLatin1String("pdf"))
            return failUsage(QStringLiteral("--compare reads the strips as pictures: not with "
                                            "--format pdf."));
        if (comparisonFormat(compareFile).isEmpty())
            return failUsage(QStringLiteral("The comparison %1 must end in .png, .jpg or .bmp.")
                                 .arg(compareFile));
    }
    if (parser.isSet(outputOption)) {
        options.outputDir = parser.value(outputOption);
        if (options.outputDir.isEmpty())
            return failUsage(QStringLiteral("The output directory is empty."));
    }
    if (parser.isSet(versionsOption)) {
        if (videos.size() != 2)
            return failUsage(QStringLiteral("--versions takes two videos, A and B."));
        const VersionsJob job{
            videos[0],           videos[1],         output.sampling, output.layout.format,
            output.layout.width, options.outputDir, jobs > 1};
        if (job.format == QLatin1String("pdf"))
            return failUsage(QStringLiteral("--versions draws its display as a picture: give "
                                            "--format bmp, png or jpg."));
        // By name, or the same file reached through a link.
        FileIdentities identities;
        for (const QString &file : versionsFileNames(outputBase(job.a, job.outputDir), job.format))
            for (const QString &video : videos) {
                const auto written = identities.of(file);
                if (cleanAbsolute(file) == cleanAbsolute(video) ||
                    (written && written == identities.of(video)))
                    return failUsage(
                        QStringLiteral("%1 is both a video to read and a file to write.")
                            .arg(video));
            }
        if (!options.outputDir.isEmpty() && !QDir().mkpath(options.outputDir))
            return failFile(options.outputDir,
                            QStringLiteral("This directory could not be created."));
        ProgressReport report(ProgressReport::modeFor(stderr, parser.isSet(quietOption)), stderr);
        return runVersionsJob(job, report);
    }
    for (const QCommandLineOption *option : {&fromOption, &fromNulOption}) {
        for (const QString &list : parser.values(*option)) {
            if (inputClosed && list == QLatin1String("-"))
                return failFile(list, QStringLiteral("Standard input is closed."));
            QString why;
            const ListRead read = readVideoList(list, option == &fromNulOption, videos, &why);
            if (read == ListRead::Malformed)
                return failUsage(list + QStringLiteral(": ") + why);
            if (read == ListRead::Unreadable)
                return failFile(list, why);
        }
    }
    videos = withoutDuplicates(videos);
    // The later video's files would silently replace the earlier one's.
    if (const auto clash = clashingOutputs(videos, options.outputDir))
        return failUsage(QStringLiteral("%1 and %2 would write files of the same names.")
                             .arg(clash->first, clash->second));
    const QStringList comparison =
        parser.isSet(compareOption) ? QStringList{compareFile} : QStringList{};
    // A report appended to a video would damage it.
    const QString reportFile = parser.value(reportOption);
    if (parser.isSet(reportOption) && reportFile != QLatin1String("-")) {
        if (const auto video = writtenAmong(reportFile, {}, output, options.outputDir, videos))
            return failUsage(
                QStringLiteral("The report %1 is the video %2.").arg(reportFile, *video));
        if (const auto file =
                writtenAmong(reportFile, videos, output, options.outputDir, comparison))
            return failUsage(QStringLiteral("The report %1 is also the file %2 to write.")
                                 .arg(reportFile, *file));
    }
    // Its strips would replace it, and a later video might read them instead.
    if (const auto video = videoAmongOutputs(videos, output, options.outputDir, comparison))
        return failUsage(
            QStringLiteral("%1 is both a video to read and a file to write.").arg(*video));
    // Each task of many checks the whole list above, then reads its share.
    const QStringList task = shard ? shardOf(videos, *shard) : videos;
    if (!options.outputDir.isEmpty() && !QDir().mkpath(options.outputDir))
        return failFile(options.outputDir, QStringLiteral("This directory could not be created."));

    std::unique_ptr<RunReport> runReport;
    if (parser.isSet(reportOption)) {
        QString why;
        runReport = RunReport::open(reportFile, &why);
        if (!runReport)
            return failFile(reportFile, why);
    }

    const bool quiet = parser.isSet(quietOption);
    ProgressReport report(ProgressReport::modeFor(stderr, quiet), stderr);
    // Only what the summary needs: a list may hold a million videos.
    QList<VideoOutcome::Status> statuses(task.size());
    std::atomic<bool> refused = false;
    std::atomic<qsizetype> next = 0;
    std::atomic<bool> reportWritten = true;
    const auto work = [&] {
        for (qsizetype i; (i = next++) < task.size();) {
            const VideoOutcome outcome = processVideo(task[i], options, report);
            statuses[i] = outcome.status;
            if (outcome.usageError)
                refused = true;
            QString why;
            if (runReport && !runReport->append(task[i], outcome, &why)) {
                report.message(failureLine(reportFile, why));
                reportWritten = false;
            }
        }
    };
    std::vector<std::thread> workers;
    for (qsizetype i = 1; i < std::min<qsizetype>(jobs, task.size()); ++i)
        workers.emplace_back(work);
    work();
    for (std::thread &worker : workers)
        worker.join();

    bool allWritten = reportWritten;
    QString why;
    if (parser.isSet(compareOption) &&
        !writeComparison(
            compareFile, task,
            [&statuses](qsizetype i) { return statuses[i] != VideoOutcome::Failed; }, output,
            options.outputDir, &why, *compareScale)) {
        report.message(failureLine(compareFile, why));
        allWritten = false;
    }
    int counts[3] = {};
    for (VideoOutcome::Status status : statuses)
        ++counts[status];
    if (!quiet)
        report.message(QStringLiteral("reelmeter-batch: %1 written, %2 skipped, %3 failed.")
                           .arg(counts[VideoOutcome::Written])
                           .arg(counts[VideoOutcome::Skipped])
                           .arg(counts[VideoOutcome::Failed]));
    if (refused)
        return usageError;
    return allWritten && counts[VideoOutcome::Failed] == 0 ? 0 : 1;
}
