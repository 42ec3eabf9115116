// Aligning two feature-length versions' measurements: two hours at 24
// pictures per second (172,800 pictures) against a copy at 25 sped up, with
// scenes removed and inserted. The measurements are made up (each shot a
// layout of its own that drifts from picture to picture), as reading two
// two-hour videos would take hours here. Prints the time of alignVersions
// (median of 3) and the peak memory it adds.
//
//   bench_versions [MINUTES]   (default 120)
#include "analysis/versions.h"

#include <QElapsedTimer>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace {

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

struct Scene {
    int pictures;
    unsigned seed;
};

// A film of scenes at rate pictures per second.
VersionFilm filmOf(const std::vector<Scene> &scenes, double rate)
{
    VersionFilm film;
    for (const Scene &scene : scenes) {
        std::mt19937 random(scene.seed);
        std::normal_distribution<float> normal;
        film.shotFirsts.push_back(int(film.times.size()));
        VersionFilm::Shape shape;
        for (float &v : shape)
            v = normal(random);
        const LabColour lab{30.0 + random() % 50, double(int(random() % 40) - 20),
                            double(int(random() % 40) - 20)};
        std::mt19937 grain(scene.seed + 1);
        for (int i = 0; i < scene.pictures; ++i) {
            VersionFilm::Shape moved = shape;
            float mean = 0, squares = 0;
            for (float &v : moved) {
                v += 0.15f * std::sin(0.05f * i + v) + 0.05f * normal(grain);
                mean += v / 16;
            }
            for (float &v : moved)
                squares += (v - mean) * (v - mean);
            for (float &v : moved)
                v = (v - mean) / std::sqrt(squares);
            film.shapes.push_back(moved);
            film.labs.push_back(lab);
            film.times.push_back(double(film.times.size()) / rate);
        }
    }
    film.end = double(film.times.size()) / rate;
    return film;
}

} // namespace

int main(int argc, char *argv[])
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 120.0;
    std::mt19937 random(7);
    std::vector<Scene> scenes;
    for (int total = 0; total < minutes * 60 * 24;) {
        scenes.push_back({int(24 + random() % 200), unsigned(random())});
        total += scenes.back().pictures;
    }
    std::vector<Scene> edited(scenes.begin() + 10, scenes.end()); // trimmed
    for (int k = 0; k < 3; ++k)
        edited.erase(edited.begin() + long(edited.size() * (k + 1) / 5));
    for (int k = 0; k < 2; ++k)
        edited.insert(edited.begin() + long(edited.size() * (2 * k + 1) / 5),
                      Scene{100 + 50 * k, unsigned(random())});
    const VersionFilm a = filmOf(scenes, 24.0);
    const VersionFilm b = filmOf(edited, 25.0); // the same pictures, sped up

    // Memory freed while the films were made goes back first, then the peak
    // starts again here.
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKb("VmRSS:");
    std::vector<double> seconds;
    VersionAlignment alignment;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        alignment = alignVersions(a, b);
        seconds.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::sort(seconds.begin(), seconds.end());
    int edits = 0;
    for (const VersionSegment &segment : alignment.segments)
        edits += segment.kind != VersionSegment::Same;
    std::printf("%zu and %zu pictures: aligned in %.2f s (median of 3), peak +%.0f MB; "
                "%d edits found (6 made), speed %.4f\n",
                a.times.size(), b.times.size(), seconds[1], (statusKb("VmHWM:") - before) / 1024.0,
                edits, alignment.speed);
}
