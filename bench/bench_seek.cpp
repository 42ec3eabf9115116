// What showing one picture of a run costs: opening a second reader and
// seeking it to a picture near the start and near the end of a long file,
// each the last picture before a key picture (the most decoding a seek can
// need). The cost should not grow with the picture's place in the file.
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
    if (!right)
        std::fprintf(stderr, "bench_seek: a seek found the wrong picture\n");
    return right ? 0 : 1;
}
