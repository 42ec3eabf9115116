#include "analysis/timeaxis.h"

#include <cmath>
#include <cstdint>
#include <iterator>

QString formatDuration(double seconds, bool withHours)
{
    const qint64 total = seconds > 0 ? static_cast<qint64>(seconds) : 0;
    const qint64 hours = total / 3600;
    const qint64 minutes = total / 60 % 60;
    const qint64 rest = total % 60;
    const QString secondsText = QStringLiteral("%1").arg(rest, 2, 10, QLatin1Char('0'));
    if (hours > 0 || withHours)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secondsText);
    return QStringLiteral("%1:%2").arg(minutes).arg(secondsText);
}

QString formatTimestamp(double seconds)
{
    const qint64 ms = seconds > 0 ? std::llround(seconds * 1000.0) : 0;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

double axisStep(double pixelsPerSecond, double leastSpacing)
{
    static const double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                   600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    if (!(pixelsPerSecond > 0))
        return steps[0];
    for (const double step : steps)
        if (step * pixelsPerSecond >= leastSpacing)
            return step;
    // Longer than anything filmed; still a step that keeps labels apart.
    double step = steps[std::size(steps) - 1];
    while (step * pixelsPerSecond < leastSpacing && step < 1e12)
        step *= 2;
    return step;
}

std::vector<double> axisTicks(double first, double last, double step)
{
    std::vector<double> ticks;
    if (!(step > 0) || !(last >= first))
        return ticks;
    // Whole multiples, so that a tick reads exactly its label.
    for (int64_t k = int64_t(std::ceil(first / step)); k * step <= last; ++k)
        ticks.push_back(double(k) * step);
    return ticks;
}

QString rateText(int64_t pictures, double elapsedSeconds)
{
    return QString::number(static_cast<double>(pictures) / elapsedSeconds, 'f', 1) +
           QStringLiteral(" pictures/s");
}

QString timeLeftText(double fraction, double elapsedSeconds)
{
    return formatDuration(elapsedSeconds * (1 - fraction) / fraction) + QStringLiteral(" left");
}
