// One video read from start to end, each picture recorded as the window
// records it, so that its histories and strips are those of the window's
// first run after program start (no earlier picture to compare the first one
// against).
#pragma once

#include "analysis/analysisstate.h"
#include "video/framesource.h"

#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

// How far a run has got, as the reading side sees it.
struct ReadProgress {
    int64_t pictures = 0;   // pictures read so far
    double fraction = -1.0; // 0..1 through the video; negative when unknown
    bool finished = false;  // the last report of the run
    QRect crop;             // the rectangle measured of each picture; null: all of it
};

// Called on the calling thread, at most every progressInterval and once at
// the end (with finished set).
using ProgressCallback = std::function<void(const ReadProgress &)>;
constexpr int progressIntervalMs = 100;

// Which pictures are measured: all (the window's way), only the key pictures
// (the others are never decoded), or one per interval of video time (the
// first picture at or after each multiple of seconds after the first
// picture's time).
struct Sampling {
    enum Mode { All, Key, Every } mode = All;
    double seconds = 0; // Every only, at least shortestInterval
    // Below this, sums of picture times would lose pictures to rounding.
    static constexpr double shortestInterval = 0.001;
};

// How a video is read.
struct ReadOptions {
    Sampling sampling;
    int64_t maxPixels = defaultMaxPixels;
    // The rectangle measured of every picture, which must lie within it; null:
    // the whole picture.
    QRect crop;
};

// Which part of each picture the batch tool measures: all of it, the part
// within black bars found by looking at the video, or a rectangle given.
struct Crop {
    enum Mode { None, Auto, Explicit } mode = None;
    QRect rect; // Explicit only
};

// "W:H:X:Y", ffmpeg's crop filter's order.
QString cropText(const QRect &rect);

enum class CropFound { Yes, Unreadable, Outside };

// The rectangle of path's pictures to measure for crop, into *rect: null for
// None; for Explicit the given one, when the pictures (as displayed) hold it;
// for Auto the smallest that holds every part outside black bars (see
// activeArea) of pictures sampled across the whole video, key pictures found
// by jumping, or the whole picture when they are all black. On failure *why
// gets the reason (the video cannot be read, or the rectangle lies outside
// its pictures).
CropFound findCrop(const QString &path, const Crop &crop, int64_t maxPixels, QRect *rect,
                   QString *why);

// Opens path (as the window does: first video stream, its own size, RGB32)
// and records every picture into result, which must be fresh. Measuring
// runs on the calling thread, band by band as each picture is converted,
// while FFmpeg's decoder threads work on the next pictures; a second thread
// would need a copy of every picture, which costs more than it saves. False
// when the video cannot be opened, with the reason in why; result is then
// untouched. Pictures of more than options.maxPixels pixels are refused (see
// openFrameSource); only options.crop of each is measured. endTime, when given, receives the time
// the last picture ends (its time plus its duration). Sampling more often
// than the video's pictures come is refused as a usage error (Refused), once
// the first picture tells the interval.
enum class AnalyseResult { Read, Unreadable, Refused };
AnalyseResult analyseVideo(const QString &path, AnalysisState &result, QString *why = nullptr,
                           const ProgressCallback &progress = {}, const ReadOptions &options = {},
                           double *endTime = nullptr);
