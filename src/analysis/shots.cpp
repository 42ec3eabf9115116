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

// How far the colours of b's cells are from those of the pool's pictures,
// wherever they are in them: for each cell of b, the nearest cell of any;
// the three quarters nearest kept (what enters at an edge or passes by is
// new).
float colourGap(const Normalised *pool, size_t count, const Normalised &b)
{
    constexpr size_t cells = PictureGrid::cellCount;
    std::array<float, cells> nearest;
    for (size_t i = 0; i < cells; ++i) {
        float best = 1e9f;
        for (size_t q = 0; q < count; ++q)
            for (size_t j = 0; j < cells; ++j)
                best = std::min(best, std::fabs(b.cells[i * 3] - pool[q].cells[j * 3]) +
                                          std::fabs(b.cells[i * 3 + 1] - pool[q].cells[j * 3 + 1]) +
                                          std::fabs(b.cells[i * 3 + 2] - pool[q].cells[j * 3 + 2]));
        nearest[i] = best;
    }
    constexpr size_t kept = cells * 3 / 4;
    std::nth_element(nearest.begin(), nearest.begin() + kept, nearest.end());
    float total = 0;
    for (size_t i = 0; i < kept; ++i)
        total += nearest[i];
    return total / float(kept * 3);
}

float colourGap(const Normalised &a, const Normalised &b)
{
    return colourGap(&a, 1, b);
}

// The colour gap both ways: colours either picture has that the other lacks.
float colourGapBothWays(const Normalised &a, const Normalised &b)
{
    return std::max(colourGap(a, b), colourGap(b, a));
}

// How far picture b is picture a with its content moved by whole or half
// cells along one axis (a fast pan, blurred): the mean difference of the
// cells both show, the least over such moves, none included; direction:
// that move's axis and sign (0..3), -1 for none.
float shiftedDistance(const Normalised &a, const Normalised &b, int &direction)
{
    constexpr int side = PictureGrid::side;
    const auto cell = [](const Normalised &g, int x, int y, size_t k) {
        return g.cells[size_t((y * side + x) * 3) + k];
    };
    float best = 1e9f;
    direction = -1;
    for (int axis = 0; axis < 2; ++axis)
        for (int halves = -side; halves <= side; ++halves) {
            // Half a cell: the mean of the two whole moves around it.
            const int k0 = halves / 2;
            const int k1 = halves - k0;
            const int lo = std::max({0, k0, k1});
            const int hi = std::min({side, side + k0, side + k1});
            if (hi - lo < side / 2)
                continue;
            float sum = 0;
            for (int u = lo; u < hi; ++u)
                for (int v = 0; v < side; ++v)
                    for (size_t k = 0; k < 3; ++k) {
                        const float moved =
                            axis == 0 ? 0.5f * (cell(a, u - k0, v, k) + cell(a, u - k1, v, k))
                                      : 0.5f * (cell(a, v, u - k0, k) + cell(a, v, u - k1, k));
                        sum += std::fabs((axis == 0 ? cell(b, u, v, k) : cell(b, v, u, k)) - moved);
                    }
            const float mean = sum / float((hi - lo) * side * 3);
            if (mean < best) {
                best = mean;
                direction = halves == 0 ? -1 : axis * 2 + int(halves > 0);
            }
        }
    return best;
}

// How far a picture is a mix of the pictures before and after a transition,
// cell by cell: each cell's colour as a share of before's plus a share of
// after's (a dissolve, the edge of a wipe, a fade through black). unexplained:
// what no such mix gives, over the distance from before to after; along: how
// far the mix has gone from before (0) to after (1), -1 where the picture is
// too dark to tell.
struct Mix {
    float unexplained = 0;
    float along = -1;
};

// A share of a cell larger than this is no mix (a flash to white).
constexpr float largestShare = 1.15f;

Mix mixOf(const PictureGrid &before, const PictureGrid &after, const PictureGrid &picture)
{
    float residual = 0;
    float span = 0;
    float along = 0;
    float weight = 0;
    for (size_t c = 0; c < size_t(PictureGrid::cellCount); ++c) {
        float s[3];
        float e[3];
        float x[3];
        for (size_t k = 0; k < 3; ++k) {
            s[k] = before.means[c][k];
            e[k] = after.means[c][k];
            x[k] = picture.means[c][k];
        }
        const auto dot = [](const float *u, const float *v) {
            return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
        };
        const float ss = dot(s, s) + 1.0f;
        const float ee = dot(e, e) + 1.0f;
        const float se = dot(s, e);
        const float sx = dot(s, x);
        const float ex = dot(e, x);
        const float det = ss * ee - se * se;
        float a = -1;
        float b = -1;
        if (det > 1e-4f * ss * ee) {
            a = (sx * ee - ex * se) / det;
            b = (ex * ss - sx * se) / det;
        }
        const auto missOf = [&](float u, float v) {
            u = std::clamp(u, 0.0f, largestShare);
            v = std::clamp(v, 0.0f, largestShare);
            float miss = 0;
            for (size_t k = 0; k < 3; ++k)
                miss += std::fabs(x[k] - u * s[k] - v * e[k]);
            return miss;
        };
        if (a < 0 || b < 0) {
            // On an edge of the cone: one picture's share alone.
            const float onlyS = sx / ss;
            const float onlyE = ex / ee;
            if (missOf(onlyS, 0) <= missOf(0, onlyE)) {
                a = onlyS;
                b = 0;
            } else {
                a = 0;
                b = onlyE;
            }
        }
        a = std::clamp(a, 0.0f, largestShare);
        b = std::clamp(b, 0.0f, largestShare);
        residual += missOf(a, b);
        float distance = 0;
        for (size_t k = 0; k < 3; ++k)
            distance += std::fabs(s[k] - e[k]);
        span += distance;
        if (a + b > 0.2f) {
            along += distance * b / (a + b);
            weight += distance;
        }
    }
    Mix mix;
    mix.unexplained = residual / (span + 1.0f);
    mix.along = weight > 0.25f * span && weight > 0 ? along / weight : -1.0f;
    return mix;
}

// How far a picture lies on the line from before to after, all cells moving
// together (where a dissolve, or one that goes on, puts it): along, 0 at
// before and 1 at after, and not on the line by unexplained, as in Mix.
Mix lineOf(const PictureGrid &before, const PictureGrid &after, const PictureGrid &picture)
{
    float dot = 0;
    float squares = 0;
    float span = 0;
    for (size_t c = 0; c < size_t(PictureGrid::cellCount); ++c)
        for (size_t k = 0; k < 3; ++k) {
            const float step = float(after.means[c][k]) - float(before.means[c][k]);
            dot += (float(picture.means[c][k]) - float(before.means[c][k])) * step;
            squares += step * step;
            span += std::fabs(step);
        }
    Mix line;
    line.along = dot / (squares + 1.0f);
    float residual = 0;
    for (size_t c = 0; c < size_t(PictureGrid::cellCount); ++c)
        for (size_t k = 0; k < 3; ++k)
            residual +=
                std::fabs(float(picture.means[c][k]) - float(before.means[c][k]) -
                          line.along * (float(after.means[c][k]) - float(before.means[c][k])));
    line.unexplained = residual / (span + 1.0f);
    return line;
}

// The colour gap of probeCount pictures from probeFirst by probeStep (one
// way or the other) from a pool of poolCount pictures from poolFirst by
// poolStep, those within the video; the median picture's, so that a flash
// or a shape passing among them tells nothing.
float pooledGap(const std::vector<PictureGrid> &grids, int poolFirst, int poolStep, int poolCount,
                int probeFirst, int probeStep, int probeCount)
{
    const int n = int(grids.size());
    std::vector<Normalised> pool;
    for (int k = 0, p = poolFirst; k < poolCount && p >= 0 && p < n; ++k, p += poolStep)
        pool.push_back(normalised(grids[size_t(p)]));
    std::vector<float> gaps;
    for (int k = 0, p = probeFirst; k < probeCount && p >= 0 && p < n; ++k, p += probeStep)
        gaps.push_back(colourGap(pool.data(), pool.size(), normalised(grids[size_t(p)])));
    if (pool.empty() || gaps.empty())
        return 0.0f;
    std::sort(gaps.begin(), gaps.end());
    const size_t m = gaps.size();
    return m % 2 ? gaps[m / 2] : 0.5f * (gaps[m / 2 - 1] + gaps[m / 2]);
}

// The sum of all cells' channel differences between two grids.
float spanOf(const PictureGrid &a, const PictureGrid &b)
{
    float span = 0;
    for (size_t c = 0; c < size_t(PictureGrid::cellCount); ++c)
        for (size_t k = 0; k < 3; ++k)
            span += std::fabs(float(a.means[c][k]) - float(b.means[c][k]));
    return span;
}

// How far a picture is the picture before a transition pushed out by the one
// after it (a slide), the cells of each moved whole cells left, right, up or
// down; as Mix, along being the share of the picture the one after covers.
// Only direction (0..3) is tried when given.
Mix slideOf(const PictureGrid &before, const PictureGrid &after, const PictureGrid &picture,
            int &direction)
{
    constexpr int side = PictureGrid::side;
    const float span = spanOf(before, after);
    Mix best;
    best.unexplained = 1e9f;
    int bestDirection = direction;
    for (int d = 0; d < 4; ++d) {
        if (direction >= 0 && d != direction)
            continue;
        // In half cells: a slide between two whole cells is seen as the
        // mean of the two.
        for (int halves = 0; halves <= 2 * side; ++halves) {
            float residual = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    // Position along the slide: 0 where the picture before
                    // leaves, side - 1 where the one after enters.
                    const int u = d == 0 ? x : d == 1 ? side - 1 - x : d == 2 ? y : side - 1 - y;
                    float moved[3] = {0, 0, 0};
                    for (const int covered : {halves / 2, (halves + 1) / 2}) {
                        const bool isAfter = u >= side - covered;
                        const int from = isAfter ? u - (side - covered) : u + covered;
                        const int fx = d < 2 ? (d == 0 ? from : side - 1 - from) : x;
                        const int fy = d < 2 ? y : (d == 2 ? from : side - 1 - from);
                        const auto &source = (isAfter ? after : before).means;
                        for (size_t k = 0; k < 3; ++k)
                            moved[k] += 0.5f * source[size_t(fy * side + fx)][k];
                    }
                    const auto &seen = picture.means[size_t(y * side + x)];
                    for (size_t k = 0; k < 3; ++k)
                        residual += std::fabs(float(seen[k]) - moved[k]);
                }
            const float unexplained = residual / (span + 1.0f);
            if (unexplained < best.unexplained) {
                best.unexplained = unexplained;
                best.along = float(halves) / (2 * side);
                bestDirection = d;
            }
        }
    }
    direction = bestDirection;
    return best;
}

// How little of the difference between two grids is left where the one is
// taken for the other magnified about the centre (a zoom in or out), the
// best of a few magnifications; as Mix's unexplained.
float zoomResidual(const PictureGrid &a, const PictureGrid &b)
{
    constexpr int side = PictureGrid::side;
    const float span = spanOf(a, b);
    float best = 1e9f;
    for (const float magnified : {1.15f, 1.3f, 1.5f, 1.75f, 2.0f, 2.5f, 3.0f}) {
        // A row (or column) of the close picture's cells is a row of boxes
        // 1 / magnified cells wide of the wide one: each takes the cells it
        // covers, weighed by how much of each.
        std::array<std::array<float, side>, side> share{};
        for (int i = 0; i < side; ++i) {
            const float centre = float(side) / 2 + (float(i) + 0.5f - float(side) / 2) / magnified;
            const float half = 0.5f / magnified;
            for (int j = 0; j < side; ++j)
                share[size_t(i)][size_t(j)] =
                    std::max(0.0f, std::min(float(j + 1), centre + half) -
                                       std::max(float(j), centre - half)) *
                    magnified;
        }
        for (const bool in : {true, false}) {
            const PictureGrid &wide = in ? a : b;
            const PictureGrid &close = in ? b : a;
            float residual = 0;
            for (size_t k = 0; k < 3; ++k) {
                std::array<std::array<float, side>, side> rows{};
                for (size_t v = 0; v < size_t(side); ++v)
                    for (size_t x = 0; x < size_t(side); ++x)
                        for (size_t u = 0; u < size_t(side); ++u)
                            rows[v][x] += share[x][u] * float(wide.means[v * side + u][k]);
                for (size_t y = 0; y < size_t(side); ++y)
                    for (size_t x = 0; x < size_t(side); ++x) {
                        float seen = 0;
                        for (size_t v = 0; v < size_t(side); ++v)
                            seen += share[y][v] * rows[v][x];
                        residual += std::fabs(float(close.means[y * side + x][k]) - seen);
                    }
            }
            best = std::min(best, residual / (span + 1.0f));
        }
    }
    return best;
}

// The largest change of pictures first to last - 1; 0 for none.
float largest(const std::vector<float> &change, int first, int last)
{
    return first < last ? *std::max_element(change.begin() + first, change.begin() + last) : 0.0f;
}

// Changes below this never cut: still shots with a little noise.
constexpr float smallestCut = 0.08f;
// A cut stands out from the changes of the shots on either side by this.
constexpr float standOut = 2.5f;
constexpr float standOutMargin = 0.04f;
constexpr int window = 12;
// A picture this much closer to the one before a change than the change
// itself, and of its colours, within flashLength pictures, makes the change
// a flash (something passing close to the lens may stay that long).
constexpr float flashReturn = 0.5f;
constexpr int flashLength = 8;
// A flash of light (a strobe, lightning, a camera's flash): one picture
// this many levels brighter than both its neighbours.
constexpr float lightFlash = 40.0f;
// A camera that comes back where it was (a whip pan or zoom to and fro):
// in a burst of movement, a picture and the next within this share of the
// change of two pictures returnStart to returnLength before them in the shot.
constexpr int returnStart = 6;
constexpr int returnLength = 100;
constexpr float returnShare = 0.35f;
// Something close to the lens: a flat shape covers part of the picture for
// up to occlusionLength pictures. A cell changes where its colour moves by
// more than cellStep (the three channels' sum); it is of the shape's colour
// within coverTolerance; the shape covers at most coverShare of the picture,
// leaves at least unbroken cells clear of it and its edges, and its colour
// is in at most unbroken cells of the scene.
constexpr int occlusionLength = 12;
constexpr int cellStep = 60;
constexpr int coverTolerance = 36;
constexpr int coverShare = PictureGrid::cellCount * 3 / 4;
constexpr int unbroken = PictureGrid::cellCount / 8;
constexpr int shortestShot = 3;
// A cut's colour gap (colourGap) stands out from the gaps around it by
// standOut and this.
constexpr float smallestColourJump = 0.06f;
// Mean level (of 255) below which a picture is near black.
constexpr float darkLevel = 16.0f;
// A change of the pictures next to a cut larger than this share of it is a
// large one.
constexpr float burstShare = 0.5f;
// A change this many times as large as both its neighbours is a peak.
constexpr float peakRatio = 2.0f;
// The least moved change (PictureMotion) across a cut, and how far it
// stands out from the moved changes around it.
constexpr float smallestMovedCut = 0.12f;
constexpr float explained = 0.7f;
constexpr float movedStandOut = 1.1f;
// A cut inside a whip pan fits a shift worse, or changes more, than the
// pan's other pictures by this.
constexpr float shiftStandOut = 1.25f;
// Colours unseen: every probeStep-th of the 2 * window pictures from a
// change on against every poolStep-th of the returnLength before it, and the
// other way round. The change is a cut where they are unseenColours or more
// and unseenStandOut times those of the probes' span before and after (not a
// window: probes half on either side of a cut see half its colours unseen),
// and one of the two pictures beside it is within ownShare of that from its
// own side.
constexpr int poolStep = 4;
constexpr int poolCount = returnLength / poolStep;
constexpr int probeStep = 3;
constexpr int probeCount = 2 * window / probeStep;
constexpr float unseenColours = 0.03f;
constexpr float unseenStandOut = 2.0f;
constexpr float ownShare = 0.15f;
// Gradual transitions: windows of these lengths (pictures from the one
// before to the one after) are tried; every picture of one is a mix of its
// ends to within mixLimit (sideLimit for the pictures around it), the middle
// one between mixMiddle and 1 - mixMiddle of the way, each going back at
// most mixBack and forward at most mixStep (any way past a picture too dark
// to place, in a fade through black); the pictures sideLength times as
// long before and after change less than calmSide of the window's way, go
// less than sideAlong of it and, where they lie on the line from end to end,
// go on beyond their end by less than sideAlong; moves explain less than movedShare of the
// change.
constexpr std::array<int, 5> windowLengths = {6, 10, 16, 24, 36};
constexpr int shortestGradual = 3;
constexpr float mixLimit = 0.25f;
constexpr float mixMiddle = 0.15f;
constexpr float mixBack = 0.15f;
constexpr float mixStep = 0.5f;
constexpr float sideLength = 1.0f;
constexpr float calmSide = 0.7f;
constexpr float sideLimit = 0.3f;
constexpr float sideAlong = 0.15f;
constexpr float movedShare = 0.6f;
// No picture of a transition changes by largestStep of its way or more (of
// the light of the end it goes towards, into or out of the dark).
constexpr float largestStep = 0.5f;
// A transition's ends differ in colour by transitionColours at least
// (colourGap), and neither comes within transitionReturn of its way of a
// picture up to returnLength on the other side.
constexpr float transitionColours = 0.1f;
constexpr float transitionReturn = 0.5f;
// A zoom explains a window where the one end magnified about the centre
// leaves less than zoomExplains of the difference (zoomResidual).
constexpr float zoomExplains = 0.55f;

// The sum of the three channels' differences of cell c of g from colour.
int cellDistance(const PictureGrid &g, size_t c, const std::array<uint8_t, 3> &colour)
{
    int sum = 0;
    for (size_t k = 0; k < 3; ++k)
        sum += std::abs(int(g.means[c][k]) - int(colour[k]));
    return sum;
}

// The colour of a flat shape that shaped has and plain lacks: the one most
// of the cells that change between them share; false when no colour is
// shared by a third of them.
bool shapeColour(const PictureGrid &plain, const PictureGrid &shaped,
                 std::array<uint8_t, 3> &colour)
{
    constexpr size_t cells = PictureGrid::cellCount;
    std::array<size_t, cells> changed;
    size_t changes = 0;
    for (size_t c = 0; c < cells; ++c)
        if (cellDistance(plain, c, shaped.means[c]) > cellStep)
            changed[changes++] = c;
    size_t shape = 0;
    size_t sharing = 0;
    for (size_t i = 0; i < changes; ++i) {
        size_t alike = 0;
        for (size_t j = 0; j < changes; ++j)
            alike += size_t(cellDistance(shaped, changed[j], shaped.means[changed[i]]) <=
                            coverTolerance);
        if (alike > sharing) {
            sharing = alike;
            shape = changed[i];
        }
    }
    if (changes == 0 || sharing * 3 < changes)
        return false;
    colour = shaped.means[shape];
    return true;
}

// The least cellDistance of colour from cell c of g and the cells around
// it: a camera that shakes or turns moves the picture by up to a cell.
int nearestDistance(const PictureGrid &g, size_t c, const std::array<uint8_t, 3> &colour)
{
    constexpr int side = PictureGrid::side;
    const int x = int(c) % side;
    const int y = int(c) / side;
    int least = cellDistance(g, c, colour);
    for (int v = std::max(y - 1, 0); v <= std::min(y + 1, side - 1); ++v)
        for (int u = std::max(x - 1, 0); u <= std::min(x + 1, side - 1); ++u)
            least = std::min(least, cellDistance(g, size_t(v * side + u), colour));
    return least;
}

// Which cells of g are of colour (cover), and how many.
int coverOf(const PictureGrid &g, const std::array<uint8_t, 3> &colour,
            std::array<bool, PictureGrid::cellCount> &cover)
{
    int count = 0;
    for (size_t c = 0; c < cover.size(); ++c) {
        cover[c] = cellDistance(g, c, colour) <= coverTolerance;
        count += cover[c];
    }
    return count;
}

// Whether more than coverShare of g's cells are of one colour: something so
// close to the lens that it covers nearly all of the picture.
bool isFlat(const PictureGrid &g)
{
    std::array<bool, PictureGrid::cellCount> cover;
    for (const auto &colour : g.means)
        if (coverOf(g, colour, cover) > coverShare)
            return true;
    return false;
}

// Whether cell c is of cover or next to one that is: beside it, or with
// corners also diagonally.
bool nearCover(const std::array<bool, PictureGrid::cellCount> &cover, size_t c, bool corners)
{
    constexpr int side = PictureGrid::side;
    const int x = int(c) % side;
    const int y = int(c) / side;
    for (int v = std::max(y - 1, 0); v <= std::min(y + 1, side - 1); ++v)
        for (int u = std::max(x - 1, 0); u <= std::min(x + 1, side - 1); ++u)
            if ((corners || u == x || v == y) && cover[size_t(v * side + u)])
                return true;
    return false;
}

// Pictures before + 1 to after - 1 covered in part by one flat shape and
// the rest of the picture unbroken: from before to after each picture's
// cells change only where the shape is (or at its edges, where it covers
// a cell in part), the camera moving them by up to a cell at most, and it
// is gone again at after. A cut changes the
// whole picture; one to a shot with a flat part does not give that part
// back a moment later. withShot: the shot begins at before + 1 with the
// shape already there (its coming is the cut), so only its going is seen.
bool occludes(const std::vector<PictureGrid> &grids, int before, int after, bool withShot)
{
    constexpr size_t cells = PictureGrid::cellCount;
    const PictureGrid &plain = grids[size_t(withShot ? after : before)];
    const PictureGrid &shaped = grids[size_t(withShot ? after - 1 : before + 1)];
    std::array<uint8_t, 3> colour;
    if (!shapeColour(plain, shaped, colour))
        return false;
    std::array<bool, cells> previousCover{};
    std::array<bool, cells> cover{};
    const int uncovered = coverOf(plain, colour, cover);
    if (uncovered > unbroken)
        return false;
    const int first = withShot ? before + 1 : before;
    const int covered = coverOf(grids[size_t(first)], colour, previousCover);
    if (withShot && (covered <= uncovered || covered > coverShare))
        return false;
    int count = covered;
    for (int p = first + 1; p <= after; ++p) {
        count = coverOf(grids[size_t(p)], colour, cover);
        if (count > coverShare || (p < after && count <= uncovered))
            return false;
        int clear = 0;
        int clearStep = 0;
        for (size_t c = 0; c < cells; ++c)
            if (!nearCover(previousCover, c, false) && !nearCover(cover, c, false)) {
                ++clear;
                clearStep += nearestDistance(grids[size_t(p - 1)], c, grids[size_t(p)].means[c]);
            }
        if (clear < unbroken || clearStep > cellStep * clear)
            return false;
        previousCover = cover;
    }
    return count <= uncovered;
}

// Picture t differs from the one before only where a flat shape comes or
// goes, the rest of the picture (not all of one colour, which would tell
// nothing) changing on average by at most half a changed cell's step: the
// shot stays, something passes the lens. Its going may be lost in a move
// of the camera, so it is not waited for.
bool shapeOnly(const std::vector<PictureGrid> &grids, int t)
{
    constexpr size_t cells = PictureGrid::cellCount;
    for (const bool coming : {true, false}) {
        const PictureGrid &plain = grids[size_t(coming ? t - 1 : t)];
        const PictureGrid &shaped = grids[size_t(coming ? t : t - 1)];
        std::array<uint8_t, 3> colour;
        std::array<bool, cells> cover{};
        std::array<bool, cells> shapeCover{};
        if (!shapeColour(plain, shaped, colour))
            continue;
        const int uncovered = coverOf(plain, colour, cover);
        int covered = coverOf(shaped, colour, shapeCover);
        // A dark shape over a dark scene: its colour is all over the plain
        // picture too, so the shape is where the cells took that colour on.
        if (uncovered > unbroken) {
            covered = 0;
            for (size_t c = 0; c < cells; ++c) {
                shapeCover[c] = shapeCover[c] && cellDistance(plain, c, shaped.means[c]) > cellStep;
                covered += int(shapeCover[c]);
            }
        } else if (covered <= uncovered) {
            continue;
        }
        if (covered > coverShare)
            continue;
        // Clear: no cell around it, corners too, is of the shape.
        int clear = 0;
        int clearStep = 0;
        bool varied = false;
        size_t someClear = cells;
        for (size_t c = 0; c < cells; ++c) {
            if (nearCover(shapeCover, c, true))
                continue;
            ++clear;
            clearStep += cellDistance(plain, c, shaped.means[c]);
            someClear = std::min(someClear, c);
            varied = varied || cellDistance(plain, c, plain.means[someClear]) > cellStep;
        }
        if (clear >= unbroken && varied && 2 * clearStep <= cellStep * clear)
            return true;
    }
    return false;
}
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

std::vector<ShotStart> detectShots(const std::vector<PictureGrid> &grids,
                                   const std::vector<PictureMotion> &motion)
{
    const int n = int(grids.size());
    std::vector<ShotStart> starts;
    if (n == 0)
        return starts;
    starts.push_back({0, 0});
    // A few numbers a picture rather than its normalised grid, which would
    // take a long film hundreds of bytes a picture; the few candidates for a
    // cut normalise the pictures around them again.
    // change[t]: from picture t - 1 to t.
    // isLight[p]: picture p is (part of) a flash of light of one picture (a
    // strobe's) or two (a lamp, a flicker of the print). It is lone whatever
    // its neighbours (the camera may move on meanwhile): its changes are no
    // measure of how busy its shot is, and a flash is looked for on either
    // side of it.
    std::vector<float> change(size_t(n), 0.0f);
    std::vector<char> isLight(size_t(n), 0);
    std::vector<float> level(size_t(n), 0.0f);
    // Pictures first..last all brighter than the pictures either side by a
    // flash's step.
    const auto outshines = [&level](int first, int last) {
        return *std::min_element(level.begin() + first, level.begin() + last + 1) >=
               std::max(level[size_t(first - 1)], level[size_t(last + 1)]) + lightFlash;
    };
    Normalised previous = normalised(grids[0]);
    level[0] = previous.level;
    for (int t = 1; t < n; ++t) {
        const Normalised current = normalised(grids[size_t(t)]);
        change[size_t(t)] = distance(previous, current);
        level[size_t(t)] = current.level;
        if (t >= 2)
            isLight[size_t(t - 1)] = outshines(t - 1, t - 1) && !isLight[size_t(t - 2)];
        previous = current;
    }
    // Two-picture flashes once every one-picture flash is known: neither
    // picture, nor one either side, may be one.
    for (int p = 1; p + 2 < n; ++p)
        if (std::none_of(isLight.begin() + p - 1, isLight.begin() + p + 3,
                         [](char light) { return light; }) &&
            outshines(p, p + 1))
            isLight[size_t(p)] = isLight[size_t(p + 1)] = 1;
    const auto distanceOf = [&grids](int a, int b) {
        return distance(normalised(grids[size_t(a)]), normalised(grids[size_t(b)]));
    };
    // moved(t, k): from picture t - k to t, k = 1..3. Without motions (grids
    // gathered elsewhere) the tests that use them are left out.
    const bool withMotion = int(motion.size()) == n;
    const auto moved = [&](int t, int k) {
        return withMotion ? motion[size_t(t)].moved[size_t(k - 1)] : 0.0f;
    };
    // A picture unlike both neighbours, which are alike: a flash, a damaged
    // picture. Comparisons across a cut skip it.
    std::vector<char> isLone(size_t(n), 0);
    for (int p = 1; p + 1 < n; ++p) {
        const float across = withMotion ? moved(p + 1, 2) : -1.0f;
        isLone[size_t(p)] =
            isLight[size_t(p)] ||
            (across >= 0 && across < flashReturn * std::min(moved(p, 1), moved(p + 1, 1))) ||
            (std::min(change[size_t(p)], change[size_t(p + 1)]) >= smallestCut &&
             distanceOf(p - 1, p + 1) <
                 flashReturn * std::min(change[size_t(p)], change[size_t(p + 1)]));
    }
    const auto lone = [&](int p) { return p >= 0 && p < n && isLone[size_t(p)] != 0; };
    // The least moved change from a picture before t to one from t on, within
    // three pictures.
    const auto crossing = [&](int t) {
        float least = 1e9f;
        for (int a = std::max(0, t - 3); a < t; ++a)
            for (int b = t; b < std::min(n, a + 4); ++b)
                if (!lone(a) && !lone(b))
                    least = std::min(least, moved(b, b - a));
        return least;
    };
    // The changes a shot makes of itself, for telling a cut from them: those
    // into and out of a lone picture left out.
    std::vector<float> calmChange(size_t(n), 0.0f);
    std::vector<float> movedChange(size_t(n), 0.0f);
    for (int t = 1; t < n; ++t) {
        const bool skip = lone(t) || lone(t - 1);
        calmChange[size_t(t)] = skip ? 0.0f : change[size_t(t)];
        movedChange[size_t(t)] = skip ? 0.0f : moved(t, 1);
    }

    // The colour gaps (both ways) between pictures, as needed: the colours a
    // camera moving over one scene sees stay, wherever they go.
    const auto gapOf = [&grids](int a, int b) {
        return colourGapBothWays(normalised(grids[size_t(a)]), normalised(grids[size_t(b)]));
    };
    std::vector<float> colourChange(size_t(n), -1.0f);
    const auto gapsOf = [&](int from, int to) {
        for (int p = std::max(from, 1); p < std::min(to, n); ++p)
            if (colourChange[size_t(p)] < 0)
                colourChange[size_t(p)] = lone(p) || lone(p - 1) ? 0.0f : gapOf(p - 1, p);
    };
    // The least colour gap from a picture before t to one from t on.
    const auto colourJump = [&](int t) {
        float least = 1e9f;
        for (int a = std::max(0, t - 3); a < t; ++a)
            for (int b = t; b < std::min(n, a + 4); ++b)
                if (!lone(a) && !lone(b))
                    least = std::min(least, gapOf(a, b));
        // Around lone pictures only (as in noise), the nearest two.
        return least < 1e9f ? least : gapOf(t - 1, t);
    };

    // Pictures from t on bring colours that none within three before had,
    // more than the shots' own pictures do.
    const auto newColours = [&](int t, int from, int to, const auto &activity) {
        gapsOf(from, to);
        return colourJump(t) >= standOut * activity(colourChange, 2) + smallestColourJump;
    };
    // And the pictures just before and after keep their colours: the old
    // shot up to the cut and the new one from it, where a camera that
    // moves fast brings new colours over several pictures.
    const auto steadyNewColours = [&](int t, int from, int to, const auto &activity) {
        if (!newColours(t, from, to, activity))
            return false;
        const float beside =
            std::max(colourChange[size_t(t - 1)], t + 1 < n ? colourChange[size_t(t + 1)] : 0.0f);
        return colourJump(t) >= standOut * beside + smallestColourJump;
    };

    // A change inside such a window: the shape's coming or going.
    const auto covered = [&](int t, int shotStart) {
        for (int before = t - 1; before >= std::max(shotStart, t - occlusionLength - 1); --before)
            for (int after = std::max(t, before + 2);
                 after <= before + occlusionLength + 1 && after < n; ++after)
                if (occludes(grids, before, after, false))
                    return true;
        return shotStart > 0 && t - shotStart <= occlusionLength &&
               occludes(grids, shotStart - 1, t, true);
    };

    // A whip pan between calm stretches (or slow drifts): a run of moving
    // changes, most of the large ones shifting the picture the way t does,
    // with t fitting a shift (blurred as it is) and changing about as much
    // as the others.
    // Over a scene whose parts differ in colour, the colour tests take such
    // a step for a cut; a cut inside a pan is the step no shift explains,
    // or a much larger one.
    const auto panStep = [&](int t) {
        // The run of moving changes around t, between calm ones; where the
        // camera drifts on between whips, the burst of t's large changes.
        int first = t;
        int last = t;
        const auto framed = [&](float calm) {
            first = t;
            while (first > std::max(1, t - window) && change[size_t(first - 1)] >= calm)
                --first;
            last = t;
            while (last < std::min(n - 1, t + window) && change[size_t(last + 1)] >= calm)
                ++last;
            return last - first >= 2 && change[size_t(first - 1)] < calm && last + 1 < n &&
                   change[size_t(last + 1)] < calm;
        };
        if (!framed(smallestCut) && !framed(std::max(smallestCut, burstShare * change[size_t(t)])))
            return false;
        std::vector<Normalised> run;
        for (int p = first - 1; p <= last; ++p)
            run.push_back(normalised(grids[size_t(p)]));
        int direction = -1;
        const auto fit = [&](int p, int &towards) {
            return shiftedDistance(run[size_t(p - first)], run[size_t(p - first + 1)], towards);
        };
        const float own = fit(t, direction);
        float others = 0;
        float largestOther = 0;
        int along = 0;
        int across = 0;
        for (int p = first; p <= last; ++p) {
            if (p == t)
                continue;
            int towards = -1;
            others = std::max(others, fit(p, towards));
            largestOther = std::max(largestOther, change[size_t(p)]);
            if (change[size_t(p)] > burstShare * change[size_t(t)])
                (towards == direction ? along : across) += 1;
        }
        return direction >= 0 && along >= 2 && along > across && own < shiftStandOut * others &&
               change[size_t(t)] < shiftStandOut * largestOther;
    };

    // Where the camera comes to rest after t, at a picture from first to
    // last, that picture and the next are within limit of two a while before
    // t in the shot (both, so that two plain pictures, a flash and one of a
    // strobe earlier, are not taken for a return). A cut does not go back to
    // its own shot.
    const auto returns = [&](int t, int first, int last, int shotStart, float limit) {
        for (int rest = first; rest <= last && rest + 1 < n; ++rest) {
            const Normalised at = normalised(grids[size_t(rest)]);
            const Normalised next = normalised(grids[size_t(rest + 1)]);
            for (int k = rest - t + returnStart; k <= returnLength && rest - k > shotStart; ++k)
                if (distance(normalised(grids[size_t(rest - k)]), at) < limit &&
                    distance(normalised(grids[size_t(rest - k + 1)]), next) < limit)
                    return true;
        }
        return false;
    };

    // Into a flash of light the change across it, from the picture
    // before to the one after, must stand out from the changes after it
    // (a new shot may begin with one), out of one from those before it
    // (an old one may end with one): the camera may move meanwhile. A
    // flash on its own (not a strobe going on) may also begin a shot
    // that moves at once: then the changes before it will do. Across a
    // flash of two pictures the camera moves for two steps, not one.
    const auto acrossLight = [&](int light, int side) {
        int before = light - 1;
        while (before > 0 && isLight[size_t(before)])
            --before;
        int after = light + 1;
        while (after + 1 < n && isLight[size_t(after)])
            ++after;
        if (before < 0 || after >= n)
            return false;
        const int first = side < 0 ? before - 1 : after + 1;
        float beside = 0;
        for (const int k : {first, first + 1})
            if (k >= 1 && k < n && !isLight[size_t(k)] && !isLight[size_t(k - 1)])
                beside = std::max(beside, change[size_t(k)]);
        return distanceOf(before, after) < standOut * beside * float(after - before) / 2;
    };

    // The colours the pictures from t on have that none long before had, and
    // the other way round: a camera moving over one scene all the time shows
    // again what it showed, a new shot what was not there.
    const auto unseenFrom = [&](int t) {
        return std::min(pooledGap(grids, t - 1, -poolStep, poolCount, t, probeStep, probeCount),
                        pooledGap(grids, t, poolStep, poolCount, t - 1, -probeStep, probeCount));
    };
    std::vector<int> cuts = {0};
    // A burst of movement at p: a neighbour changing by more than burstShare
    // of p's change, and three pictures or more in a row changing (one
    // blended picture makes two).
    const auto changing = [&](int p) {
        return p >= 1 && p < n && change[size_t(p)] >= smallestCut;
    };
    const auto burstAt = [&](int p) {
        const auto large = [&](int k) {
            return k >= 1 && k < n && change[size_t(k)] > burstShare * change[size_t(p)];
        };
        return p > 0 && (large(p - 1) || large(p + 1)) &&
               ((changing(p - 2) && changing(p - 1)) || (changing(p - 1) && changing(p + 1)) ||
                (changing(p + 1) && changing(p + 2)));
    };
    // Between two shots that both move all the time (whip pans, a tumble,
    // things passing the lens), the movement tests take a cut for one more
    // step: it is one all the same where it is the largest change for a
    // window either way, no cut within a window before, and its colours
    // unseen stand out from those just before and after. And one of
    // the two pictures beside it is a clean picture of its side: a whip pan
    // to a new view blurs both into colours that neither view has again.
    // Out of rest (or into it), half the largest change of the moving side
    // will do: a take that whips, zooms or has a shape pass the lens from
    // its first picture takes larger steps than its cut. Not for a flash:
    // the probes may all fall on a strobe's flashes.
    const auto unseen = [&](int t) {
        if (t - cuts.back() <= window)
            return false;
        const float d = change[size_t(t)];
        const float before = largest(change, std::max(1, t - window), t);
        const float after = largest(change, t + 1, std::min(n, t + window + 1));
        if (d < before || d < after) {
            const bool fromRest = largest(change, std::max(1, t - 3), t) <= burstShare * d;
            const bool toRest = largest(change, t + 1, std::min(n, t + 4)) <= burstShare * d;
            if (lone(t) ||
                !((fromRest && d >= burstShare * after) || (toRest && d >= burstShare * before)))
                return false;
        }
        const float colours = unseenFrom(t);
        return colours >= unseenColours &&
               std::min(pooledGap(grids, t + 1, poolStep, poolCount, t, 1, 1),
                        pooledGap(grids, t - 2, -poolStep, poolCount, t - 1, 1, 1)) <=
                   ownShare * colours &&
               colours >= unseenStandOut * std::max(unseenFrom(t - probeStep * probeCount),
                                                    unseenFrom(t + probeStep * probeCount));
    };
    for (int t = 1; t < n; ++t) {
        const float d = change[size_t(t)];
        // A change that grows over pictures is no cut; the change out of a
        // flash of light is the flash's own (a shot may begin with one).
        if (d < smallestCut || change[size_t(t - 1)] >= d ||
            (t + 1 < n && change[size_t(t + 1)] > d && !isLight[size_t(t)]))
            continue;
        // A shot is at least a few pictures long: of two cuts closer than
        // that, the later stays unless it is a much smaller change (the
        // first is then a picture or two of damage before a cut, or a flash
        // or blend that begins the new shot). The first shot too: a video
        // may begin with a picture or two unlike the rest (a source warming
        // up, a damaged first picture). And the last: a picture or two at
        // the end are too few to show that a new shot holds.
        const bool tooClose = cuts.back() > 0 && t - cuts.back() < shortestShot;
        if ((tooClose && d <= burstShare * change[size_t(cuts.back())]) || t < shortestShot ||
            n - t < shortestShot)
            continue;
        // The shot this picture is in, should it be no cut.
        const int shotStart = tooClose ? cuts[cuts.size() - 2] : cuts.back();
        const int from = std::max(shotStart + 1, t - window);
        const int to = std::min(n, t + 1 + window);
        // A busy shot on either side may be where a cut goes to or comes from;
        // near the end of the video, where the shot after is seen only in
        // part, both sides count.
        const bool wholeAfter = t + window < n;
        const auto activity = [&](const std::vector<float> &changes, int gap) {
            // Two cuts too close are one event (a cut beside damaged
            // pictures): the first's change is no activity of the second.
            const int until = tooClose ? std::min(t - gap + 1, cuts.back()) : t - gap + 1;
            const float before = largest(changes, from, std::max(from, until));
            const float after = largest(changes, std::min(to, t + gap), to);
            return wholeAfter ? std::min(before, after) : std::max(before, after);
        };
        const auto isLarge = [&](int k) {
            return k >= 1 && k < n && change[size_t(k)] > burstShare * d;
        };
        // A change that does not stand out from its shots' own is a cut all
        // the same where the colours change at once and only there (out of
        // or into a busy shot: noise, a camera moving all the time); not
        // near black, where a fade leaves few colours to compare. Or where
        // no change within three pictures either side is a large one beside
        // it, and it stands out half as far: a camera moving all the time in
        // both shots (a tumble, then a whip pan from the first picture) goes
        // on at its own pace through the cut, which is the one step that
        // breaks it.
        const float busiest = activity(calmChange, 2);
        bool alone = d >= 0.5f * standOut * busiest;
        for (int k = 1; k <= 3; ++k)
            alone = alone && !isLarge(t - k) && !isLarge(t + k);
        const bool standsOut = d >= standOut * busiest + standOutMargin || alone;
        // Colours unseen (the dearest test, so asked last, once).
        int novel = -1;
        const auto unseenCut = [&] {
            if (novel < 0)
                novel = int(unseen(t));
            return novel == 1;
        };
        // A change twice as large as both its neighbours, where the colours
        // change, is a cut as well: between two moving shots, it is a peak
        // among their even steps.
        const bool peak = d >= peakRatio * std::max(change[size_t(t - 1)],
                                                    t + 1 < n ? change[size_t(t + 1)] : 0.0f);
        if (!standsOut &&
            !(std::min(level[size_t(t - 1)], level[size_t(t)]) >= darkLevel &&
              steadyNewColours(t, from, to, activity)) &&
            !(peak && newColours(t, from, to, activity)) && !unseenCut())
            continue;
        // The farthest picture from t, within a window one way (step), of the
        // unbroken run of pictures whose changes are member ones.
        const auto reach = [&](int step, const auto &member) {
            int p = t;
            while (std::abs(p - t) < window && member(p + step))
                p += step;
            return p;
        };
        // The run of changes t is in: the pictures at rest before and after.
        const auto moving = [&](int k) { return isLarge(k) || changing(k); };
        const int runBefore = reach(-1, moving) - 1;
        const int runAfter = reach(1, moving);
        // A change spread over two pictures or more between rests, each on
        // the line from the still picture before to the one after and none
        // taking largestStep of the way, is a blend, not a cut: a whip pan
        // over a flat field shows nothing until its last steps, which blur
        // brings in slowly. A cut takes most of its way at once.
        const auto spread = [&] {
            const float net = distanceOf(runBefore, runAfter);
            if (runAfter - runBefore < 3 || net < smallestCut)
                return false;
            float along = 0;
            for (int p = runBefore + 1; p < runAfter; ++p) {
                const Mix line =
                    lineOf(grids[size_t(runBefore)], grids[size_t(runAfter)], grids[size_t(p)]);
                if (change[size_t(p)] >= largestStep * net || line.unexplained > mixLimit ||
                    line.along < along - mixBack)
                    return false;
                along = std::max(along, line.along);
            }
            return change[size_t(runAfter)] < largestStep * net;
        };
        if (spread() && !unseenCut())
            continue;
        // Beside a cut, one neighbour may change as much (a blended picture,
        // a flash); more is a burst of movement, as a whip pan makes.
        // Two beside it on one side are a burst too, unless that shot is
        // as busy all along (its changes half as large as this one). A long
        // whip pan makes a burst of many large changes: the shot's own are
        // beyond it, or it fills the window. And wherever both neighbours
        // are large, a change that hardly stands out from them is a step
        // of the movement (a whip pan at an even pace).
        const int largeBefore = int(isLarge(t - 1)) + int(isLarge(t - 2));
        const int largeAfter = int(isLarge(t + 1)) + int(isLarge(t + 2));
        const int burstStart = reach(-1, isLarge);
        const int burstEnd = reach(1, isLarge);
        const auto busy = [&](int a, int b) {
            return largest(calmChange, std::max(a, shotStart + 1), std::min(b, n)) > burstShare * d;
        };
        const bool busyBefore =
            burstStart <= t - window + 1 || busy(t - window, std::min(t - 3, burstStart - 1));
        const bool busyAfter =
            burstEnd >= t + window - 1 || busy(std::max(t + 4, burstEnd + 2), t + window);
        // A burst on one side only whose steps this change outdoes by
        // shiftStandOut is the new shot moving from its first picture, or
        // the old one up to its last: a move that starts from rest does not
        // take its largest step first, nor one that comes to rest its last.
        const bool burstAfterOnly =
            largeBefore == 0 && d >= shiftStandOut * largest(change, t + 1, burstEnd + 1);
        const bool burstBeforeOnly =
            largeAfter == 0 && d >= shiftStandOut * largest(change, burstStart, t);
        if (((largeBefore > 0 && largeAfter > 0 && !busyBefore && !busyAfter) ||
             (largeBefore == 2 && !busyBefore && !burstBeforeOnly) ||
             (largeAfter == 2 && !busyAfter && !burstAfterOnly) ||
             (isLarge(t - 1) && isLarge(t + 1) &&
              d < shiftStandOut * std::max(change[size_t(t - 1)], change[size_t(t + 1)]))) &&
            !steadyNewColours(t, from, to, activity) && !unseenCut())
            continue;
        // One such neighbour beside a cut is a blend or a flash only where
        // the pictures after bring new colours; otherwise the camera moves
        // over one scene (a whip pan, a zoom, a tumble).
        if ((isLarge(t - 1) || isLarge(t + 1)) && !newColours(t, from, to, activity) &&
            !unseenCut())
            continue;
        // No move of the pictures just before explains the ones just after.
        const float across = crossing(t);
        // A small moved change counts only where moving explained much of
        // what the thumbnails saw change: pictures of flat colour all look
        // alike to them. The thumbnails see luma only and take fine texture
        // or noise for change: where the pictures after bring colours that
        // none before had, more than the shots' own pictures do, it is a cut
        // all the same. Where a move explains the change well, only if the
        // colours change at once and only there: a zoom or pan that ends
        // shows colours it had not shown over its last pictures. Not beside
        // a flash of light, whose changes are left out of the colours'.
        const bool wellExplained =
            withMotion && across < smallestMovedCut && across < explained * motion[size_t(t)].still;
        if (withMotion && (across < movedStandOut * activity(movedChange, 2) || wellExplained) &&
            !(wellExplained ? steadyNewColours(t, from, to, activity) && !isLight[size_t(t)] &&
                                  !isLight[size_t(t - 1)]
                            : newColours(t, from, to, activity)) &&
            !unseenCut())
            continue;
        // A flash: the pictures soon after it are like the one before it, or
        // the end of one: the picture after it is like those before it, the
        // colours coming back as well. Where the picture before is
        // itself a sudden change (a flash that began this shot), what comes
        // back must be like the one before that as well; a flash of light
        // is no return. Where only the colours tell a cut, or a picture
        // between is nearly all of one colour, the colours coming back will
        // do: a shape by the lens over a scene that changes all the time
        // hides some of its colours, then gives them back; one that covers
        // nearly all of the picture while the camera moves on shows nothing
        // else to compare.
        bool flash = false;
        bool covering = isFlat(grids[size_t(t)]);
        for (int k = 1; k <= flashLength && t + k < n && !flash; ++k) {
            const bool light = isLight[size_t(t + k)];
            const bool flat = isFlat(grids[size_t(t + k)]);
            const bool alike = !light && distanceOf(t - 1, t + k) < flashReturn * d &&
                               (change[size_t(t - 1)] < burstShare * d ||
                                distanceOf(t - 2, t + k) < flashReturn * d);
            flash = (alike || (!standsOut && !light) || (covering && !flat)) &&
                    gapOf(t - 1, t + k) < smallestColourJump;
            covering = covering || flat;
        }
        covering = isFlat(grids[size_t(t - 1)]);
        for (int k = 2; k <= flashLength + 1 && t - k >= shotStart && !flash; ++k) {
            const bool light = isLight[size_t(t - k)];
            const bool flat = isFlat(grids[size_t(t - k)]);
            const bool alike = !light && distanceOf(t - k, t) < flashReturn * d &&
                               (!lone(t - 1) || isLight[size_t(t - 1)]);
            flash = (alike || (!standsOut && !light) || (covering && !flat)) &&
                    gapOf(t - k, t) < smallestColourJump;
            covering = covering || flat;
        }
        if (!flash && isLight[size_t(t - 1)])
            flash = acrossLight(t - 1, -1);
        if (!flash && isLight[size_t(t)]) {
            const bool strobe = isLight[size_t(t - 2)] || isLight[size_t(t - 3)];
            flash = acrossLight(t, 1) && (strobe || acrossLight(t, -1));
        }
        if (flash)
            continue;
        // Something passing the lens is no measure of how busy its shot is,
        // nor of how much its colours change, for the changes after it.
        if (covered(t, shotStart) || shapeOnly(grids, t)) {
            calmChange[size_t(t)] = 0;
            movedChange[size_t(t)] = 0;
            colourChange[size_t(t)] = 0;
            continue;
        }
        // The camera come to rest where it was, at t or, its blur lingering,
        // at t + 1.
        if ((panStep(t) || ((isLarge(t - 1) || isLarge(t + 1)) &&
                            returns(t, t, t + int(isLarge(t + 1)), shotStart, returnShare * d))) &&
            !unseenCut())
            continue;
        // A whip pan out of a flat field, which no shift fits, looks like a
        // cut through blended pictures until the camera comes back. Where a
        // burst returns to the shot before the last cut, itself a burst,
        // both are the camera's: the last cut is undone; else each whip back
        // would start a shot and hide the next return.
        if (!tooClose && burstAt(t) && burstAt(cuts.back()) && t - cuts.back() <= returnLength &&
            returns(t, t, t + int(changing(t + 1)), cuts[cuts.size() - 2], returnShare * d) &&
            !unseenCut()) {
            cuts.pop_back();
            continue;
        }
        // Or where a run of changes ends, nearer than any cut: a whip back
        // over a smooth field, which no shift fits.
        if (runAfter > t && returns(t, runAfter, runAfter, shotStart, smallestCut) && !unseenCut())
            continue;
        if (tooClose)
            cuts.back() = t;
        else
            cuts.push_back(t);
    }
    cuts.push_back(n);

    // Gradual transitions: windows from a picture before to one after where
    // every picture between is a mix of the two ends (mixOf), going steadily
    // from the one to the other, far apart, while the pictures as long
    // before and after stay with their end (a scene that keeps changing the
    // same way is no transition) and no move explains the change.
    const auto transitionFits = [&](int before, int after) {
        const int length = after - before;
        const PictureGrid &from = grids[size_t(before)];
        const PictureGrid &to = grids[size_t(after)];
        const Normalised first = normalised(from);
        const Normalised last = normalised(to);
        const float net = distance(first, last);
        if (net < smallestCut)
            return 0.0f;
        int anyDirection = -1;
        const PictureGrid &half = grids[size_t(before + length / 2)];
        Mix middle = mixOf(from, to, half);
        if (middle.unexplained > mixLimit)
            middle = slideOf(from, to, half, anyDirection);
        if (middle.unexplained > mixLimit ||
            (middle.along >= 0 && (middle.along < mixMiddle || middle.along > 1 - mixMiddle)))
            return 0.0f;
        // A cut inside takes most of the way in one step; into or out of a
        // picture too dark for its grid to tell much, most of the light of
        // the end it goes towards (a fade through black dims and brightens
        // step by step, a cut to or from black at once).
        for (int p = before + 1; p <= after; ++p) {
            const float was = level[size_t(p - 1)];
            const float now = level[size_t(p)];
            const float towards = level[size_t(now > was ? after : before)];
            if (std::min(was, now) < darkLevel ? std::fabs(now - was) >= largestStep * towards
                                               : change[size_t(p)] >= largestStep * net)
                return 0.0f;
        }
        const int side = std::max(shortestGradual, int(float(length) * sideLength));
        if (before - side < 0 || after + side >= n ||
            std::max(distanceOf(before - side, before), distanceOf(after, after + side)) >
                calmSide * net)
            return 0.0f;
        // Each picture a mix, or each pushed in the same direction.
        const auto steady = [&](bool slides) {
            float along = 0;
            int direction = -1;
            // Through black (a picture too dark to say how far along it
            // is), a fade leaves the one end and takes up the other at once.
            bool dark = false;
            for (int p = before + 1; p < after; ++p) {
                const Mix mix = slides ? slideOf(from, to, grids[size_t(p)], direction)
                                       : mixOf(from, to, grids[size_t(p)]);
                if (mix.unexplained > mixLimit)
                    return false;
                if (mix.along < 0) {
                    dark = true;
                    continue;
                }
                if (mix.along < along - mixBack || (mix.along > along + mixStep && !dark))
                    return false;
                along = std::max(along, mix.along);
            }
            return along >= 1 - mixStep;
        };
        const bool slides = !steady(false);
        if (slides && !steady(true))
            return 0.0f;
        for (int k = 1; k <= side; ++k) {
            // Mixes of the ends a good way along, or a dissolve that goes on
            // beyond them.
            const Mix early = mixOf(from, to, grids[size_t(before - k)]);
            const Mix late = mixOf(from, to, grids[size_t(after + k)]);
            if ((early.unexplained <= sideLimit && early.along > sideAlong) ||
                (late.unexplained <= sideLimit && late.along >= 0 && late.along < 1 - sideAlong))
                return 0.0f;
            const Mix earlier = lineOf(from, to, grids[size_t(before - k)]);
            const Mix later = lineOf(from, to, grids[size_t(after + k)]);
            if ((earlier.unexplained <= sideLimit && earlier.along < -sideAlong) ||
                (later.unexplained <= sideLimit && later.along > 1 + sideAlong))
                return 0.0f;
        }
        if (withMotion && !slides) {
            float movedSum = 0;
            float stillSum = 0;
            for (int p = before + 1; p <= after; ++p) {
                movedSum += motion[size_t(p)].moved[0];
                stillSum += motion[size_t(p)].still;
            }
            if (movedSum < movedShare * stillSum)
                return 0.0f;
        }
        // A transition leaves its shot for good, for one of other colours:
        // a camera that moves to and fro over one scene, or something that
        // passes the lens again and again, comes back to what it showed and
        // keeps the scene's colours.
        if (colourGapBothWays(first, last) < transitionColours)
            return 0.0f;
        for (int k = 1; k <= returnLength; ++k)
            if ((after + k < n &&
                 distance(first, normalised(grids[size_t(after + k)])) < transitionReturn * net) ||
                (before - k >= 0 &&
                 distance(normalised(grids[size_t(before - k)]), last) < transitionReturn * net))
                return 0.0f;
        // Nor a zoom (one that stops on a still), the one end magnified.
        if (zoomResidual(from, to) < zoomExplains)
            return 0.0f;
        return net;
    };
    // Overlapping windows are one transition: the one that goes farthest,
    // the last of those (which starts where the change starts).
    struct Window {
        int before;
        int after;
        float net;
    };
    std::vector<Window> transitions;
    for (int before = 1; before < n; ++before) {
        for (const int length : windowLengths) {
            const int after = before + length;
            if (after >= n)
                break;
            const float net = transitionFits(before, after);
            if (net <= 0)
                continue;
            if (!transitions.empty() && before < transitions.back().after) {
                if (net >= transitions.back().net)
                    transitions.back() = {before, after, net};
            } else {
                transitions.push_back({before, after, net});
            }
        }
    }
    // A cut found inside a transition (taking less than largestStep of its
    // way, as all its pictures do) is one of its pictures.
    size_t next = 0;
    for (size_t c = 0; c + 1 < cuts.size(); ++c) {
        const int first = cuts[c];
        const int end = cuts[c + 1];
        bool inside = false;
        for (const Window &w : transitions)
            inside = inside || (first > w.before && first <= w.after);
        if (c > 0 && !inside)
            starts.push_back({first, 0});
        for (; next < transitions.size() && transitions[next].before < end; ++next) {
            const Window &w = transitions[next];
            if (w.before + 1 > first)
                starts.push_back({w.before + 1, w.after - w.before - 1});
        }
    }
    std::sort(starts.begin(), starts.end(),
              [](const ShotStart &x, const ShotStart &y) { return x.first < y.first; });
    starts.erase(
        std::unique(starts.begin(), starts.end(),
                    [](const ShotStart &x, const ShotStart &y) { return x.first == y.first; }),
        starts.end());
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
    std::vector<ShotStart> starts = detectShots(state.grids, state.motion);
    starts.push_back({n, 0});
    // With linear means the shot's colour is the mean of its pictures' light.
    const bool inLight = state.mean == ColourMean::Linear;
    const std::array<uint32_t, 256> &table = linearTable();
    for (size_t s = 0; s + 1 < starts.size(); ++s) {
        Shot shot;
        shot.first = starts[s].first;
        shot.last = starts[s + 1].first - 1;
        shot.gradual = starts[s].gradual;
        const double count = shot.last - shot.first + 1;
        double rgb[3] = {};
        std::array<double, 3> linear{};
        for (int i = shot.first; i <= shot.last; ++i) {
            const QRgb average = state.strips.average.colourAt(i, 0);
            const int channels[3] = {qRed(average), qGreen(average), qBlue(average)};
            for (int k = 0; k < 3; ++k)
                rgb[k] += inLight ? table[size_t(channels[k])] : channels[k];
            for (int k = 0; perceptual && k < 3; ++k)
                linear[size_t(k)] += state.linearMeans[size_t(i)][size_t(k)] / count;
        }
        if (inLight)
            shot.average = QColor(srgbLevel(rgb[0] / count / linearScale),
                                  srgbLevel(rgb[1] / count / linearScale),
                                  srgbLevel(rgb[2] / count / linearScale));
        else
            shot.average =
                QColor(int(std::lround(rgb[0] / count)), int(std::lround(rgb[1] / count)),
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
