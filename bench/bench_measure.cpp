#include "analysis/analysisstate.h"
#include "reference.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr int width = 1920;
constexpr int height = 1080;

QImage randomFrame(quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

struct ScalarSums {
    uint64_t whole[3] = {};
    uint64_t quadrant[4][3] = {};
    uint64_t previous[3] = {};
    uint64_t grey = 0;
    uint64_t band[3] = {};
};

// The obvious fast-enough loop: row-wise through constScanLine, integer sums,
// but every pixel tests its quadrant and band.
void scalarPass(const QImage &frame, const QImage &previous, ScalarSums &s)
{
    const int w = frame.width();
    const int h = frame.height();
    const int hw = w / 2;
    const int hh = h / 2;
    const int t = h / 3;
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const uint32_t *>(frame.constScanLine(y));
        const auto *prev = reinterpret_cast<const uint32_t *>(previous.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const uint32_t p = line[x];
            const uint32_t r = (p >> 16) & 0xff;
            const uint32_t g = (p >> 8) & 0xff;
            const uint32_t b = p & 0xff;
            uint64_t *q = nullptr;
            if (x < hw && y < hh)
                q = s.quadrant[0];
            else if (x > hw && y < hh)
                q = s.quadrant[1];
            else if (x < hw && y > hh)
                q = s.quadrant[2];
            else if (x > hw && y > hh)
                q = s.quadrant[3];
            if (q) {
                q[0] += r;
                q[1] += g;
                q[2] += b;
            }
            s.whole[0] += r;
            s.whole[1] += g;
            s.whole[2] += b;
            s.grey += (r + g + b) / 3;
            const uint32_t o = prev[x];
            s.previous[0] += (o >> 16) & 0xff;
            s.previous[1] += (o >> 8) & 0xff;
            s.previous[2] += o & 0xff;
            if (y < t)
                s.band[0] += r;
            else if (y <= 2 * t)
                s.band[1] += b;
            else
                s.band[2] += g;
        }
    }
}

// A whole recorded picture: measuring, histories, strips, the kept sums.
void BM_RecordPicture(benchmark::State &bench)
{
    const QImage frame = randomFrame(1);
    AnalysisState state;
    state.previous = pictureSums(randomFrame(2));
    for (auto _ : bench) {
        recordPicture(state, frame);
        if (state.averageHistory.size() >= 4096)
            resetForNewRun(state);
    }
}
BENCHMARK(BM_RecordPicture)->Unit(benchmark::kMillisecond);

// BM_RecordPictureWithShots/1 under each kernel this processor runs: 1 scalar,
// 2 SSE2, 3 AVX2, 4 AVX-512 (MeasureKernel's order).
void BM_RecordPictureByKernel(benchmark::State &bench)
{
    if (!forceMeasureKernel(MeasureKernel(bench.range(0)))) {
        bench.SkipWithError("this processor cannot run the kernel");
        return;
    }
    const QImage frame = randomFrame(1);
    AnalysisState state;
    state.previous = pictureSums(randomFrame(2));
    state.perceptual = true;
    for (auto _ : bench) {
        recordPicture(state, frame);
        if (state.averageHistory.size() >= 4096)
            resetForNewRun(state);
    }
    forceMeasureKernel(MeasureKernel::Best);
}
BENCHMARK(BM_RecordPictureByKernel)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);

// The same with the CSV's linear-light means (1), and also the grid for
// finding shots (2).
void BM_RecordPictureWithShots(benchmark::State &bench)
{
    const QImage frame = randomFrame(1);
    AnalysisState state;
    state.previous = pictureSums(randomFrame(2));
    state.perceptual = bench.range(0) >= 1;
    state.shotGrids = bench.range(0) >= 2;
    for (auto _ : bench) {
        recordPicture(state, frame);
        if (state.averageHistory.size() >= 4096)
            resetForNewRun(state);
    }
}
BENCHMARK(BM_RecordPictureWithShots)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_MeasurePixels(benchmark::State &bench)
{
    const QImage frame = randomFrame(1);
    const QImage previous = randomFrame(2);
    for (auto _ : bench) {
        FrameColours colours = measurePixels(frame, &previous);
        benchmark::DoNotOptimize(colours);
    }
}
BENCHMARK(BM_MeasurePixels)->Unit(benchmark::kMillisecond);

void BM_ScalarReference(benchmark::State &bench)
{
    const QImage frame = randomFrame(1);
    const QImage previous = randomFrame(2);
    for (auto _ : bench) {
        ScalarSums sums;
        scalarPass(frame, previous, sums);
        benchmark::DoNotOptimize(sums);
    }
}
BENCHMARK(BM_ScalarReference)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
