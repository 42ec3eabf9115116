// Two versions of a film compared: both read through the run engine, aligned
// (analysis/versions.h), and the files and summary of what changed.
#pragma once

#include "analysis/versions.h"
#include "analysis/videorun.h"

#include <QImage>
#include <QRgb>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// One version as read: what aligning needs and its average strip.
struct VersionMeasures {
    VersionFilm film;
    std::vector<QRgb> averages; // each picture's average colour
};

// Reads path (within its black bars, so that a letterbox added or removed
// does not count) with sampling. Nothing when it cannot be read or told
// returned false, with the reason in *why (empty when stopped).
std::optional<VersionMeasures> measureVersion(const QString &path, const Sampling &sampling,
                                              const std::function<bool(const ReadProgress &)> &told,
                                              QString *why);

// BASE-versions.csv: one row per segment, in a's order.
QByteArray versionsCsv(const VersionAlignment &alignment);

// a's average strip, b's aligned to it (removed parts a gap, inserted parts
// marked), and the colour difference on a perceptual scale with its legend,
// over a's time axis, columns wide (0: one column per picture of a, at most
// 20,000). Text needs a QGuiApplication. Null when the memory cannot be had.
QImage versionsDisplay(const VersionAlignment &alignment, const VersionMeasures &a,
                       const VersionMeasures &b, int columns);

// What was removed and inserted (times of both versions) and where the grade
// differs most, a line each.
QString versionsSummary(const VersionAlignment &alignment, const VersionFilm &a);

// The files written for base (see outputBase): BASE-versions.csv and
// BASE-versionsDisplay.FORMAT.
QStringList versionsFileNames(const QString &base, const QString &format);

// Writes both; false with the file and reason in *why at the first failure.
bool writeVersions(const QString &base, const QString &format, int columns,
                   const VersionAlignment &alignment, const VersionMeasures &a,
                   const VersionMeasures &b, QString *why);
