// The measured colours of a run as a table: one row per picture.
#pragma once

#include "analysis/analysisstate.h"

#include <QByteArray>
#include <QString>

// "picture,time,average_red,...,mood_blue": the picture's number from 1, its
// presentation time in seconds from the start of the file (empty when
// unknown), then red, green and blue of the eight histories in their order
// (average, quadrants top-left to bottom-right, brightness, difference, mood).
QByteArray coloursCsvHeader();
QByteArray coloursCsv(const AnalysisState &analysis);

// Writes coloursCsv(analysis) to fileName as writeFileAtomically does; false
// when it could not, with the reason in why.
bool writeColoursCsv(const AnalysisState &analysis, const QString &fileName,
                     QString *why = nullptr);
