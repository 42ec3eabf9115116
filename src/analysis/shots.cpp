#include "analysis/shots.h"

#include "analysis/analysisstate.h"

#include <algorithm>
#include <cmath>

namespace {

// Columns and rows read per cell and direction, about.
constexpr int readsPerSide = 128;
// How much a change of the mean level counts beside a change of the cells.
constexpr float levelWeight = 0.25f;

// Each cell relative to the picture's mean level and contrast, so that a
// picture that only gets brighter, darker or flatter (flicker, a lamp, a
// fade) looks the same, plus a small term for the change of level itself.
struct Normalised {
    std::array<float, PictureGrid::cellCount * 3> cells;
    float level;
};

Normalised normalised(const PictureGrid &grid)
{
    Normalised n;
    double total = 0;
    double squares = 0;
    for (const auto &mean : grid.means) {
        for (const uint8_t v : mean) {
            total += v;
            squares += double(v) * v;
        }
    }
    const double count = 3.0 * PictureGrid::cellCount;
    n.level = float(total / count);
    const double spread = std::sqrt(std::max(squares / count - double(n.level) * n.level, 0.0));
    // The level's share keeps the noise of flat pictures from being blown up.
    const float scale = float(1.0 / (spread + 0.5 * n.level + 8.0));
    for (int c = 0; c < PictureGrid::cellCount; ++c)
        for (int k = 0; k < 3; ++k)
            n.cells[size_t(c * 3 + k)] = (grid.means[size_t(c)][size_t(k)] - n.level) * scale;
    return n;
}

float distance(const Normalised &a, const Normalised &b)
{
    float cells = 0;
    for (size_t i = 0; i < a.cells.size(); ++i)
        cells += std::fabs(a.cells[i] - b.cells[i]);
    cells /= float(a.cells.size());
    const float level = std::fabs(a.level - b.level) / (std::max(a.level, b.level) + 16.0f);
    return cells + levelWeight * level;
}

// The largest change of pictures first to last - 1; 0 for none.
float largest(const std::vector<float> &change, int first, int last)
{
    return first < last ? *std::max_element(change.begin() + first, change.begin() + last) : 0.0f;
}

// Changes below this never cut: still shots with a little noise.
constexpr float smallestCut = 0.08f;
// A cut stands out from the changes of the shots on either side by this.
constexpr float standOut = 3.0f;
constexpr float standOutMargin = 0.04f;
constexpr int window = 12;
// A picture this much closer to the one before a change than the change
// itself, within flashLength pictures, makes the change a flash.
constexpr float flashReturn = 0.5f;
constexpr int flashLength = 4;
constexpr int shortestShot = 3;
// Mean level (0..255) below which a picture counts as black.
constexpr float blackLevel = 12.0f;

} // namespace

void measureGrid(const QImage &frame, PictureGrid &grid)
{
    const int w = frame.width();
    const int h = frame.height();
    const int stepX = std::max(1, w / readsPerSide);
    const int stepY = std::max(1, h / readsPerSide);
    const int side = PictureGrid::side;
    for (int cy = 0; cy < side; ++cy) {
        const int top = cy * h / side;
        const int bottom = std::max((cy + 1) * h / side, std::min(top + 1, h));
        for (int cx = 0; cx < side; ++cx) {
            const int left = cx * w / side;
            const int right = std::max((cx + 1) * w / side, std::min(left + 1, w));
            uint64_t sums[3] = {};
            uint64_t count = 0;
            for (int y = top; y < bottom; y += stepY) {
                const auto *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
                for (int x = left; x < right; x += stepX) {
                    sums[0] += qRed(line[x]);
                    sums[1] += qGreen(line[x]);
                    sums[2] += qBlue(line[x]);
                    ++count;
                }
            }
            auto &mean = grid.means[size_t(cy * side + cx)];
            auto &sample = grid.samples[size_t(cy * side + cx)];
            for (int k = 0; k < 3; ++k)
                mean[size_t(k)] = count ? uint8_t((sums[k] + count / 2) / count) : 0;
            if (count == 0) {
                sample = {0, 0, 0};
                continue;
            }
            const QRgb centre = reinterpret_cast<const QRgb *>(
                frame.constScanLine((top + bottom) / 2))[(left + right) / 2];
            sample = {uint8_t(qRed(centre)), uint8_t(qGreen(centre)), uint8_t(qBlue(centre))};
        }
    }
}

std::vector<int> detectCuts(const std::vector<PictureGrid> &grids)
{
    const int n = int(grids.size());
    std::vector<int> starts;
    if (n == 0)
        return starts;
    starts.push_back(0);
    // Two numbers a picture rather than its normalised grid, which would take
    // a long film hundreds of bytes a picture; the few candidates for a cut
    // normalise the pictures around them again.
    // change[t]: from picture t - 1 to t.
    std::vector<float> change(size_t(n), 0.0f);
    std::vector<float> level(static_cast<size_t>(n));
    Normalised previous = normalised(grids[0]);
    level[0] = previous.level;
    for (int t = 1; t < n; ++t) {
        const Normalised current = normalised(grids[size_t(t)]);
        change[size_t(t)] = distance(previous, current);
        level[size_t(t)] = current.level;
        previous = current;
    }
    const auto distanceOf = [&grids](int a, int b) {
        return distance(normalised(grids[size_t(a)]), normalised(grids[size_t(b)]));
    };

    for (int t = 1; t < n; ++t) {
        const float d = change[size_t(t)];
        // A cut to or from black is the middle of a fade, and a change that
        // grows over pictures is no cut.
        if (d < smallestCut || change[size_t(t - 1)] >= d ||
            std::min(level[size_t(t - 1)], level[size_t(t)]) < blackLevel)
            continue;
        // A shot is at least a few pictures long: of two cuts closer than
        // that, the larger change stays.
        const bool tooClose = starts.back() > 0 && t - starts.back() < shortestShot;
        if (tooClose && d <= change[size_t(starts.back())])
            continue;
        // The shot this picture is in, should it be no cut.
        const int shotStart = tooClose ? starts[starts.size() - 2] : starts.back();
        const float before = largest(change, std::max(shotStart + 1, t - window), t);
        const float after = largest(change, t + 1, std::min(n, t + 1 + window));
        // A busy shot on either side may be where a cut goes to or comes from;
        // near the end of the video, where the shot after is seen only in
        // part, both sides count.
        const bool wholeAfter = t + window < n;
        const float activity = wholeAfter ? std::min(before, after) : std::max(before, after);
        if (d < standOut * activity + standOutMargin)
            continue;
        // A flash: the pictures soon after it are like the one before it, or
        // the end of one: the picture after it is like those before it.
        bool flash = false;
        for (int k = 1; k <= flashLength && t + k < n && !flash; ++k)
            flash = distanceOf(t - 1, t + k) < flashReturn * d;
        for (int k = 2; k <= flashLength + 1 && t - k >= shotStart && !flash; ++k)
            flash = distanceOf(t - k, t) < flashReturn * d;
        if (flash)
            continue;
        if (tooClose)
            starts.back() = t;
        else
            starts.push_back(t);
    }
    return starts;
}

namespace {

struct Sample {
    std::array<double, 3> lab;
    std::array<uint8_t, 3> rgb;
};

double squaredDistance(const std::array<double, 3> &a, const std::array<double, 3> &b)
{
    double sum = 0;
    for (int k = 0; k < 3; ++k)
        sum += (a[size_t(k)] - b[size_t(k)]) * (a[size_t(k)] - b[size_t(k)]);
    return sum;
}

// Samples spread evenly over the shot, at most this many.
constexpr size_t paletteSamples = 4096;
constexpr int paletteSize = 5;
constexpr int refinements = 10;

} // namespace

std::vector<PaletteColour> paletteOf(const std::vector<PictureGrid> &grids, int first, int last)
{
    std::vector<Sample> samples;
    const size_t total = size_t(last - first + 1) * PictureGrid::cellCount;
    const size_t step = std::max<size_t>(1, total / paletteSamples);
    const std::array<uint32_t, 256> &table = linearTable();
    for (size_t i = 0; i < total; i += step) {
        const auto &rgb =
            grids[size_t(first) + i / PictureGrid::cellCount].samples[i % PictureGrid::cellCount];
        const LabColour lab =
            labFromLinear({table[rgb[0]] / linearScale, table[rgb[1]] / linearScale,
                           table[rgb[2]] / linearScale});
        samples.push_back({{lab.L, lab.a, lab.b}, rgb});
    }
    if (samples.empty())
        return {};

    // Median cut: split the box with the widest spread at its median until
    // there are enough boxes or none can be split.
    std::vector<std::pair<size_t, size_t>> boxes = {{0, samples.size()}};
    while (int(boxes.size()) < paletteSize) {
        int widest = -1;
        int axis = 0;
        double spread = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].second - boxes[b].first < 2)
                continue;
            for (int k = 0; k < 3; ++k) {
                const auto [low, high] = std::minmax_element(
                    samples.begin() + long(boxes[b].first), samples.begin() + long(boxes[b].second),
                    [k](const Sample &x, const Sample &y) {
                        return x.lab[size_t(k)] < y.lab[size_t(k)];
                    });
                const double range = high->lab[size_t(k)] - low->lab[size_t(k)];
                if (range > spread) {
                    spread = range;
                    widest = int(b);
                    axis = k;
                }
            }
        }
        if (widest < 0 || spread < 1.0)
            break;
        auto [begin, end] = boxes[size_t(widest)];
        const size_t middle = (begin + end) / 2;
        std::nth_element(samples.begin() + long(begin), samples.begin() + long(middle),
                         samples.begin() + long(end), [axis](const Sample &x, const Sample &y) {
                             return x.lab[size_t(axis)] < y.lab[size_t(axis)];
                         });
        boxes[size_t(widest)] = {begin, middle};
        boxes.push_back({middle, end});
    }
    std::vector<std::array<double, 3>> centres;
    for (const auto &[begin, end] : boxes) {
        std::array<double, 3> centre{};
        for (size_t i = begin; i < end; ++i)
            for (int k = 0; k < 3; ++k)
                centre[size_t(k)] += samples[i].lab[size_t(k)] / double(end - begin);
        centres.push_back(centre);
    }

    // k-means from there, in a fixed order: the same samples give the same
    // palette.
    std::vector<int> owner(samples.size(), 0);
    for (int round = 0; round < refinements; ++round) {
        for (size_t i = 0; i < samples.size(); ++i) {
            int best = 0;
            for (int c = 1; c < int(centres.size()); ++c)
                if (squaredDistance(samples[i].lab, centres[size_t(c)]) <
                    squaredDistance(samples[i].lab, centres[size_t(best)]))
                    best = c;
            owner[i] = best;
        }
        std::vector<std::array<double, 3>> sums(centres.size(), {0, 0, 0});
        std::vector<size_t> counts(centres.size(), 0);
        for (size_t i = 0; i < samples.size(); ++i) {
            for (int k = 0; k < 3; ++k)
                sums[size_t(owner[i])][size_t(k)] += samples[i].lab[size_t(k)];
            ++counts[size_t(owner[i])];
        }
        for (size_t c = 0; c < centres.size(); ++c)
            if (counts[c] > 0)
                for (int k = 0; k < 3; ++k)
                    centres[c][size_t(k)] = sums[c][size_t(k)] / double(counts[c]);
    }

    std::vector<size_t> counts(centres.size(), 0);
    for (int o : owner)
        ++counts[size_t(o)];
    std::vector<PaletteColour> palette;
    for (size_t c = 0; c < centres.size(); ++c) {
        if (counts[c] == 0)
            continue;
        PaletteColour colour;
        colour.lab = {centres[c][0], centres[c][1], centres[c][2]};
        colour.colour = srgbFromLab(colour.lab).rgb();
        colour.share = double(counts[c]) / double(samples.size());
        palette.push_back(colour);
    }
    std::stable_sort(
        palette.begin(), palette.end(),
        [](const PaletteColour &a, const PaletteColour &b) { return a.share > b.share; });
    return palette;
}

std::vector<Shot> shotsOf(const AnalysisState &state)
{
    // Grids and linear means are recorded with the histories, picture by
    // picture.
    const int n = int(state.grids.size());
    const bool perceptual = state.linearMeans.size() == state.grids.size();
    std::vector<Shot> shots;
    std::vector<int> starts = detectCuts(state.grids);
    starts.push_back(n);
    for (size_t s = 0; s + 1 < starts.size(); ++s) {
        Shot shot;
        shot.first = starts[s];
        shot.last = starts[s + 1] - 1;
        const double count = shot.last - shot.first + 1;
        double rgb[3] = {};
        std::array<double, 3> linear{};
        for (int i = shot.first; i <= shot.last; ++i) {
            const QRgb average = state.strips.average.colourAt(i, 0);
            rgb[0] += qRed(average);
            rgb[1] += qGreen(average);
            rgb[2] += qBlue(average);
            for (int k = 0; perceptual && k < 3; ++k)
                linear[size_t(k)] += state.linearMeans[size_t(i)][size_t(k)] / count;
        }
        shot.average = QColor(int(std::lround(rgb[0] / count)), int(std::lround(rgb[1] / count)),
                              int(std::lround(rgb[2] / count)));
        shot.lab = labFromLinear(linear);
        shot.palette = paletteOf(state.grids, shot.first, shot.last);
        shots.push_back(shot);
    }
    return shots;
}

void drawShotStrips(const std::vector<Shot> &shots, StripSet &strips, int paletteRows)
{
    strips.shots.clear();
    strips.palette = Strip(std::max(paletteRows, 1), 1);
    // One column a picture: room for all of them at once rather than
    // doubling (and copying) as they come.
    if (!shots.empty()) {
        strips.shots.reserve(shots.back().last + 1);
        strips.palette.reserve(shots.back().last + 1);
    }
    std::vector<QColor> bands(size_t(strips.palette.bandCount()));
    for (const Shot &shot : shots) {
        // Colour k takes the rows from its cumulative share's start to end,
        // rounded, so the bands fill the column exactly.
        double cumulative = 0;
        size_t row = 0;
        for (const PaletteColour &colour : shot.palette) {
            cumulative += colour.share;
            const size_t end =
                std::min(bands.size(), size_t(std::lround(cumulative * double(bands.size()))));
            for (; row < end; ++row)
                bands[row] = QColor(colour.colour);
        }
        for (; row < bands.size(); ++row)
            bands[row] = shot.palette.empty() ? shot.average : QColor(shot.palette.back().colour);
        for (int i = shot.first; i <= shot.last; ++i) {
            strips.shots.append(shot.average);
            strips.palette.append(bands);
        }
    }
}
