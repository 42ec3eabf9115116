// One run of a video through the measurements, picture by picture: the same
// engine whoever drives it, a step at a time, so that a caller can pace it
// (a window's tick), loop over it (the batch tool) or run it on a thread of
// its own. It keeps no state of its own beyond the run object.
#pragma once

#include "analysis/analysisstate.h"
#include "analysis/shots.h"
#include "video/framesource.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// How far a run has got.
struct ReadProgress {
    int64_t pictures = 0;   // pictures measured so far
    double fraction = -1.0; // 0..1 through the video; negative when unknown
    bool finished = false;  // the run has ended
    QRect crop;             // the rectangle measured of each picture; null: all of it
};

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

// Which part of each picture is measured: all of it, the part within black
// bars found by looking at the video, or a rectangle given.
struct Crop {
    enum Mode { None, Auto, Explicit } mode = None;
    QRect rect; // Explicit only
};

// "W:H:X:Y", ffmpeg's crop filter's order.
QString cropText(const QRect &rect);

// "all", "key" or a decimal number of seconds of at least shortestInterval;
// nothing otherwise. samplingText gives the text back.
std::optional<Sampling> parseSampling(const QString &text);
QString samplingText(const Sampling &sampling);

// "none", "auto" or "W:H:X:Y" (whole numbers up to 2^20, width and height at
// least 1); nothing otherwise. cropSetting gives the text back.
std::optional<Crop> parseCrop(const QString &text);
QString cropSetting(const Crop &crop);

// What a run measures and gathers beside the strips.
struct RunOptions {
    Sampling sampling;
    Crop crop;
    int64_t maxPixels = defaultMaxPixels; // larger pictures are refused
    bool exactColours = false;            // see FrameSourceOptions::exactColours
    int framesHeight = 0;                 // rows of the squeezed-pictures strip; 0: none
    bool perceptual = false;              // linear means, for L*a*b*
    ColourMean mean = ColourMean::Srgb;   // see AnalysisState::mean
    bool shotGrids = false;               // grids, for the shots
    int paletteRows = 40;                 // of the palette strip drawn at the end
    bool oneRowBands = false;             // strips for a poster (see useOneRowBands)
    // With Sampling::Every for a poster this many columns wide: the pictures
    // nearest the middles of the columns' time spans (several a column when
    // they are longer than the interval, one every few columns when shorter)
    // rather than a grid from the first picture. Only when the video's length
    // is known up front; 0: the grid.
    int sampleColumns = 0;
    bool keepHistories = true; // see AnalysisState::keepHistories
    // Set aside room for the pictures the container announces, at the start,
    // rather than doubling as they come.
    bool reserveAhead = false;
    // A quick look at the film, not files: see FrameSourceOptions::glanceWidth
    // (without a crop).
    int glanceWidth = 0;
};

// What a run found, once it has ended.
struct RunResult {
    // Every picture's place in time, increasing: a picture without a time is
    // placed one interval after the one before.
    std::vector<double> times;
    double end = 0;          // where the last picture ends
    double duration = -1;    // where the video stream ends, as the file says; < 0: unknown
    std::vector<Shot> shots; // with shot grids only
    QRect crop;              // the rectangle measured; null: the whole picture
    QString title;           // the file's title tag; empty: none
};

class VideoRun
{
public:
    enum class Step {
        Picture, // a picture was read and recorded
        End,     // the video has ended (or cannot be read further)
        Refused, // the options do not fit the video (see refusal())
    };

    // Opens path (first video stream, its own size, RGB32) for a run that
    // records into state, which the caller keeps (fresh, or the window's own
    // so that its first picture is compared with the last run's). The crop is
    // found first (Auto: inside the black bars of pictures spread across the
    // video; Explicit: must lie within the pictures as displayed). Null when
    // it cannot, with the reason in *why and *refused set when the options do
    // not fit the video (a crop outside its pictures).
    static std::unique_ptr<VideoRun> open(const QString &path, const RunOptions &options,
                                          AnalysisState &state, QString *why,
                                          bool *refused = nullptr);
    ~VideoRun();
    VideoRun(const VideoRun &) = delete;
    VideoRun &operator=(const VideoRun &) = delete;

    // Reads the next picture to measure and records it.
    Step step();
    // Reads and drops count packets of the container, whatever stream they
    // belong to (the window's Skip), stopping at the end of the file.
    void skipPackets(int count);
    // Why the last step was Refused: sampling more often than the video's
    // pictures come, found at its first picture.
    QString refusal() const { return m_refusal; }
    ReadProgress progress() const;
    // Steps to the End or a refusal, calling told with progress() at most
    // every intervalMs and once at the last step. When told returns false
    // the run stops there, and Picture is returned.
    Step runToEnd(const std::function<bool(const ReadProgress &)> &told, int intervalMs = 100);
    // The picture times, the end and the shots (whose strips it then draws
    // into the state's): once, after the run's End.
    RunResult finish();

    // The reader, for what a window shows of it (progress, pixel shape) and
    // for skipping packets; the run stays its owner.
    FrameSource *source() const { return m_source.get(); }
    // The last picture read (its crop), a view of the reader's buffer.
    const QImage &frame() const { return m_frame; }
    QRect crop() const { return m_crop; }

private:
    VideoRun(FrameSourcePtr source, const RunOptions &options, AnalysisState &state,
             const QRect &crop);
    // The time of the index-th middle wanted (see RunOptions::sampleColumns);
    // infinite past the last.
    double middle(int64_t index) const;
    // The picture filter of sampling at middles: takes the picture at time
    // when it is the nearest to the next middle.
    bool nearestToAMiddle(double time);

    FrameSourcePtr m_source;
    RunOptions m_options;
    AnalysisState &m_state;
    QRect m_crop;
    QImage m_frame; // a view of the source's buffer
    RowSums m_sums;
    bool m_ended = false;
    QString m_refusal;
    // Sampling by time: the first picture's time and the next one wanted.
    double m_first = -1.0;
    double m_next = 0.0;
    // Sampling at columns' middles: where the video ends, the time of the
    // last picture offered and the next middle wanted.
    double m_end = -1.0;
    double m_previous = -1.0;
    int64_t m_middle = 0;
};
