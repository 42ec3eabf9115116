#include "analysis/versions.h"

#include "analysis/colourdifference.h"
#include "analysis/poster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <tuple>

// The versions are aligned in three steps. Shots whose durations agree (at
// the speed between the versions) and whose pictures are laid out alike become
// anchors; the heaviest chain of anchors in order in both versions, paying
// for each change of offset between the versions, keeps the true ones. Runs of
// anchors at one offset are the parts both versions share; each is then
// grown picture by picture up to where the pictures stop matching, which finds
// edits that fall within a shot.

namespace {

using Shape = VersionFilm::Shape;

// Pictures whose block lumas spread less than this (of 255) are flat: black,
// a fade's end, a plain title card.
constexpr double flatSpread = 2.0;
// A picture matches its partner from this likeness of their layouts on.
constexpr float matchLikeness = 0.75f;
// An anchor's shots must look this alike at each of their sample points on
// average.
constexpr float anchorLikeness = 0.8f;
// Key pictures less alike than this are taken for a cut.
constexpr float sampledCutLikeness = 0.5f;
// Plain pictures of the two versions match up to this colour difference
// (CIEDE2000): a regrade moves a colour by a few units, another card by tens.
constexpr double flatColourMatch = 20.0;
// Growth goes on over pictures that do not match (a flash, a whip pan, motion
// blur) for up to two pictures or this long (seconds), if matching resumes
// for as long.
constexpr double longestLapse = 1.0;
// Pictures of the two versions this close in time (seconds) show the same
// moment: about a picture.
constexpr double sameMoment = 0.05;
// Shots shorter than this (seconds) are no anchors: too many look alike.
constexpr double shortestAnchor = 1.0;
// What a change of offset costs in the chain, in seconds of anchored shots.
constexpr double offsetChangeCost = 1.0;
// Known ratios of running times between versions: the same speed, 24 <-> 25
// pictures per second sped up or slowed down, and NTSC's 1000/1001.
constexpr double knownSpeeds[] = {1.0,           24.0 / 25.0,     25.0 / 24.0,    1000.0 / 1001,
                                  1001.0 / 1000, 24000.0 / 25025, 25025.0 / 24000};

bool isFlat(const Shape &shape)
{
    return std::all_of(shape.begin(), shape.end(), [](float v) { return v == 0.0f; });
}

float likeness(const Shape &x, const Shape &y)
{
    const bool xFlat = isFlat(x), yFlat = isFlat(y);
    if (xFlat || yFlat)
        return xFlat && yFlat ? 1.0f : 0.0f;
    float dot = 0;
    for (size_t k = 0; k < x.size(); ++k)
        dot += x[k] * y[k];
    return dot;
}

double medianInterval(const VersionFilm &film)
{
    std::vector<double> steps;
    for (size_t i = 1; i < film.times.size(); ++i)
        steps.push_back(film.times[i] - film.times[i - 1]);
    if (steps.empty())
        return std::max(film.end - (film.times.empty() ? 0.0 : film.times[0]), 0.04);
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return std::max(steps[steps.size() / 2], 1e-3);
}

struct ShotSpan {
    int first = 0, last = 0;
    double start = 0, end = 0;
    std::array<int, 5> samples{}; // pictures at 10, 30, 50, 70 and 90% of it
    bool usable = false;          // long enough and not mostly flat
    double duration() const { return end - start; }
};

// Where shots begin. Between key pictures seconds apart every change is
// large, so the run's cut finder sees few cuts there; a key picture that
// looks unlike the one before starts a shot instead (encoders place key
// pictures at cuts).
std::vector<int> shotFirsts(const VersionFilm &film, bool sampled)
{
    if (!sampled)
        return film.shotFirsts;
    std::vector<int> firsts;
    for (size_t i = 1; i < film.shapes.size(); ++i)
        if (likeness(film.shapes[i - 1], film.shapes[i]) < sampledCutLikeness)
            firsts.push_back(int(i));
    return firsts;
}

std::vector<ShotSpan> shotSpans(const VersionFilm &film, const std::vector<int> &shotFirsts)
{
    std::vector<ShotSpan> spans;
    const int n = int(film.times.size());
    std::vector<int> firsts = shotFirsts;
    if (firsts.empty() || firsts[0] != 0)
        firsts.insert(firsts.begin(), 0);
    for (size_t s = 0; s < firsts.size() && n > 0; ++s) {
        ShotSpan span;
        span.first = firsts[s];
        span.last = s + 1 < firsts.size() ? firsts[s + 1] - 1 : n - 1;
        span.start = film.times[size_t(span.first)];
        span.end = span.last + 1 < n ? film.times[size_t(span.last + 1)] : film.end;
        int flat = 0;
        for (int k = 0; k < 5; ++k) {
            const double t = span.start + (0.1 + 0.2 * k) * span.duration();
            span.samples[size_t(k)] =
                std::clamp(nearestPicture(film.times, t), span.first, span.last);
            flat += isFlat(film.shapes[size_t(span.samples[size_t(k)])]);
        }
        span.usable = span.duration() >= shortestAnchor && flat < 3;
        spans.push_back(span);
    }
    return spans;
}

float shotLikeness(const VersionFilm &a, const ShotSpan &x, const VersionFilm &b, const ShotSpan &y)
{
    float sum = 0;
    for (size_t k = 0; k < 5; ++k)
        sum += likeness(a.shapes[size_t(x.samples[k])], b.shapes[size_t(y.samples[k])]);
    return sum / 5;
}

struct Anchor {
    int aShot = 0, bShot = 0;
    double aStart = 0, bStart = 0;
    double weight = 0;
};

// Appends the count heaviest of found to anchors.
void keepHeaviest(std::vector<Anchor> &found, size_t count, std::vector<Anchor> &anchors)
{
    std::sort(found.begin(), found.end(),
              [](const Anchor &p, const Anchor &q) { return p.weight > q.weight; });
    found.resize(std::min(found.size(), count));
    anchors.insert(anchors.end(), found.begin(), found.end());
}

// Shot pairs alike in layout whose durations agree at speed within tolerance
// (seconds, or relative).
std::vector<Anchor> anchorsAt(const VersionFilm &a, const std::vector<ShotSpan> &aShots,
                              const VersionFilm &b, const std::vector<ShotSpan> &bShots,
                              double speed, double tolerance, double relative)
{
    std::vector<std::pair<double, int>> byDuration; // a's shots, at b's speed
    for (size_t i = 0; i < aShots.size(); ++i)
        if (aShots[i].usable)
            byDuration.emplace_back(aShots[i].duration() * speed, int(i));
    std::sort(byDuration.begin(), byDuration.end());
    std::vector<Anchor> anchors;
    constexpr size_t perShot = 4;
    for (size_t j = 0; j < bShots.size(); ++j) {
        const ShotSpan &y = bShots[j];
        if (!y.usable)
            continue;
        const double slack = std::max(tolerance, relative * y.duration());
        auto it = std::lower_bound(byDuration.begin(), byDuration.end(),
                                   std::pair(y.duration() - slack, -1));
        std::vector<Anchor> found;
        for (; it != byDuration.end() && it->first <= y.duration() + slack; ++it) {
            const ShotSpan &x = aShots[size_t(it->second)];
            const float alike = shotLikeness(a, x, b, y);
            if (alike >= anchorLikeness)
                found.push_back({it->second, int(j), x.start, y.start,
                                 std::min(x.duration() * speed, y.duration()) * alike});
        }
        keepHeaviest(found, perShot, anchors);
    }
    return anchors;
}

// With some pictures only, durations between cuts rarely agree (a key
// picture within a moving shot may look like a cut in one version only):
// key pictures are matched instead, by their layouts, each to a few of the
// other version's. Those whose pictures before look alike too (both at a
// cut) weigh more; the pictures before are often not of one moment (another
// key picture within the shot before, a transition).
std::vector<Anchor> keyAnchors(const VersionFilm &a, const VersionFilm &b)
{
    std::vector<Anchor> anchors;
    constexpr size_t perPicture = 4;
    for (size_t j = 1; j < b.shapes.size(); ++j) {
        if (isFlat(b.shapes[j]))
            continue;
        std::vector<Anchor> found;
        for (size_t i = 1; i < a.shapes.size(); ++i) {
            const float after = likeness(a.shapes[i], b.shapes[j]);
            const bool before = likeness(a.shapes[i - 1], b.shapes[j - 1]) >= sampledCutLikeness;
            if (after >= anchorLikeness)
                found.push_back(
                    {int(i), int(j), a.times[i], b.times[j], (before ? 1.5 : 1.0) * after});
        }
        keepHeaviest(found, perPicture, anchors);
    }
    return anchors;
}

// The speeds b may run at against a: the known ones within 1% of any ratio
// of matched shots' durations, and the median ratio when none is near it. A
// pair cut differently in one version (a short shot split off at an edit) is
// a picture or two apart, some percent of a few seconds; among few shots the
// median may be such a one, so the chains decide.
std::vector<double> speedsBetween(const VersionFilm &a, const std::vector<ShotSpan> &aShots,
                                  const VersionFilm &b, const std::vector<ShotSpan> &bShots)
{
    const std::vector<Anchor> loose = anchorsAt(a, aShots, b, bShots, 1.0, 0.0, 0.07);
    std::vector<double> ratios;
    for (const Anchor &anchor : loose)
        if (aShots[size_t(anchor.aShot)].duration() >= 2.0)
            ratios.push_back(bShots[size_t(anchor.bShot)].duration() /
                             aShots[size_t(anchor.aShot)].duration());
    if (ratios.empty())
        return {1.0};
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    const double measured = ratios[ratios.size() / 2];
    const auto near = [](double known, double ratio) { return std::abs(known - ratio) < 0.01; };
    std::vector<double> speeds;
    for (double known : knownSpeeds)
        if (std::any_of(ratios.begin(), ratios.end(),
                        [&](double ratio) { return near(known, ratio); }))
            speeds.push_back(known);
    if (std::none_of(std::begin(knownSpeeds), std::end(knownSpeeds),
                     [&](double known) { return near(known, measured); }))
        speeds.push_back(measured);
    return speeds;
}

// The heaviest chain of anchors increasing in both versions.
std::vector<Anchor> heaviestChain(std::vector<Anchor> anchors, double speed, double tolerance)
{
    std::sort(anchors.begin(), anchors.end(), [](const Anchor &p, const Anchor &q) {
        return p.aShot != q.aShot ? p.aShot < q.aShot : p.bShot < q.bShot;
    });
    const size_t k = anchors.size();
    std::vector<double> best(k);
    std::vector<int> from(k, -1);
    for (size_t j = 0; j < k; ++j) {
        best[j] = anchors[j].weight;
        const double offset = anchors[j].bStart - speed * anchors[j].aStart;
        for (size_t i = 0; i < j; ++i) {
            if (anchors[i].aShot >= anchors[j].aShot || anchors[i].bShot >= anchors[j].bShot)
                continue;
            const double drift = 0.002 * (anchors[j].aStart - anchors[i].aStart);
            const bool kept = std::abs(anchors[i].bStart - speed * anchors[i].aStart - offset) <=
                              tolerance + drift;
            const double total = best[i] + anchors[j].weight - (kept ? 0.0 : offsetChangeCost);
            if (total > best[j]) {
                best[j] = total;
                from[j] = int(i);
            }
        }
    }
    std::vector<Anchor> chain;
    if (k == 0)
        return chain;
    for (int j = int(std::max_element(best.begin(), best.end()) - best.begin()); j >= 0;
         j = from[size_t(j)])
        chain.push_back(anchors[size_t(j)]);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// What heaviestChain maximises, of a chain.
double chainWeight(const std::vector<Anchor> &chain, double speed, double tolerance)
{
    double weight = 0;
    for (size_t j = 0; j < chain.size(); ++j) {
        weight += chain[j].weight;
        if (j > 0 && std::abs(chain[j].bStart - speed * chain[j].aStart -
                              (chain[j - 1].bStart - speed * chain[j - 1].aStart)) >
                         tolerance + 0.002 * (chain[j].aStart - chain[j - 1].aStart))
            weight -= offsetChangeCost;
    }
    return weight;
}

struct Region {
    int aFirst = 0, aLast = 0;
    double offset = 0;                  // b's time = speed * a's time + offset
    std::vector<double> aTimes, bTimes; // of its anchors, for fitting
};

double medianOffset(const Region &region, double speed)
{
    std::vector<double> offsets;
    for (size_t i = 0; i < region.aTimes.size(); ++i)
        offsets.push_back(region.bTimes[i] - speed * region.aTimes[i]);
    std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
    return offsets[offsets.size() / 2];
}

// The speed that fits the anchors of all regions best, each at its own
// offset; speed when too few. A known speed under which every anchor lies
// within tolerance of its region's offset is kept: a fit over a few shots
// found to a picture each wanders by a thousandth, as far as 1000/1001.
double fittedSpeed(const std::vector<Region> &regions, double speed, double tolerance)
{
    double across = 0, along = 0;
    for (const Region &region : regions) {
        const size_t n = region.aTimes.size();
        if (n < 2)
            continue;
        const double aMean = std::accumulate(region.aTimes.begin(), region.aTimes.end(), 0.0) / n;
        const double bMean = std::accumulate(region.bTimes.begin(), region.bTimes.end(), 0.0) / n;
        for (size_t i = 0; i < n; ++i) {
            across += (region.aTimes[i] - aMean) * (region.bTimes[i] - bMean);
            along += (region.aTimes[i] - aMean) * (region.aTimes[i] - aMean);
        }
    }
    if (along < 100.0) // under ten seconds of spread: keep the estimate
        return speed;
    const double fitted = across / along;
    const auto fits = [&](double known) {
        for (const Region &region : regions) {
            const double offset = medianOffset(region, known);
            for (size_t i = 0; i < region.aTimes.size(); ++i)
                if (std::abs(region.bTimes[i] - known * region.aTimes[i] - offset) > tolerance)
                    return false;
        }
        return true;
    };
    for (double known : knownSpeeds)
        if (std::abs(known - fitted) < 0.01 && fits(known))
            return known;
    for (double known : knownSpeeds)
        if (std::abs(known - fitted) < 2e-4)
            return known;
    return fitted;
}

struct Pairing {
    const VersionFilm &a;
    const VersionFilm &b;
    double speed;
    double tolerance; // how far a partner's time may lie from where it should
    double bStep;     // b's usual picture interval

    // b's picture shown with a's picture i at offset, or -1 when b has none
    // there.
    int partner(int i, double offset) const
    {
        const double t = speed * a.times[size_t(i)] + offset;
        const int j = nearestPicture(b.times, t);
        return std::abs(b.times[size_t(j)] - t) <= tolerance ? j : -1;
    }
    bool matches(int i, double offset) const
    {
        const int j = partner(i, offset);
        if (j < 0 || likeness(a.shapes[size_t(i)], b.shapes[size_t(j)]) < matchLikeness)
            return false;
        // Plain pictures have no layout to tell them apart: a black one
        // matches a black one, not a red card.
        return !isFlat(a.shapes[size_t(i)]) ||
               deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)]) <= flatColourMatch;
    }
    // A plain picture against one with a faint layout of about its colour (a
    // grade or an encoder lifts a picture's spread across the line): neither
    // for nor against an offset.
    bool undecided(int i, double offset) const
    {
        const int j = partner(i, offset);
        return j >= 0 && isFlat(a.shapes[size_t(i)]) != isFlat(b.shapes[size_t(j)]) &&
               deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)]) <= flatColourMatch;
    }
};

// How far region can grow one way (step +1 or -1) up to limit (included): up
// to the last picture that matches, over lapses of at most two pictures or
// longestLapse.
int grown(const Pairing &pairing, const Region &region, int from, int step, int limit)
{
    int reached = from, edge = from;
    int misses = 0, streak = 0;
    for (int i = from + step; step > 0 ? i <= limit : i >= limit; i += step) {
        if (pairing.partner(i, region.offset) < 0)
            break;
        if (pairing.undecided(i, region.offset)) {
            // Up to two of them right at the edge go with it: nothing says
            // otherwise.
            if (misses == 0 && std::abs(i - reached) <= 2)
                edge = i;
            continue;
        }
        if (pairing.matches(i, region.offset)) {
            // After a longer lapse, matching has resumed only once it holds
            // for as long as the lapse: chance likenesses do not.
            if (misses <= 2 || ++streak >= misses) {
                reached = edge = i;
                misses = streak = 0;
            }
        } else {
            streak = 0;
            if (++misses > 2 && std::abs(pairing.a.times[size_t(i)] -
                                         pairing.a.times[size_t(reached)]) > longestLapse)
                break;
        }
    }
    return edge;
}

// Where a's pictures first to last (a gap between regions) show b's pictures
// from bFrom to bTo (seconds) at one offset, over a run of matching pictures
// long enough and crossing one of a's cuts, so that no other offset fits it
// as well (a still shot matches itself at many); none when none does. Kept
// parts shorter than a whole shot or whose shots were cut differently get no
// anchor, but such a run ties them down.
std::optional<Region> seedIn(const Pairing &pairing, const std::vector<int> &aFirsts, int first,
                             int last, double bFrom, double bTo, double shortest)
{
    const VersionFilm &a = pairing.a, &b = pairing.b;
    if (last < first || a.times[size_t(last)] - a.times[size_t(first)] < shortest ||
        bTo - bFrom < shortest)
        return std::nullopt;
    const int bLow = int(std::lower_bound(b.times.begin(), b.times.end(), bFrom) - b.times.begin());
    const int bHigh =
        int(std::upper_bound(b.times.begin(), b.times.end(), bTo) - b.times.begin()) - 1;
    const int aCount = last - first + 1, bCount = bHigh - bLow + 1;
    // Beyond this many pairs of pictures a gap is left to growth alone.
    constexpr double mostPairs = 4e7;
    if (bCount <= 0 || double(aCount) * double(bCount + aCount) > mostPairs)
        return std::nullopt;
    std::optional<Region> best;
    double bestLength = 0;
    for (int j = bLow - aCount; j <= bHigh; ++j) {
        // a's first picture of the gap shown with b's picture j (or where it
        // would be, before b's gap).
        const double offset =
            (j >= bLow ? b.times[size_t(j)] : b.times[size_t(bLow)] - (bLow - j) * pairing.bStep) -
            pairing.speed * a.times[size_t(first)];
        int runFirst = -1, reached = -1, misses = 0;
        const auto close = [&] {
            if (runFirst < 0)
                return;
            const double length = a.times[size_t(reached)] - a.times[size_t(runFirst)];
            const bool crossesCut = std::upper_bound(aFirsts.begin(), aFirsts.end(), runFirst) !=
                                    std::upper_bound(aFirsts.begin(), aFirsts.end(), reached);
            if (length >= shortest && crossesCut && length > bestLength) {
                bestLength = length;
                best = Region{runFirst, reached, offset, {}, {}};
            }
            runFirst = -1;
            misses = 0;
        };
        for (int i = first; i <= last; ++i) {
            const int partner = pairing.partner(i, offset);
            if (partner < bLow || partner > bHigh) {
                close();
                continue;
            }
            // A plain picture tells no offset from another.
            if (isFlat(a.shapes[size_t(i)]) || pairing.undecided(i, offset))
                continue;
            if (pairing.matches(i, offset)) {
                if (runFirst < 0)
                    runFirst = i;
                reached = i;
                misses = 0;
            } else if (runFirst >= 0 && ++misses > 2) {
                close();
            }
        }
        close();
    }
    return best;
}

// A segment's colour difference from its aligned pictures' (0 for none):
// their mean and 95th percentile.
void setDifferences(VersionSegment &segment, std::vector<float> differences)
{
    if (differences.empty())
        return;
    segment.deMean =
        std::accumulate(differences.begin(), differences.end(), 0.0) / double(differences.size());
    const size_t k = size_t(std::ceil(0.95 * double(differences.size()))) - 1;
    std::nth_element(differences.begin(), differences.begin() + k, differences.end());
    segment.deP95 = differences[k];
}

// A segment's picture numbers: the pictures of times within [start, end), or
// -1 for both when none falls there (key pictures seconds apart).
std::pair<int, int> picturesWithin(const std::vector<double> &times, double start, double end)
{
    constexpr double half = sameMoment / 2;
    const int first =
        int(std::lower_bound(times.begin(), times.end(), start - half) - times.begin());
    const int last =
        int(std::lower_bound(times.begin(), times.end(), end - half) - times.begin()) - 1;
    return last < first ? std::pair(-1, -1) : std::pair(first, last);
}

// With key pictures only, the versions are two sparse series of pictures,
// mostly at cuts (encoders place key pictures there) and some seconds apart
// within shots. Parts both share are runs of anchors at one offset; an edit
// between two parts is a cut in b, so it is placed at one of b's key
// pictures between their anchors (what b inserts spans two of them its length
// apart, or one and its length), where the pictures around it agree best with
// the parts they fall in; halfway when b has none there.
VersionAlignment keyAligned(const VersionFilm &a, const VersionFilm &b, std::vector<Region> regions,
                            double speed, double tolerance, const std::vector<int> &aFirsts)
{
    VersionAlignment result;
    const int na = int(a.times.size());
    result.partner.assign(size_t(na), -1);
    result.difference.assign(size_t(na), -1.0f);
    result.speed = speed;
    // Laid out alike at least this much; plain pictures also of like colours.
    const auto alikeBy = [&](size_t i, size_t j, float least) {
        if (likeness(a.shapes[i], b.shapes[j]) < least)
            return false;
        return !isFlat(a.shapes[i]) || deltaE2000(a.labs[i], b.labs[j]) <= flatColourMatch;
    };
    const auto alike = [&](int i, int j) { return alikeBy(size_t(i), size_t(j), matchLikeness); };
    if (regions.empty() && alike(0, 0))
        regions.push_back({0, 0, b.times[0] - speed * a.times[0], {a.times[0]}, {b.times[0]}});
    // b's key picture j fits offset when a's picture shown at that moment
    // (a's latest key picture) looks like it: the same shot, or one alike.
    const auto fits = [&](int j, double offset) {
        const double t = (b.times[size_t(j)] - offset) / speed;
        const auto shown = std::upper_bound(a.times.begin(), a.times.end(), t + tolerance / speed);
        if (shown == a.times.begin() || t > a.end)
            return false;
        return alikeBy(size_t(shown - a.times.begin()) - 1, size_t(j), sampledCutLikeness);
    };
    const auto bIndex = [&](double t) { return nearestPicture(b.times, t); };
    // Neighbours at one offset are one part; a part whose anchors all fit a
    // neighbour's offset as well (b's picture after an edit within a's shot
    // matches that shot's start) tells nothing of its own.
    for (size_t r = 0; r < regions.size();) {
        const auto redundant = [&](size_t n) {
            return std::all_of(regions[r].bTimes.begin(), regions[r].bTimes.end(),
                               [&](double t) { return fits(bIndex(t), regions[n].offset); });
        };
        if (r > 0 && std::abs(regions[r].offset - regions[r - 1].offset) <= tolerance) {
            Region &kept = regions[r - 1];
            kept.aTimes.insert(kept.aTimes.end(), regions[r].aTimes.begin(),
                               regions[r].aTimes.end());
            kept.bTimes.insert(kept.bTimes.end(), regions[r].bTimes.begin(),
                               regions[r].bTimes.end());
            kept.offset = medianOffset(kept, speed);
            regions.erase(regions.begin() + std::ptrdiff_t(r));
        } else if (regions.size() > 1 && regions[r].aTimes.size() == 1 &&
                   ((r > 0 && redundant(r - 1)) || (r + 1 < regions.size() && redundant(r + 1)))) {
            regions.erase(regions.begin() + std::ptrdiff_t(r));
            r = r > 0 ? r - 1 : 0;
        } else {
            ++r;
        }
    }

    struct Part {
        double offset = 0;
        double aStart = 0, aEnd = 0, bStart = 0, bEnd = 0;
    };
    std::vector<Part> parts;
    for (const Region &region : regions)
        parts.push_back({region.offset});
    // Key pictures i of a and j of b shown at one moment at offset, alike.
    const auto together = [&](int i, int j, double offset) {
        return std::abs(speed * a.times[size_t(i)] + offset - b.times[size_t(j)]) <= tolerance &&
               alike(i, j);
    };
    // b's key picture j meets one of a's at offset.
    const auto meets = [&](int j, double offset) {
        return together(nearestPicture(a.times, (b.times[size_t(j)] - offset) / speed), j, offset);
    };
    // a's cut at picture i has its like in b at offset.
    const auto aMeets = [&](int i, double offset) {
        return together(i, nearestPicture(b.times, speed * a.times[size_t(i)] + offset), offset);
    };
    // Encoders place a key picture at each cut and at least once in so
    // long: b's longest interval between key pictures. One that long after
    // the one before marks no cut.
    double period = 0;
    for (size_t j = 1; j < b.times.size(); ++j)
        period = std::max(period, b.times[j] - b.times[j - 1]);
    for (size_t r = 1; r < parts.size(); ++r) {
        Part &p = parts[r - 1], &q = parts[r];
        // The edit at x in b's time: b's pictures from x to x + added are
        // new, a's from (x - p.offset) / speed to (x + added - q.offset) /
        // speed are gone. Between the two parts' anchors, each of b's key
        // pictures should fit the part it falls in (and not meet the other;
        // at a cut, meet its own), or neither when inserted; each of a's
        // cuts should meet b in the part it falls in, or fall where a lost
        // pictures. The x that leaves least unexplained is taken.
        const double added = std::max(q.offset - p.offset, 0.0);
        const double from = regions[r - 1].bTimes.back(), to = regions[r].bTimes.front();
        const int bLow = bIndex(from), bHigh = bIndex(to);
        struct Key {
            double time;
            bool cut, fits[2], meets[2];
        };
        std::vector<Key> keys;
        for (int j = bLow; j <= bHigh; ++j)
            keys.push_back(
                {b.times[size_t(j)],
                 j > 0 && b.times[size_t(j)] - b.times[size_t(j) - 1] < period - tolerance,
                 {fits(j, p.offset), fits(j, q.offset)},
                 {meets(j, p.offset), meets(j, q.offset)}});
        struct Cut {
            double time;
            bool meets[2];
        };
        std::vector<Cut> cuts;
        for (int first : aFirsts) {
            const double t = a.times[size_t(first)];
            if (t > regions[r - 1].aTimes.back() && t < regions[r].aTimes.front())
                cuts.push_back({t, {aMeets(first, p.offset), aMeets(first, q.offset)}});
        }
        const auto cost = [&](double x) {
            double sum = 0;
            for (const Key &key : keys)
                if (key.time < x - tolerance)
                    sum += !key.fits[0] + (key.cut && !key.meets[0]) + 2.0 * key.meets[1];
                else if (key.time >= x + added - tolerance)
                    sum += !key.fits[1] + (key.cut && !key.meets[1]) + 2.0 * key.meets[0];
                else // inserted: a chance likeness now and then
                    sum +=
                        0.5 * (key.fits[0] || key.fits[1]) + 2.0 * (key.meets[0] || key.meets[1]);
            const double aEnd = (x - p.offset) / speed, aStart = (x + added - q.offset) / speed;
            for (const Cut &cut : cuts)
                if (cut.time < aEnd - tolerance)
                    sum += !cut.meets[0];
                else if (cut.time >= aStart - tolerance)
                    sum += !cut.meets[1];
            return sum;
        };
        const auto onKey = [&](double x) {
            return int(std::any_of(keys.begin(), keys.end(), [&](const Key &key) {
                return std::abs(key.time - x) <= tolerance;
            }));
        };
        double x = (from + to - added) / 2, least = -1;
        int most = 0;
        for (const Key &key : keys)
            for (double candidate : {key.time, key.time - added}) {
                if (candidate < from - tolerance || candidate + added > to + tolerance)
                    continue;
                const double c = cost(candidate);
                const int ends = onKey(candidate) + (added > 0 ? onKey(candidate + added) : 0);
                if (least < 0 || c < least - 1e-9 ||
                    (c < least + 1e-9 && (ends > most || (ends == most && candidate < x)))) {
                    least = c;
                    most = ends;
                    x = candidate;
                }
            }
        p.bEnd = x;
        p.aEnd = (x - p.offset) / speed;
        q.bStart = x + added;
        q.aStart = (x + added - q.offset) / speed;
    }
    if (!parts.empty()) {
        Part &first = parts.front(), &last = parts.back();
        first.aStart = std::max(a.times[0], (b.times[0] - first.offset) / speed);
        first.bStart = speed * first.aStart + first.offset;
        last.aEnd = std::min(a.end, (b.end - last.offset) / speed);
        last.bEnd = speed * last.aEnd + last.offset;
    }

    double aTime = a.times[0], bTime = b.times[0];
    const auto gaps = [&](double aUntil, double bUntil) {
        if (aUntil - aTime > tolerance) {
            const auto [first, last] = picturesWithin(a.times, aTime, aUntil);
            result.segments.push_back(
                {VersionSegment::Removed, first, last, -1, -1, aTime, aUntil, -1, -1});
        }
        if (bUntil - bTime > tolerance) {
            const auto [first, last] = picturesWithin(b.times, bTime, bUntil);
            result.segments.push_back(
                {VersionSegment::Inserted, -1, -1, first, last, -1, -1, bTime, bUntil});
        }
    };
    for (const Part &part : parts) {
        gaps(part.aStart, part.bStart);
        VersionSegment same{VersionSegment::Same};
        std::tie(same.aFirst, same.aLast) = picturesWithin(a.times, part.aStart, part.aEnd);
        std::tie(same.bFirst, same.bLast) = picturesWithin(b.times, part.bStart, part.bEnd);
        same.aStart = part.aStart;
        same.aEnd = part.aEnd;
        same.bStart = part.bStart;
        same.bEnd = part.bEnd;
        // Colours are compared where both versions have a picture at one
        // moment (at cuts), unless they never do.
        std::vector<float> differences, met;
        for (int i = same.aFirst; i >= 0 && i <= same.aLast; ++i) {
            const double t = speed * a.times[size_t(i)] + part.offset;
            const int j = nearestPicture(b.times, t);
            const float difference = float(deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)]));
            result.partner[size_t(i)] = j;
            result.difference[size_t(i)] = difference;
            differences.push_back(difference);
            if (std::abs(b.times[size_t(j)] - t) <= sameMoment)
                met.push_back(difference);
        }
        // A part shorter than a's key picture interval: b's pictures in it.
        for (int j = same.bFirst; differences.empty() && j >= 0 && j <= same.bLast; ++j) {
            const int i = nearestPicture(a.times, (b.times[size_t(j)] - part.offset) / speed);
            differences.push_back(float(deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)])));
        }
        setDifferences(same, met.empty() ? std::move(differences) : std::move(met));
        result.segments.push_back(same);
        aTime = part.aEnd;
        bTime = part.bEnd;
    }
    gaps(a.end, b.end);
    return result;
}

} // namespace

VersionFilm::Shape shapeOf(const PictureGrid &grid)
{
    constexpr int half = PictureGrid::side / 2;
    Shape shape{};
    for (int y = 0; y < PictureGrid::side; ++y)
        for (int x = 0; x < PictureGrid::side; ++x) {
            const auto &rgb = grid.means[size_t(y * PictureGrid::side + x)];
            shape[size_t((y / 2) * half + x / 2)] +=
                float(0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]) / 4.0f;
        }
    float mean = 0;
    for (float v : shape)
        mean += v / float(shape.size());
    float squares = 0;
    for (float &v : shape) {
        v -= mean;
        squares += v * v;
    }
    const float spread = std::sqrt(squares / float(shape.size()));
    if (spread < flatSpread)
        return Shape{};
    const float length = std::sqrt(squares);
    for (float &v : shape)
        v /= length;
    return shape;
}

VersionAlignment alignVersions(const VersionFilm &a, const VersionFilm &b)
{
    VersionAlignment result;
    const int na = int(a.times.size()), nb = int(b.times.size());
    result.partner.assign(size_t(na), -1);
    result.difference.assign(size_t(na), -1.0f);
    if (na == 0 || nb == 0) {
        if (na > 0)
            result.segments.push_back({VersionSegment::Removed, 0, na - 1, -1, -1});
        if (nb > 0)
            result.segments.push_back({VersionSegment::Inserted, -1, -1, 0, nb - 1});
        return result;
    }
    const double aStep = medianInterval(a), bStep = medianInterval(b);
    // Pictures further apart than this are a sample (key pictures).
    const bool sampled = std::max(aStep, bStep) > 0.1;
    const std::vector<int> aFirsts = shotFirsts(a, sampled), bFirsts = shotFirsts(b, sampled);
    const std::vector<ShotSpan> aShots = shotSpans(a, aFirsts), bShots = shotSpans(b, bFirsts);
    // Speeds a thousandth apart look alike in one shot's duration but not
    // over minutes: the speed whose chain weighs most is taken.
    double speed = 1.0, tolerance = 0.0, heaviest = -1.0;
    std::vector<Anchor> chain;
    for (double candidate : speedsBetween(a, aShots, b, bShots)) {
        // Cuts are found to a picture in each version, or to where an
        // encoder placed a key picture (three pictures at 24 per second).
        const double within = sampled ? 0.125 : 1.5 * std::max(candidate * aStep, bStep);
        std::vector<Anchor> found = heaviestChain(
            sampled ? keyAnchors(a, b) : anchorsAt(a, aShots, b, bShots, candidate, within, 0.01),
            candidate, within);
        const double weight = chainWeight(found, candidate, within);
        // The simpler speed (listed first) unless another's chain is clearly
        // heavier: a thousandth apart, both fit a short film.
        if (heaviest < 0 || weight > heaviest + offsetChangeCost) {
            heaviest = weight;
            speed = candidate;
            tolerance = within;
            chain = std::move(found);
        }
    }

    // With key pictures, an anchor is of pictures, not shots, and a region's
    // extent is found later.
    std::vector<Region> regions;
    double lastOffset = 0, lastStart = 0;
    for (const Anchor &anchor : chain) {
        const ShotSpan shot = sampled ? ShotSpan{} : aShots[size_t(anchor.aShot)];
        const double offset = anchor.bStart - speed * anchor.aStart;
        const double drift = 0.002 * (anchor.aStart - lastStart);
        if (regions.empty() || std::abs(offset - lastOffset) > tolerance + drift)
            regions.push_back({shot.first, 0, 0, {}, {}});
        Region &region = regions.back();
        region.aLast = shot.last;
        region.aTimes.push_back(anchor.aStart);
        region.bTimes.push_back(anchor.bStart);
        lastOffset = offset;
        lastStart = anchor.aStart;
    }
    speed = fittedSpeed(regions, speed, tolerance);
    result.speed = speed;
    for (Region &region : regions)
        region.offset = medianOffset(region, speed);
    if (sampled)
        return keyAligned(a, b, std::move(regions), speed, tolerance, aFirsts);

    // Grow each region over the pictures its anchors left out, towards its
    // neighbours' anchors.
    const Pairing pairing{a, b, speed, std::max(0.75 * bStep, 0.6 * speed * aStep), bStep};
    // What regions leave once grown, both versions at least a shot long,
    // is seeded from runs of matching pictures; each seed splits its gap.
    for (size_t r = 0; r <= regions.size();) {
        const int low = r == 0 ? 0 : regions[r - 1].aLast + 1;
        const int high = r == regions.size() ? na - 1 : regions[r].aFirst - 1;
        const int first =
            r == 0 ? 0 : grown(pairing, regions[r - 1], regions[r - 1].aLast, +1, high) + 1;
        const int last = r == regions.size()
                             ? na - 1
                             : grown(pairing, regions[r], regions[r].aFirst, -1, low) - 1;
        if (last < first) {
            ++r;
            continue;
        }
        const double bFrom =
            r == 0 ? b.times[0] : speed * a.times[size_t(first)] + regions[r - 1].offset;
        const double bTo =
            r == regions.size() ? b.end : speed * a.times[size_t(last)] + regions[r].offset;
        if (const std::optional<Region> seed =
                seedIn(pairing, aFirsts, first, last, bFrom, bTo, shortestAnchor))
            regions.insert(regions.begin() + std::ptrdiff_t(r), *seed); // then its gaps
        else
            ++r;
    }
    // A region's offset comes from a few cuts, each found to a picture in
    // each version (later in one whose frame rate changed, or within a
    // transition), or from a seed at whole pictures of b: the offset within
    // two pictures either way under which its pictures look most alike is
    // kept. Steps of an eighth of a picture: after a change of frame rate
    // the pairs of nearest pictures change between offsets closer than half
    // a picture, and colours differ with them in a moving shot.
    for (Region &region : regions) {
        const auto alike = [&](double offset) {
            double sum = 0;
            for (int i = region.aFirst; i <= region.aLast; ++i) {
                const int j = pairing.partner(i, offset);
                sum += j < 0 ? 0.0 : likeness(a.shapes[size_t(i)], b.shapes[size_t(j)]);
            }
            return sum;
        };
        const double from = region.offset;
        double most = alike(from);
        for (int k = -16; k <= 16; ++k) {
            const double sum = alike(from + 0.125 * k * bStep);
            if (sum > most + 1e-3 * (region.aLast - region.aFirst + 1)) {
                most = sum;
                region.offset = from + 0.125 * k * bStep;
            }
        }
    }
    // A film too short for a shot to match, or one that is a single flat
    // shot, still pairs from its start when the starts match.
    if (regions.empty()) {
        Region start{0, 0, b.times[0] - speed * a.times[0], {a.times[0]}, {b.times[0]}};
        if (pairing.matches(0, start.offset))
            regions.push_back(std::move(start));
    }

    // A cut is found a picture or two off in one version: an anchored
    // shot's edge picture that matches its neighbour's part instead is left
    // to that part.
    for (size_t r = 0; r < regions.size(); ++r) {
        Region &region = regions[r];
        const auto theirs = [&](int i, size_t other) {
            return !pairing.matches(i, region.offset) && pairing.matches(i, regions[other].offset);
        };
        for (int k = 0;
             k < 2 && r > 0 && region.aFirst < region.aLast && theirs(region.aFirst, r - 1); ++k)
            ++region.aFirst;
        for (int k = 0; k < 2 && r + 1 < regions.size() && region.aFirst < region.aLast &&
                        theirs(region.aLast, r + 1);
             ++k)
            --region.aLast;
    }
    std::vector<std::pair<int, int>> spans;
    for (size_t r = 0; r < regions.size(); ++r) {
        const int low = r == 0 ? 0 : regions[r - 1].aLast + 1;
        const int high = r + 1 == regions.size() ? na - 1 : regions[r + 1].aFirst - 1;
        spans.emplace_back(grown(pairing, regions[r], regions[r].aFirst, -1, low),
                           grown(pairing, regions[r], regions[r].aLast, +1, high));
    }
    // Where two grew into each other (a still stretch, or a shot that goes
    // on across the edit in one version), the edit falls where most pictures
    // match their own region's partner; halfway among equals.
    for (size_t r = 1; r < spans.size(); ++r) {
        const int low = spans[r].first, high = spans[r - 1].second;
        if (low > high)
            continue;
        // The score of each split (after low - 1 ... after high), relative.
        // A match counts as alike as its pictures are.
        const auto evidence = [&](int i, const Region &region) {
            return pairing.matches(i, region.offset)
                       ? double(likeness(a.shapes[size_t(i)],
                                         b.shapes[size_t(pairing.partner(i, region.offset))]))
                       : 0.0;
        };
        std::vector<double> scores(size_t(high - low + 2), 0.0);
        for (int i = low; i <= high; ++i)
            scores[0] += evidence(i, regions[r]);
        for (int i = low; i <= high; ++i)
            scores[size_t(i - low + 1)] =
                scores[size_t(i - low)] + evidence(i, regions[r - 1]) - evidence(i, regions[r]);
        const double best = *std::max_element(scores.begin(), scores.end());
        std::vector<int> bests;
        for (size_t k = 0; k < scores.size(); ++k)
            if (scores[k] >= best - 1e-3)
                bests.push_back(low - 1 + int(k));
        const int split = bests[bests.size() / 2];
        spans[r - 1].second = split;
        spans[r].first = split + 1;
    }
    // Neighbours a picture's rounding apart in offset (a seed's, or another
    // frame rate's) are one part: no edit of a picture between them.
    for (size_t r = 1; r < spans.size();)
        if (spans[r].first == spans[r - 1].second + 1 &&
            std::abs(regions[r].offset - regions[r - 1].offset) <= tolerance) {
            const bool longer =
                spans[r].second - spans[r].first > spans[r - 1].second - spans[r - 1].first;
            if (longer)
                regions[r - 1].offset = regions[r].offset;
            spans[r - 1].second = spans[r].second;
            spans.erase(spans.begin() + std::ptrdiff_t(r));
            regions.erase(regions.begin() + std::ptrdiff_t(r));
        } else {
            ++r;
        }

    // A plain picture taken at a part's edge yields when its partner is
    // another part's too.
    for (size_t r = 1; r < spans.size(); ++r) {
        auto &[first, last] = spans[r];
        auto &[previousFirst, previousLast] = spans[r - 1];
        const auto partner = [&](int i, size_t k) { return pairing.partner(i, regions[k].offset); };
        while (first < last && pairing.undecided(first, regions[r].offset) &&
               partner(first, r) <= partner(previousLast, r - 1))
            ++first;
        while (previousLast > previousFirst &&
               pairing.undecided(previousLast, regions[r - 1].offset) && partner(first, r) >= 0 &&
               partner(previousLast, r - 1) >= partner(first, r))
            --previousLast;
    }

    // Layouts tell offsets apart to an eighth of a picture; which of b's
    // pictures a's falls nearest changes within that after a change of
    // frame rate, and in a flickering or moving shot the colours with it.
    // Within an eighth either way, the pairs alike in colour are the true
    // ones: a grade moves all alike.
    for (size_t r = 0; r < regions.size(); ++r) {
        const auto [first, last] = spans[r];
        const double from = regions[r].offset;
        std::array<double, 17> sums{};
        for (int i = first; i <= last; ++i) {
            // A picture's partner changes at one or two of the offsets.
            int partner = -1;
            double difference = 0;
            for (size_t k = 0; k < sums.size(); ++k) {
                const double offset = from + (int(k) - 8) * bStep / 64;
                const int j = nearestPicture(b.times, speed * a.times[size_t(i)] + offset);
                if (j != partner) {
                    partner = j;
                    difference = deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)]);
                }
                sums[k] += difference;
            }
        }
        double least = std::numeric_limits<double>::max();
        for (size_t k = 0; k < sums.size(); ++k)
            if (sums[k] < least - 1e-6) {
                least = sums[k];
                regions[r].offset = from + (int(k) - 8) * bStep / 64;
            }
    }

    const auto aEndOf = [&](int i) { return i + 1 < na ? a.times[size_t(i) + 1] : a.end; };
    const auto bEndOf = [&](int j) { return j + 1 < nb ? b.times[size_t(j) + 1] : b.end; };

    int aNext = 0, bNext = 0;
    double aTime = a.times[0], bTime = b.times[0];
    const auto gaps = [&](int aUpTo, int bUpTo, double aUntil, double bUntil) {
        if (aNext < aUpTo)
            result.segments.push_back(
                {VersionSegment::Removed, aNext, aUpTo - 1, -1, -1, aTime, aUntil, -1, -1});
        if (bNext < bUpTo)
            result.segments.push_back(
                {VersionSegment::Inserted, -1, -1, bNext, bUpTo - 1, -1, -1, bTime, bUntil});
    };
    for (size_t r = 0; r < regions.size(); ++r) {
        const auto [first, last] = spans[r];
        const double offset = regions[r].offset;
        VersionSegment same{VersionSegment::Same, first, last};
        std::vector<float> differences;
        for (int i = first; i <= last; ++i) {
            const double t = speed * a.times[size_t(i)] + offset;
            const int j = nearestPicture(b.times, t);
            result.partner[size_t(i)] = j;
            const float difference = float(deltaE2000(a.labs[size_t(i)], b.labs[size_t(j)]));
            result.difference[size_t(i)] = difference;
            differences.push_back(difference);
        }
        same.bFirst = std::max(result.partner[size_t(first)], bNext);
        same.bLast = std::max(result.partner[size_t(last)], same.bFirst);
        same.aStart = a.times[size_t(first)];
        same.aEnd = aEndOf(last);
        same.bStart = b.times[size_t(same.bFirst)];
        same.bEnd = bEndOf(same.bLast);
        if (r > 0) {
            same.aStart = std::max(same.aStart, aTime);
            same.bStart = std::max(same.bStart, bTime);
        }
        gaps(first, same.bFirst, same.aStart, same.bStart);
        setDifferences(same, std::move(differences));
        result.segments.push_back(same);
        aNext = last + 1;
        bNext = std::max(bNext, same.bLast + 1);
        aTime = same.aEnd;
        bTime = same.bEnd;
    }
    gaps(na, nb, a.end, b.end);
    return result;
}
