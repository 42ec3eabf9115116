// What showing one picture of a run costs: opening a second reader and
// seeking it to a picture near the start and near the end of a long file,
// each the last picture before a key picture (the most decoding a seek can
// need). The cost should not grow with the picture's place in the file.
// Then stepping one picture forward (decoded on) and back (sought).
//
//   bench_seek FILE [REPEATS]   (see bench/seek-picture, which makes FILE)
#include "video/framesource.h"
#include "video/framesourceseek.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double milliseconds(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Seeks a fresh reader's picture at time, repeats times; prints the median
// and the slowest, and whether the picture found is the one asked for.
bool measure(const char *path, const char *what, double time, int repeats)
{
    std::vector<double> costs;
    double found = -1;
    for (int i = 0; i < repeats; ++i) {
        FrameSourcePtr source = openFrameSource(path);
        if (!source)
            return false;
        QElapsedTimer timer;
        timer.start();
        if (seekPicture(source.get(), time) != FrameReady)
            return false;
        costs.push_back(milliseconds(timer));
        found = currentPictureTime(source.get());
    }
    std::sort(costs.begin(), costs.end());
    std::printf("%-28s at %9.3f s: median %7.1f ms, slowest %7.1f ms (found %.3f s)\n", what, time,
                costs[costs.size() / 2], costs.back(), found);
    return std::abs(found - time) < 1e-3;
}

// Steps one reader picture by picture from start, count times each way:
// forward (reading on) and backward (each a seek to the key picture before);
// prints the median of each and their ratio.
bool measureSteps(const char *path, double start, double interval, int count)
{
    FrameSourcePtr source = openFrameSource(path);
    if (!source || seekPicture(source.get(), start) != FrameReady)
        return false;
    bool right = true;
    std::vector<double> costs[2];
    for (const int direction : {1, -1}) {
        for (int i = 1; i <= count; ++i) {
            const double time = start + direction * i * interval;
            QElapsedTimer timer;
            timer.start();
            right &= seekPicture(source.get(), time) == FrameReady;
            costs[direction < 0].push_back(milliseconds(timer));
            right &= std::abs(currentPictureTime(source.get()) - time) < 1e-3;
        }
        // Back where the steps started, for the other way.
        right &= seekPicture(source.get(), start) == FrameReady;
        std::sort(costs[direction < 0].begin(), costs[direction < 0].end());
    }
    const double forward = costs[0][costs[0].size() / 2], backward = costs[1][costs[1].size() / 2];
    std::printf("%d steps from %9.3f s: forward median %7.1f ms, backward %7.1f ms (%.0fx)\n",
                count, start, forward, backward, backward / forward);
    return right;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_seek FILE [REPEATS]\n");
        return 2;
    }
    quietVideoLibraries(true);
    const char *path = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    std::string why;
    QElapsedTimer timer;
    timer.start();
    FrameSourcePtr source = openFrameSource(path, {}, &why);
    if (!source) {
        std::fprintf(stderr, "bench_seek: %s\n", why.c_str());
        return 1;
    }
    std::printf("open: %.1f ms, %dx%d\n", milliseconds(timer), outputWidth(source.get()),
                outputHeight(source.get()));
    // The first two pictures give the interval; pictures are evenly spaced.
    FrameStatus status;
    while ((status = readFrame(source.get())) != FrameReady && status != EndOfStream) {
    }
    const double first = currentPictureTime(source.get());
    const double interval = currentPictureDuration(source.get());
    const double end = streamDuration(source.get());
    if (status != FrameReady || interval <= 0 || end <= 0) {
        std::fprintf(stderr, "bench_seek: no picture times in %s\n", path);
        return 1;
    }
    const double keyInterval = 10.0; // as bench/seek-picture makes the file
    const auto pictureBefore = [&](double keyTime) {
        return first + std::round((keyTime - first) / interval - 1) * interval;
    };
    const double lastKey = std::floor((end - interval - first) / keyInterval) * keyInterval;
    bool right = measure(path, "before the second key", pictureBefore(keyInterval), repeats);
    right &= measure(path, "before the last key", pictureBefore(lastKey), repeats);
    right &= measure(path, "last picture", pictureBefore(end), repeats);
    // The middle of a stretch between key pictures, as Left and Right step.
    right &= measureSteps(path, pictureBefore(keyInterval * 1.5), interval, 20);
    if (!right)
        std::fprintf(stderr, "bench_seek: a seek found the wrong picture\n");
    return right ? 0 : 1;
}
