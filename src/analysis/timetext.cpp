#include "analysis/timetext.h"

QString formatDuration(double seconds)
{
    const qint64 total = seconds > 0 ? static_cast<qint64>(seconds) : 0;
    const qint64 hours = total / 3600;
    const qint64 minutes = total / 60 % 60;
    const qint64 rest = total % 60;
    const QString secondsText = QStringLiteral("%1").arg(rest, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secondsText);
    return QStringLiteral("%1:%2").arg(minutes).arg(secondsText);
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
