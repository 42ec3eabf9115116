// The measured colours of a run as a table: one row per picture.
#pragma once

#include "analysis/analysisstate.h"

#include <QByteArray>
#include <QString>

// "picture,time,average_red,...,mood_blue": the picture's number from 1, its
// presentation time in seconds from the start of the file (empty when
// unknown), then red, green and blue of the eight measured colours, read
// from the strips (average, quadrants top-left to bottom-right, brightness,
// difference, mood),
// and when the run gathered linear means, "L,a,b,chroma,hue" of each
// picture's mean colour in linear light (two decimals, hue in degrees).
// With ColourMean::Linear the average and quadrant columns, means of the
// light, end in "_lin" (average_red_lin...).
QByteArray coloursCsvHeader(bool perceptual = false, ColourMean mean = ColourMean::Srgb);
QByteArray coloursCsv(const AnalysisState &analysis);

// Writes coloursCsv(analysis) to fileName as writeFileAtomically does; false
// when it could not, with the reason in why.
bool writeColoursCsv(const AnalysisState &analysis, const QString &fileName,
                     QString *why = nullptr);

// One row per shot: "shot,first,last,start,end,red,green,blue,L,a,b" and then
// red, green, blue and share of up to five palette colours, largest first
// (empty fields for a palette of fewer). Pictures are numbered from 1; a
// shot's time runs from its first picture's time (times, one per picture)
// to the next shot's, the last one's to end.
QByteArray shotsCsv(const std::vector<Shot> &shots, const std::vector<double> &times, double end);
