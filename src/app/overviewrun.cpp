#include "app/overviewrun.h"

#include "analysis/analysisstate.h"
#include "analysis/keycuts.h"
#include "analysis/videorun.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>

namespace {

// Hand-overs per second at most: more would only redraw the panel in vain.
constexpr qint64 handOverMs = 100;

// Appends what state recorded from picture first on to batch.
void collect(const AnalysisState &state, size_t first, OverviewBatch &batch)
{
    const Strip &frames = state.strips.frames;
    const Strip &average = state.strips.average;
    const size_t count =
        std::min({state.pictureTimes.size(), size_t(frames.width()), size_t(average.width())});
    for (size_t i = first; i < count; ++i) {
        batch.times.push_back(state.pictureTimes[i]);
        batch.averages.push_back(average.colourAt(int(i), 0));
        for (int b = 0; b < frames.bandCount(); ++b)
            batch.frames.push_back(frames.colourAt(int(i), b));
    }
}

} // namespace

OverviewRun::OverviewRun(const QString &path, int rows, QObject *parent)
    : QObject(parent), m_path(path), m_rows(std::max(rows, 1)), m_worker([this] { work(); })
{
}

OverviewRun::~OverviewRun()
{
    m_cancelled = true;
    if (m_worker.joinable())
        m_worker.join();
}

void OverviewRun::deliver(OverviewBatch batch)
{
    // Queued to this object: dropped with it should it go first.
    QMetaObject::invokeMethod(
        this, [this, batch = std::move(batch)] { emit batchReady(batch); }, Qt::QueuedConnection);
}

void OverviewRun::work()
{
    // A state of its own: the window's run records into the module's.
    AnalysisState state;
    RunOptions options;
    options.sampling.mode = Sampling::Key;
    options.framesHeight = m_rows;
    options.shotGrids = true;   // for the cuts
    options.oneRowBands = true; // only band colours are read
    options.keepHistories = false;
    // A panel's column needs no more: a 1080p key picture then costs about
    // half as much.
    options.glanceWidth = 480;
    QString why;
    std::unique_ptr<VideoRun> run = VideoRun::open(m_path, options, state, &why);
    if (!run) {
        OverviewBatch failed;
        failed.finished = true;
        failed.failure = why.isEmpty() ? QStringLiteral("The video could not be read.") : why;
        deliver(std::move(failed));
        return;
    }
    const double duration = streamDuration(run->source());

    size_t handed = 0;
    QElapsedTimer sinceHanded; // invalid until the first hand-over
    while (!m_cancelled && run->step() == VideoRun::Step::Picture) {
        // The first picture at once, so that the panel starts filling.
        if (!sinceHanded.isValid() || sinceHanded.hasExpired(handOverMs)) {
            OverviewBatch batch;
            batch.duration = duration;
            collect(state, handed, batch);
            handed += batch.times.size();
            deliver(std::move(batch));
            sinceHanded.start();
        }
    }
    if (m_cancelled)
        return;

    OverviewBatch last;
    last.duration = duration;
    last.finished = true;
    collect(state, handed, last);
    const RunResult result = run->finish();
    last.end = result.end;
    for (size_t s = 1; s < result.shots.size(); ++s) {
        const size_t first = size_t(result.shots[s].first);
        // Marks for hard cuts only; a gradual transition has no one picture.
        if (first < result.times.size() && result.shots[s].gradual == 0)
            last.cuts.push_back(result.times[first]);
    }
    // Key pictures seconds apart all differ: where the encoder placed one
    // tells more.
    const std::vector<double> early = earlyKeyPictures(result.times);
    last.cuts.insert(last.cuts.end(), early.begin(), early.end());
    std::sort(last.cuts.begin(), last.cuts.end());
    last.cuts.erase(std::unique(last.cuts.begin(), last.cuts.end()), last.cuts.end());
    // The file is closed by the time the last batch arrives.
    run.reset();
    deliver(std::move(last));
}
