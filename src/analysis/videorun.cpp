#include "analysis/videorun.h"

#include "analysis/activearea.h"
#include "analysis/framereading.h"
#include "video/framesourceseek.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Pictures looked at for black bars: enough that a scene with a dark edge
// does not decide it, few enough to take a moment.
constexpr int cropSamples = 32;

// The smallest rectangle that holds every part outside black bars (see
// activeArea) of key pictures sampled across the whole video, found by
// jumping, or of every key picture where jumping fails; the whole picture
// when they are all black. Null when the video cannot be read.
QRect activeCrop(const QString &path, const FrameSourceOptions &reading, QString *why)
{
    FrameSourcePtr source = openRgbSource(path, reading, why);
    if (!source)
        return {};
    const QRect whole(0, 0, outputWidth(source.get()), outputHeight(source.get()));
    // Only key pictures: each jump lands on one, and no other is decoded.
    setKeyPicturesOnly(source.get(), true);
    const QImage frame = frameView(source.get());
    QRect active;
    int seen = 0;
    const double duration = streamDuration(source.get());
    for (int i = 0; duration > 0 && i < cropSamples; ++i) {
        if (!jumpToKeyPictureBefore(source.get(), duration * (i + 0.5) / cropSamples) ||
            readPicture(source.get()) != FrameReady)
            break;
        active |= activeArea(frame);
        ++seen;
    }
    if (seen == 0) {
        // No jumping: every key picture from the start.
        source = openRgbSource(path, reading, why);
        if (!source)
            return {};
        setKeyPicturesOnly(source.get(), true);
        const QImage first = frameView(source.get());
        while (readPicture(source.get()) == FrameReady)
            active |= activeArea(first);
    }
    return active.isNull() ? whole : active;
}

// Every picture's place in time: increasing, and a picture without a time
// one interval after the one before.
std::vector<double> placedTimes(const std::vector<double> &times, double interval)
{
    std::vector<double> placed(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        const double before = i > 0 ? placed[i - 1] : 0.0;
        placed[i] = times[i] >= 0 ? std::max(times[i], before) : (i > 0 ? before + interval : 0.0);
    }
    return placed;
}

} // namespace

QString cropText(const QRect &rect)
{
    return QStringLiteral("%1:%2:%3:%4")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

std::optional<Sampling> parseSampling(const QString &text)
{
    Sampling sampling;
    if (text == QLatin1String("all"))
        return sampling;
    if (text == QLatin1String("key")) {
        sampling.mode = Sampling::Key;
        return sampling;
    }
    bool valid = false;
    sampling.seconds = text.toDouble(&valid);
    if (!valid || !(sampling.seconds >= Sampling::shortestInterval) ||
        !std::isfinite(sampling.seconds))
        return std::nullopt;
    sampling.mode = Sampling::Every;
    return sampling;
}

QString samplingText(const Sampling &sampling)
{
    switch (sampling.mode) {
    case Sampling::All:
        return QStringLiteral("all");
    case Sampling::Key:
        return QStringLiteral("key");
    case Sampling::Every:
        break;
    }
    // Every digit, so that the text reads back as the same number.
    return QString::number(sampling.seconds, 'g', 17);
}

std::optional<Crop> parseCrop(const QString &text)
{
    Crop crop;
    if (text == QLatin1String("none"))
        return crop;
    if (text == QLatin1String("auto")) {
        crop.mode = Crop::Auto;
        return crop;
    }
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 4)
        return std::nullopt;
    // Beyond any picture, and small enough that the rectangle's far edge
    // fits an int.
    constexpr int largest = 1 << 20;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool valid = false;
        numbers[i] = parts[i].toInt(&valid);
        if (!valid || numbers[i] < (i < 2 ? 1 : 0) || numbers[i] > largest)
            return std::nullopt;
    }
    crop.mode = Crop::Explicit;
    crop.rect = QRect(numbers[2], numbers[3], numbers[0], numbers[1]);
    return crop;
}

QString cropSetting(const Crop &crop)
{
    switch (crop.mode) {
    case Crop::None:
        return QStringLiteral("none");
    case Crop::Auto:
        return QStringLiteral("auto");
    case Crop::Explicit:
        break;
    }
    return cropText(crop.rect);
}

std::unique_ptr<VideoRun> VideoRun::open(const QString &path, const RunOptions &options,
                                         AnalysisState &state, QString *why, bool *refused)
{
    if (refused)
        *refused = false;
    // A crop is given in the picture's own pixels: no quick look with one.
    const FrameSourceOptions reading{.maxPixels = options.maxPixels,
                                     .glanceWidth =
                                         options.crop.mode == Crop::None ? options.glanceWidth : 0,
                                     .exactColours = options.exactColours};
    QRect crop;
    if (options.crop.mode == Crop::Auto) {
        crop = activeCrop(path, reading, why);
        if (crop.isNull())
            return nullptr;
    }
    FrameSourcePtr source = openRgbSource(path, reading, why);
    if (!source)
        return nullptr;
    const QRect whole(0, 0, outputWidth(source.get()), outputHeight(source.get()));
    if (options.crop.mode == Crop::Explicit) {
        crop = options.crop.rect;
        if (!whole.contains(crop)) {
            if (why)
                *why = QStringLiteral("The crop %1 does not lie within the picture (%2x%3).")
                           .arg(cropText(crop))
                           .arg(whole.width())
                           .arg(whole.height());
            if (refused)
                *refused = true;
            return nullptr;
        }
    }
    return std::unique_ptr<VideoRun>(new VideoRun(std::move(source), options, state, crop));
}

VideoRun::VideoRun(FrameSourcePtr source, const RunOptions &options, AnalysisState &state,
                   const QRect &crop)
    : m_source(std::move(source)), m_options(options), m_state(state), m_crop(crop)
{
    FrameSource *reader = m_source.get();
    m_state.framesHeight = options.framesHeight;
    m_state.perceptual = options.perceptual;
    m_state.mean = options.mean;
    m_state.shotGrids = options.shotGrids;
    m_state.keepHistories = options.keepHistories;
    if (options.oneRowBands)
        m_state.strips.useOneRowBands();
    // Room for the pictures the container announces (and a little for its
    // rounding) saves a long run the doubling of its memory. Beyond a bound
    // a claim is not trusted: the run then grows as it reads.
    constexpr int64_t largestReservation = int64_t(1) << 20;
    int64_t expected = estimatedPictureCount(reader);
    if (options.sampling.mode == Sampling::Every)
        expected = std::min<int64_t>(
            expected, int64_t(streamDuration(reader) / options.sampling.seconds) + 1);
    if (options.reserveAhead && options.sampling.mode != Sampling::Key && expected > 0)
        reserveForPictures(m_state,
                           int(std::min(expected + expected / 64 + 16, largestReservation)));

    m_frame = frameView(reader, m_crop);
    m_sums.linearParts = options.mean == ColourMean::Linear;
    m_sums.withLinear = options.perceptual || m_sums.linearParts;
    gatherRowSums(reader, m_sums, m_crop);
    if (options.sampling.mode == Sampling::Key)
        setKeyPicturesOnly(reader, true);
    if (options.sampling.mode == Sampling::Every && options.sampleColumns > 0 &&
        streamDuration(reader) > 0) {
        m_end = streamDuration(reader);
        setPictureFilter(reader, [this](double time) { return nearestToAMiddle(time); });
    } else if (options.sampling.mode == Sampling::Every) {
        setPictureFilter(reader, [this, every = options.sampling.seconds](double time) {
            // Times are sums of picture durations: allow for their rounding.
            constexpr double slack = 1e-9;
            if (time < 0) // nothing to sample by
                return true;
            if (m_first < 0)
                m_first = time;
            else if (time < m_next - slack)
                return false;
            m_next = m_first + (std::floor((time - m_first) / every + slack) + 1) * every;
            return true;
        });
    }
}

VideoRun::~VideoRun() = default;

double VideoRun::middle(int64_t index) const
{
    const int columns = m_options.sampleColumns;
    const double length = m_end - m_first;
    if (!(length > 0))
        return index == 0 ? m_first : std::numeric_limits<double>::infinity();
    const double perColumn = length / columns / m_options.sampling.seconds;
    if (perColumn >= 1) {
        // Several a column: the middles of its equal parts.
        const int64_t parts = int64_t(columns) * std::llround(perColumn);
        return m_first + length * (double(index) + 0.5) / double(parts);
    }
    // One every few columns, each in the middle of its group.
    const int64_t group = std::llround(1 / perColumn);
    const int64_t column = index * group + group / 2;
    if (column >= columns)
        return std::numeric_limits<double>::infinity();
    return m_first + length * (double(column) + 0.5) / columns;
}

bool VideoRun::nearestToAMiddle(double time)
{
    if (time < 0) // nothing to sample by
        return true;
    if (m_first < 0) {
        m_first = time;
        if (!(m_end > m_first))
            m_end = m_first; // every middle at the first picture
    }
    // The picture is the nearest to the middle when the next one, as far
    // after it as this one came after the last, would be farther.
    const double halfGap = m_previous < 0 ? 0 : (time - m_previous) / 2;
    m_previous = time;
    if (time < middle(m_middle) - halfGap)
        return false;
    while (middle(m_middle) <= time + halfGap)
        ++m_middle;
    return true;
}

VideoRun::Step VideoRun::step()
{
    if (m_ended || !m_refusal.isEmpty())
        return m_ended ? Step::End : Step::Refused;
    FrameSource *reader = m_source.get();
    if (readPicture(reader) != FrameReady) {
        m_ended = true;
        return Step::End;
    }
    if (m_state.frameCount == 0 && m_options.sampling.mode == Sampling::Every) {
        const double interval = currentPictureDuration(reader);
        if (m_options.sampling.seconds < interval * (1 - 1e-6)) {
            m_refusal = QStringLiteral("One picture per %1 s is more often than the video's "
                                       "pictures come (every %2 s); --sample all measures "
                                       "every picture.")
                            .arg(m_options.sampling.seconds)
                            .arg(interval);
            return Step::Refused;
        }
    }
    recordPicture(m_state, m_frame, currentPictureTime(reader), m_sums);
    return Step::Picture;
}

void VideoRun::skipPackets(int count)
{
    // Past the end every read is EndOfStream and changes nothing.
    for (int i = 0; i < count; ++i) {
        if (readFrame(m_source.get()) == EndOfStream)
            break;
    }
}

VideoRun::Step VideoRun::runToEnd(const std::function<bool(const ReadProgress &)> &told,
                                  int intervalMs)
{
    QElapsedTimer sinceTold;
    sinceTold.start();
    Step step;
    while ((step = this->step()) == Step::Picture) {
        if (sinceTold.hasExpired(intervalMs)) {
            sinceTold.restart();
            if (!told(progress()))
                return step;
        }
    }
    told(progress());
    return step;
}

ReadProgress VideoRun::progress() const
{
    ReadProgress progress;
    progress.pictures = int64_t(m_state.frameCount);
    progress.fraction = m_ended ? 1.0 : progressFraction(m_source.get());
    progress.finished = m_ended;
    progress.crop = m_crop;
    return progress;
}

RunResult VideoRun::finish()
{
    RunResult result;
    result.crop = m_crop;
    result.title = QString::fromStdString(streamTitle(m_source.get()));
    result.duration = streamDuration(m_source.get());
    const std::vector<double> &times = m_state.pictureTimes;
    if (times.empty())
        return result;
    const double last = times.back();
    result.end = std::max(last, 0.0) + std::max(currentPictureDuration(m_source.get()), 0.0);
    result.times = placedTimes(times, result.end - std::max(last, 0.0));
    result.end = std::max(result.end, result.times.back());
    if (m_state.shotGrids) {
        result.shots = shotsOf(m_state);
        drawShotStrips(result.shots, m_state.strips, m_options.paletteRows);
    }
    return result;
}
