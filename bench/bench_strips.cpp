// Appending a picture and making the display images must cost the same at
// 150,000 columns as at 1,000. The full QPainter redraw is timed alongside for
// scale: it is what every picture would cost without the incremental strips.
#include "analysis/analysisstate.h"
#include "reference.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

constexpr QSize labelSize(546, 40); // initial window width less the cap's 50
// Appends timed per run at a given length: short enough to meet no capacity
// doubling (reserved) and no halving of the reduced copy at these lengths.
constexpr int appendWindow = 2000;

ColourHistory sceneHistory(quint32 seed, int length)
{
    QRandomGenerator rng(seed);
    ColourHistory history;
    history.reserve(length);
    while (history.size() < length) {
        const QColor colour = QColor::fromRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256));
        const int run = 1 + rng.bounded(400);
        for (int k = 0; k < run && history.size() < length; ++k)
            history.append(colour);
    }
    return history;
}

AnalysisState stateOfLength(int length)
{
    AnalysisState state;
    state.averageHistory = sceneHistory(1, length);
    for (int q = 0; q < 4; ++q)
        state.quadrantHistories[q] = sceneHistory(2 + q, length);
    state.brightnessHistory = sceneHistory(6, length);
    state.differenceHistory = sceneHistory(7, length);
    state.moodHistory = sceneHistory(8, length);
    return state;
}

FrameColours coloursAt(const AnalysisState &state, qsizetype i)
{
    const auto &q = state.quadrantHistories;
    return {state.averageHistory[i],
            {q[0][i], q[1][i], q[2][i], q[3][i]},
            state.brightnessHistory[i],
            state.differenceHistory[i],
            state.moodHistory[i]};
}

StripSet stripsOf(const AnalysisState &state)
{
    StripSet strips;
    for (qsizetype i = 0; i < state.averageHistory.size(); ++i)
        strips.append(coloursAt(state, i));
    return strips;
}

void reserveAll(StripSet &strips, int columns)
{
    for (Strip *strip :
         {&strips.average, &strips.quadrant, &strips.brightness, &strips.difference, &strips.mood})
        strip->reserve(columns);
}

// One picture: one column on each of the five strips, at length N.
void BM_AppendPictureAt(benchmark::State &state)
{
    const int length = int(state.range(0));
    const AnalysisState analysis = stateOfLength(length);
    StripSet strips = stripsOf(analysis);
    reserveAll(strips, length + appendWindow);
    const FrameColours last = coloursAt(analysis, length - 1);
    for (auto _ : state)
        strips.append(last);
    benchmark::DoNotOptimize(strips.quadrant.width());
}
BENCHMARK(BM_AppendPictureAt)
    ->Arg(1000)
    ->Arg(20000)
    ->Arg(150000)
    ->Iterations(appendWindow)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

// A whole run up to length N, capacity doublings and halvings included:
// items/s is the amortized rate of pictures.
void BM_AppendRunTo(benchmark::State &state)
{
    const int length = int(state.range(0));
    const FrameColours last = coloursAt(stateOfLength(length), length - 1);
    for (auto _ : state) {
        StripSet strips;
        for (int i = 0; i < length; ++i)
            strips.append(last);
        benchmark::DoNotOptimize(strips.mood.width());
    }
    state.SetItemsProcessed(state.iterations() * length);
}
BENCHMARK(BM_AppendRunTo)->Arg(1000)->Arg(20000)->Arg(150000)->Unit(benchmark::kMillisecond);

// The display images of all five strips for a 546-pixel label.
void BM_DisplayAllAt(benchmark::State &state)
{
    const int length = int(state.range(0));
    const StripSet strips = stripsOf(stateOfLength(length));
    for (auto _ : state) {
        for (const Strip *strip : {&strips.average, &strips.quadrant, &strips.brightness,
                                   &strips.difference, &strips.mood})
            benchmark::DoNotOptimize(
                strip->displayImage(QSize(labelSize.width(), strip->height())));
    }
}
// 4096 is the largest strip still scaled exactly, the dearest display image.
BENCHMARK(BM_DisplayAllAt)
    ->Arg(1000)
    ->Arg(4096)
    ->Arg(20000)
    ->Arg(150000)
    ->Unit(benchmark::kMicrosecond);

// The quadrant strip alone, reduced and exact.
void BM_DisplayQuadrantAt(benchmark::State &state)
{
    const int length = int(state.range(0));
    const Strip strip = stripsOf(stateOfLength(length)).quadrant;
    for (auto _ : state)
        benchmark::DoNotOptimize(strip.displayImage(labelSize));
}
BENCHMARK(BM_DisplayQuadrantAt)
    ->Arg(1000)
    ->Arg(4096)
    ->Arg(20000)
    ->Arg(150000)
    ->Unit(benchmark::kMicrosecond);

void BM_ExactDisplayQuadrantAt(benchmark::State &state)
{
    const int length = int(state.range(0));
    const Strip strip = stripsOf(stateOfLength(length)).quadrant;
    for (auto _ : state)
        benchmark::DoNotOptimize(strip.exactDisplayImage(labelSize));
}
BENCHMARK(BM_ExactDisplayQuadrantAt)
    ->Arg(1000)
    ->Arg(20000)
    ->Arg(150000)
    ->Unit(benchmark::kMicrosecond);

// For scale: the QPainter redraw of the quadrant strip from its histories.
void BM_FullRedrawQuadrantAt(benchmark::State &state)
{
    const int length = int(state.range(0));
    const AnalysisState analysis = stateOfLength(length);
    for (auto _ : state)
        benchmark::DoNotOptimize(drawQuadrantStrip(analysis.quadrantHistories));
}
BENCHMARK(BM_FullRedrawQuadrantAt)
    ->Arg(1000)
    ->Arg(20000)
    ->Arg(150000)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
