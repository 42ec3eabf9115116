#include "analysis/motion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int W = MotionTracker::width;
constexpr int H = MotionTracker::height;
// Magnification of each zoom of a thumbnail.
constexpr std::array<float, MotionTracker::zooms> magnification = {1.0f,  1.06f, 1.12f, 1.19f,
                                                                   1.26f, 1.41f, 1.6f};
// Shifts tried, in cells: half the width and the height, so that a pan of
// half a picture a picture still fits.
constexpr int shiftX = 12;
constexpr int shiftY = 6;
// Less than this much of the picture left to compare is no fit.
constexpr int leastOverlap = MotionTracker::cells * 2 / 5;
// A fit that needs a larger move or zoom costs a little more, so that two
// unrelated pictures do not match a far corner of one another by chance.
constexpr float movePenalty = 0.15f;
constexpr float zoomPenalty = 0.02f;
// Below this change of the still pictures, no move is looked for.
constexpr float noSearch = 0.06f;
constexpr int regionSide = 4;

struct Fit {
    int before = 0; // zoom of each
    int after = 0;
    int dx = 0; // the content moved by this many cells
    int dy = 0;
};

// Mean absolute difference of after and before moved by fit, every step-th
// cell; a large number when too little overlaps.
float meanDifference(const MotionTracker::Thumbnail &before, const MotionTracker::Thumbnail &after,
                     const Fit &fit, int step)
{
    const int x0 = std::max(0, fit.dx);
    const int x1 = std::min(W, W + fit.dx);
    const int y0 = std::max(0, fit.dy);
    const int y1 = std::min(H, H + fit.dy);
    if ((x1 - x0) * (y1 - y0) < leastOverlap)
        return 1e9f;
    const auto &a = after[size_t(fit.after)];
    const auto &b = before[size_t(fit.before)];
    float sum = 0;
    int count = 0;
    for (int y = y0; y < y1; y += step) {
        const float *rowA = a.data() + y * W;
        const float *rowB = b.data() + (y - fit.dy) * W - fit.dx;
        for (int x = x0; x < x1; x += step) {
            sum += std::fabs(rowA[x] - rowB[x]);
            ++count;
        }
    }
    return sum / float(count) +
           movePenalty * (float(std::abs(fit.dx)) / W + float(std::abs(fit.dy)) / H) +
           zoomPenalty * float(fit.before + fit.after);
}

// The mean difference of the three quarters of the regions (4 x 4 of the
// picture) that differ the least under fit: a title or an object passing
// over part of the picture leaves the rest alike.
float regionDifference(const MotionTracker::Thumbnail &before,
                       const MotionTracker::Thumbnail &after, const Fit &fit)
{
    std::array<float, regionSide * regionSide> sums{};
    std::array<int, regionSide * regionSide> counts{};
    const auto &a = after[size_t(fit.after)];
    const auto &b = before[size_t(fit.before)];
    for (int y = std::max(0, fit.dy); y < std::min(H, H + fit.dy); ++y)
        for (int x = std::max(0, fit.dx); x < std::min(W, W + fit.dx); ++x) {
            const int region = (y * regionSide / H) * regionSide + x * regionSide / W;
            sums[size_t(region)] +=
                std::fabs(a[size_t(y * W + x)] - b[size_t((y - fit.dy) * W + x - fit.dx)]);
            ++counts[size_t(region)];
        }
    std::array<float, regionSide * regionSide> means{};
    int regions = 0;
    for (size_t r = 0; r < sums.size(); ++r)
        if (counts[r] > 0)
            means[size_t(regions++)] = sums[r] / float(counts[r]);
    if (regions == 0)
        return 0;
    std::sort(means.begin(), means.begin() + regions);
    const int kept = (regions * 3 + 3) / 4;
    float total = 0;
    for (int r = 0; r < kept; ++r)
        total += means[size_t(r)];
    return total / float(kept);
}

} // namespace

void MotionTracker::thumbnailOf(const QImage &frame, Thumbnail &thumbnail)
{
    auto &plain = thumbnail[0];
    const int w = frame.width();
    const int h = frame.height();
    const int stepX = std::max(1, w / (W * 4));
    const int stepY = std::max(1, h / (H * 4));
    double total = 0;
    double squares = 0;
    for (int cy = 0; cy < H; ++cy) {
        const int top = cy * h / H;
        const int bottom = std::max((cy + 1) * h / H, std::min(top + 1, h));
        for (int cx = 0; cx < W; ++cx) {
            const int left = cx * w / W;
            const int right = std::max((cx + 1) * w / W, std::min(left + 1, w));
            uint32_t sum = 0;
            uint32_t count = 0;
            for (int y = top; y < bottom; y += stepY) {
                const auto *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
                for (int x = left; x < right; x += stepX) {
                    sum +=
                        uint32_t(77 * qRed(line[x]) + 150 * qGreen(line[x]) + 29 * qBlue(line[x]));
                    ++count;
                }
            }
            const float v = count ? float(sum) / float(count * 256) : 0.0f;
            plain[size_t(cy * W + cx)] = v;
            total += v;
            squares += double(v) * v;
        }
    }
    const double mean = total / cells;
    const double spread = std::sqrt(std::max(squares / cells - mean * mean, 0.0));
    // In units of the picture's contrast, so that differences compare across
    // pictures; a flat picture (black, a flash, fine noise) stays near 0.
    const float scale = float(1.0 / (spread + 10.0));
    for (float &v : plain)
        v = (v - float(mean)) * scale;
    for (int z = 1; z < zooms; ++z) {
        auto &zoomed = thumbnail[size_t(z)];
        for (int y = 0; y < H; ++y) {
            const float sy = std::clamp(
                (y + 0.5f - H / 2.0f) / magnification[size_t(z)] + H / 2.0f - 0.5f, 0.0f, H - 1.0f);
            const int y0 = std::min(int(sy), H - 2);
            const float fy = sy - float(y0);
            for (int x = 0; x < W; ++x) {
                const float sx =
                    std::clamp((x + 0.5f - W / 2.0f) / magnification[size_t(z)] + W / 2.0f - 0.5f,
                               0.0f, W - 1.0f);
                const int x0 = std::min(int(sx), W - 2);
                const float fx = sx - float(x0);
                const float *p = plain.data() + y0 * W + x0;
                zoomed[size_t(y * W + x)] = (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) +
                                            (p[W] * (1 - fx) + p[W + 1] * fx) * fy;
            }
        }
    }
}

float MotionTracker::stillChange(const Thumbnail &before, const Thumbnail &after)
{
    return regionDifference(before, after, Fit());
}

float MotionTracker::movedChange(const Thumbnail &before, const Thumbnail &after)
{
    const float still = stillChange(before, after);
    if (still < noSearch)
        return still;
    // Coarse: every other shift on every other cell, for each zoom of either
    // picture; then the best fit to the cell.
    Fit best;
    float bestCost = meanDifference(before, after, best, 2);
    for (int zb = 0; zb < zooms; ++zb) {
        for (int za = 0; za < (zb == 0 ? zooms : 1); ++za) {
            for (int dy = -shiftY; dy <= shiftY; dy += 2)
                for (int dx = -shiftX; dx <= shiftX; dx += 2) {
                    const Fit fit{zb, za, dx, dy};
                    const float cost = meanDifference(before, after, fit, 2);
                    if (cost < bestCost) {
                        bestCost = cost;
                        best = fit;
                    }
                }
        }
    }
    const Fit coarse = best;
    bestCost = meanDifference(before, after, best, 1);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const Fit fit{coarse.before, coarse.after, coarse.dx + dx, coarse.dy + dy};
            if (std::abs(fit.dx) > shiftX || std::abs(fit.dy) > shiftY)
                continue;
            const float cost = meanDifference(before, after, fit, 1);
            if (cost < bestCost) {
                bestCost = cost;
                best = fit;
            }
        }
    return std::min(still, regionDifference(before, after, best));
}

PictureMotion MotionTracker::add(const QImage &frame)
{
    const size_t current = size_t(m_count % 4);
    thumbnailOf(frame, m_ring[current]);
    PictureMotion motion;
    for (int k = 1; k <= 3 && k <= m_count; ++k) {
        const Thumbnail &before = m_ring[size_t((m_count - k) % 4)];
        motion.moved[size_t(k - 1)] = movedChange(before, m_ring[current]);
        if (k == 1)
            motion.still = stillChange(before, m_ring[current]);
    }
    ++m_count;
    return motion;
}
