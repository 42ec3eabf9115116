#include "export/versionsexport.h"

#include "analysis/analysisstate.h"
#include "analysis/timeaxis.h"
#include "export/atomicfile.h"
#include "export/stripexport.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor ground(32, 32, 32);
const QColor ink(224, 224, 224);
const QColor insertedMark(255, 0, 160);
// The difference scale runs from 0 to this CIEDE2000 and saturates above.
constexpr double scaleTop = 20.0;
constexpr int bandRows = 48;
constexpr int widestDisplay = 20000;

// A perceptually even ramp from dark blue through green to yellow (viridis).
QColor differenceColour(double difference)
{
    static const double stops[][3] = {
        {68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
    const double x = std::clamp(difference / scaleTop, 0.0, 1.0) * 4.0;
    const int k = std::min(int(x), 3);
    const double f = x - k;
    return QColor(int(std::lround(stops[k][0] + f * (stops[k + 1][0] - stops[k][0]))),
                  int(std::lround(stops[k][1] + f * (stops[k + 1][1] - stops[k][1]))),
                  int(std::lround(stops[k][2] + f * (stops[k + 1][2] - stops[k][2]))));
}

// Where picture i of film ends: the next picture's time or the film's end.
double endOf(const VersionFilm &film, int i)
{
    return size_t(i) + 1 < film.times.size() ? film.times[size_t(i) + 1] : film.end;
}

QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}

QString span(const VersionFilm &film, int first, int last)
{
    return QStringLiteral("%1-%2").arg(formatTimestamp(film.times[size_t(first)]),
                                       formatTimestamp(endOf(film, last)));
}

// Where in a's time what b inserted falls: where the next part a has
// begins, else a's end.
double insertedAt(const VersionAlignment &alignment, const VersionSegment &inserted,
                  const VersionFilm &a)
{
    for (const VersionSegment &next : alignment.segments)
        if (&next > &inserted && next.kind != VersionSegment::Inserted)
            return next.aStart;
    return a.end;
}

} // namespace

std::optional<VersionMeasures> measureVersion(const QString &path, const Sampling &sampling,
                                              const std::function<bool(const ReadProgress &)> &told,
                                              QString *why)
{
    RunOptions options;
    options.sampling = sampling;
    options.crop.mode = Crop::Auto;
    options.perceptual = true;
    options.shotGrids = true;
    options.keepHistories = false;
    options.reserveAhead = true;
    AnalysisState state;
    bool refused = false;
    const std::unique_ptr<VideoRun> run = VideoRun::open(path, options, state, why, &refused);
    if (!run)
        return std::nullopt;
    bool stopped = false;
    const VideoRun::Step step = run->runToEnd([&](const ReadProgress &progress) {
        stopped = !told(progress);
        return !stopped;
    });
    if (stopped) {
        *why = QString();
        return std::nullopt;
    }
    if (step == VideoRun::Step::Refused) {
        *why = run->refusal();
        return std::nullopt;
    }
    if (state.grids.empty()) {
        *why = QStringLiteral("No picture could be decoded.");
        return std::nullopt;
    }
    const RunResult result = run->finish();
    VersionMeasures measures;
    VersionFilm &film = measures.film;
    film.times = result.times;
    film.end = result.end;
    // Key pictures end where the last one does; what follows it to the
    // stream's end (a tail one version drops) is still the film's.
    if (sampling.mode == Sampling::Key)
        film.end = std::max(film.end, result.duration);
    for (const Shot &shot : result.shots)
        film.shotFirsts.push_back(shot.first);
    const size_t n = state.grids.size();
    film.shapes.reserve(n);
    film.labs.reserve(n);
    measures.averages.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        film.shapes.push_back(shapeOf(state.grids[i]));
        film.labs.push_back(labFromLinear(state.linearMeans[i]));
        measures.averages.push_back(state.strips.average.colourAt(int(i), 0));
    }
    return measures;
}

QByteArray versionsCsv(const VersionAlignment &alignment)
{
    QString text = QStringLiteral(
        "kind,a_first,a_last,a_start,a_end,b_first,b_last,b_start,b_end,de_mean,de_p95\n");
    const auto side = [](int first, int last, double start, double end) {
        // Key pictures seconds apart: a short part may hold none of them.
        if (first < 0)
            return start < 0 ? QStringLiteral(",,,")
                             : QStringLiteral(",,%1,%2").arg(seconds(start), seconds(end));
        return QStringLiteral("%1,%2,%3,%4")
            .arg(first + 1)
            .arg(last + 1)
            .arg(seconds(start), seconds(end));
    };
    for (const VersionSegment &segment : alignment.segments) {
        static const char *const kinds[] = {"same", "removed", "inserted"};
        text +=
            QLatin1String(kinds[segment.kind]) + QLatin1Char(',') +
            side(segment.aFirst, segment.aLast, segment.aStart, segment.aEnd) + QLatin1Char(',') +
            side(segment.bFirst, segment.bLast, segment.bStart, segment.bEnd) + QLatin1Char(',');
        if (segment.kind == VersionSegment::Same)
            text += QStringLiteral("%1,%2").arg(QString::number(segment.deMean, 'f', 3),
                                                QString::number(segment.deP95, 'f', 3));
        else
            text += QLatin1Char(',');
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

QImage versionsDisplay(const VersionAlignment &alignment, const VersionMeasures &a,
                       const VersionMeasures &b, int columns)
{
    const VersionFilm &film = a.film;
    const int na = int(film.times.size());
    if (columns <= 0)
        columns = std::min(na, widestDisplay);
    columns = std::max(columns, 1);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    const QFontMetrics metrics(font);
    const int line = metrics.height() + 4;
    const int legendRows = 16 + line + 8;
    const int height = 3 * (line + bandRows) + line + 8 + legendRows;
    QImage image(columns, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(ground);

    const double start = film.times.empty() ? 0.0 : film.times[0];
    const double length = std::max(film.end - start, 1e-9);
    const auto column = [&](double t) {
        return std::clamp(int((t - start) / length * columns), 0, columns - 1);
    };
    const int aTop = line, bTop = 2 * line + bandRows, dTop = 3 * line + 2 * bandRows;
    // Each column shows the picture of a at its middle time.
    int i = 0;
    for (int x = 0; x < columns; ++x) {
        const double t = start + (x + 0.5) / columns * length;
        while (i + 1 < na && film.times[size_t(i) + 1] <= t)
            ++i;
        const int j = alignment.partner[size_t(i)];
        for (int y = 0; y < bandRows; ++y) {
            image.setPixel(x, aTop + y, a.averages[size_t(i)]);
            if (j >= 0) {
                image.setPixel(x, bTop + y, b.averages[size_t(j)]);
                image.setPixel(x, dTop + y,
                               differenceColour(alignment.difference[size_t(i)]).rgb());
            }
        }
    }
    QPainter painter(&image);
    painter.setFont(font);
    // What b has and a lacks lies between two of a's pictures: a mark there.
    for (const VersionSegment &segment : alignment.segments) {
        if (segment.kind != VersionSegment::Inserted)
            continue;
        const int at = column(insertedAt(alignment, segment, film));
        painter.fillRect(std::max(at - 1, 0), bTop - 4, 3, bandRows + 4, insertedMark);
        const double added = segment.bEnd - segment.bStart;
        painter.setPen(insertedMark);
        painter.drawText(QRect(std::clamp(at + 4, 0, columns - 1), bTop - line, 400, line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("+%1 s").arg(added, 0, 'f', 1));
    }
    painter.setPen(ink);
    const auto label = [&](int top, const QString &text) {
        painter.drawText(QRect(4, top - line, columns - 8, line), Qt::AlignLeft | Qt::AlignVCenter,
                         text);
    };
    label(aTop, QStringLiteral("A: average colour"));
    label(bTop, QStringLiteral("B aligned to A (gaps: removed; marks: inserted)"));
    label(dTop, QStringLiteral("Colour difference (CIEDE2000)"));
    // The time axis under the difference.
    const int axisTop = dTop + bandRows;
    const double step =
        axisStep(columns / length, metrics.horizontalAdvance(QStringLiteral("0:00:00")) + 16);
    for (double tick : axisTicks(0, length, step)) {
        const int x = column(start + tick);
        painter.drawLine(x, axisTop, x, axisTop + 4);
        painter.drawText(QRect(x + 2, axisTop + 4, 200, line), Qt::AlignLeft | Qt::AlignTop,
                         formatDuration(tick, length >= 3600));
    }
    // The legend: the scale and its values.
    const int legendTop = axisTop + line + 8;
    const int legendWidth = std::min(columns - 8, 400);
    for (int x = 0; x < legendWidth; ++x)
        painter.fillRect(4 + x, legendTop, 1, 12,
                         differenceColour(scaleTop * x / std::max(legendWidth - 1, 1)));
    for (int value = 0; value <= int(scaleTop); value += 5) {
        const int x = 4 + int(value / scaleTop * (legendWidth - 1));
        painter.drawText(QRect(x, legendTop + 14, 60, line), Qt::AlignLeft | Qt::AlignTop,
                         value == int(scaleTop) ? QStringLiteral("%1+").arg(value)
                                                : QString::number(value));
    }
    return image;
}

QString versionsSummary(const VersionAlignment &alignment, const VersionFilm &a)
{
    QStringList lines;
    int removed = 0, inserted = 0;
    for (const VersionSegment &segment : alignment.segments) {
        if (segment.kind == VersionSegment::Removed) {
            ++removed;
            lines << QStringLiteral("Removed: A %1-%2 (%3 s)")
                         .arg(formatTimestamp(segment.aStart), formatTimestamp(segment.aEnd))
                         .arg(segment.aEnd - segment.aStart, 0, 'f', 2);
        } else if (segment.kind == VersionSegment::Inserted) {
            ++inserted;
            lines << QStringLiteral("Inserted: B %1-%2 (%3 s), before A %4")
                         .arg(formatTimestamp(segment.bStart), formatTimestamp(segment.bEnd))
                         .arg(segment.bEnd - segment.bStart, 0, 'f', 2)
                         .arg(formatTimestamp(insertedAt(alignment, segment, a)));
        }
    }
    lines.prepend(QStringLiteral("%1 removed, %2 inserted; B runs at %3 times A's speed.")
                      .arg(removed)
                      .arg(inserted)
                      .arg(1.0 / alignment.speed, 0, 'f', 4));
    // The ten seconds of a whose pictures differ most from their partners.
    constexpr double window = 10.0;
    double best = -1, sum = 0;
    int count = 0, bestFirst = -1, bestLast = -1;
    for (size_t first = 0, last = 0; last < a.times.size(); ++last) {
        if (alignment.difference[last] >= 0) {
            sum += alignment.difference[last];
            ++count;
        }
        while (a.times[last] - a.times[first] > window) {
            if (alignment.difference[first] >= 0) {
                sum -= alignment.difference[first];
                --count;
            }
            ++first;
        }
        if (count > 0 && sum / count > best) {
            best = sum / count;
            bestFirst = int(first);
            bestLast = int(last);
        }
    }
    double overall = 0;
    int paired = 0;
    for (float difference : alignment.difference)
        if (difference >= 0) {
            overall += difference;
            ++paired;
        }
    if (paired > 0)
        lines << QStringLiteral("Colour difference (CIEDE2000): %1 on average; most at A %2 "
                                "(%3 on average).")
                     .arg(overall / paired, 0, 'f', 2)
                     .arg(span(a, bestFirst, bestLast))
                     .arg(best, 0, 'f', 2);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList versionsFileNames(const QString &base, const QString &format)
{
    return {base + QStringLiteral("-versions.csv"),
            base + QStringLiteral("-versionsDisplay.") + format};
}

bool writeVersions(const QString &base, const QString &format, int columns,
                   const VersionAlignment &alignment, const VersionMeasures &a,
                   const VersionMeasures &b, QString *why)
{
    const QStringList names = versionsFileNames(base, format);
    QString reason;
    if (!writeFileAtomically(names[0], versionsCsv(alignment), &reason)) {
        *why = names[0] + QStringLiteral(": ") + reason;
        return false;
    }
    const QImage display = versionsDisplay(alignment, a, b, columns);
    if (display.isNull()) {
        *why = names[1] + QStringLiteral(": Not enough memory for the picture.");
        return false;
    }
    if (!writeImageFile(display, names[1], format, &reason)) {
        *why = names[1] + QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}
