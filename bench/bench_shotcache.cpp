// A film's shot grids and motions kept in CACHE (made from FILM when it does
// not exist), then the shots detectShots finds in them, one per line: first
// picture and gradual length (0 for a cut). Reading a film takes a minute;
// detecting again from the cache, milliseconds.
//
//   bench_shotcache FILM CACHE
#include "analysis/videorun.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    AnalysisState state;
    state.shotGrids = true;
    FILE *in = std::fopen(argv[2], "rb");
    if (in) {
        long long n = 0;
        if (std::fread(&n, sizeof n, 1, in) != 1)
            return 1;
        state.grids.resize(size_t(n));
        state.motion.resize(size_t(n));
        if (std::fread(state.grids.data(), sizeof(PictureGrid), size_t(n), in) != size_t(n) ||
            std::fread(state.motion.data(), sizeof(PictureMotion), size_t(n), in) != size_t(n))
            return 1;
        std::fclose(in);
    } else {
        RunOptions options;
        options.shotGrids = true;
        QString why;
        auto run = VideoRun::open(QString::fromLocal8Bit(argv[1]), options, state, &why);
        if (!run)
            return 1;
        run->runToEnd([](const ReadProgress &) { return true; });
        FILE *out = std::fopen(argv[2], "wb");
        long long n = (long long)state.grids.size();
        std::fwrite(&n, sizeof n, 1, out);
        std::fwrite(state.grids.data(), sizeof(PictureGrid), size_t(n), out);
        std::fwrite(state.motion.data(), sizeof(PictureMotion), size_t(n), out);
        std::fclose(out);
    }
    for (const ShotStart &s : detectShots(state.grids, state.motion))
        std::printf("%d %d\n", s.first, s.gradual);
    return 0;
}
