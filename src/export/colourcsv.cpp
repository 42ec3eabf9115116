#include "export/colourcsv.h"

#include "export/atomicfile.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

const std::array<const char *, 8> columnNames = {"average",    "topleft",     "topright",
                                                 "bottomleft", "bottomright", "brightness",
                                                 "difference", "mood"};

void appendColour(QByteArray &row, const QColor &colour)
{
    for (int channel : {colour.red(), colour.green(), colour.blue()}) {
        row += ',';
        row += QByteArray::number(channel);
    }
}

void appendNumber(QByteArray &row, double value, int decimals)
{
    row += ',';
    // Not -0.00 for a grey's a* and b*.
    const double rounded = std::round(value * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
    row += QByteArray::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
}

void appendLab(QByteArray &row, const LabColour &lab, bool polar)
{
    appendNumber(row, lab.L, 2);
    appendNumber(row, lab.a, 2);
    appendNumber(row, lab.b, 2);
    if (polar) {
        appendNumber(row, lab.chroma(), 2);
        // 359.996 would print as 360.00.
        const double hue = std::round(lab.hue() * 100.0) / 100.0;
        appendNumber(row, hue >= 360.0 ? 0.0 : hue, 2);
    }
}

} // namespace

QByteArray coloursCsvHeader(bool perceptual, ColourMean mean)
{
    QByteArray header("picture,time");
    for (const char *name : columnNames) {
        // Average and the four quadrants come first.
        const bool inLight = mean == ColourMean::Linear && name != columnNames[5] &&
                             name != columnNames[6] && name != columnNames[7];
        for (const char *channel : {"red", "green", "blue"})
            header += QByteArray(",") + name + '_' + channel + (inLight ? "_lin" : "");
    }
    if (perceptual)
        header += ",L,a,b,chroma,hue";
    return header + '\n';
}

QByteArray coloursCsv(const AnalysisState &analysis)
{
    // The strips hold every colour the histories do, also when a run keeps no
    // histories.
    const qsizetype rows = std::min(qsizetype(analysis.pictureTimes.size()),
                                    qsizetype(analysis.strips.average.width()));

    const bool perceptual = analysis.perceptual && qsizetype(analysis.linearMeans.size()) >= rows;
    QByteArray csv = coloursCsvHeader(perceptual, analysis.mean);
    // About 24 channels of up to 4 characters, the number and the time.
    csv.reserve(csv.size() + rows * 130);
    for (qsizetype i = 0; i < rows; ++i) {
        csv += QByteArray::number(qlonglong(i + 1));
        csv += ',';
        // QByteArray::number ignores the C locale that QCoreApplication sets.
        const double time = analysis.pictureTimes[size_t(i)];
        if (time >= 0)
            csv += QByteArray::number(time, 'f', 6);
        for (const QRgb colour : analysis.strips.coloursAt(int(i)))
            appendColour(csv, QColor(colour));
        if (perceptual)
            appendLab(csv, labFromLinear(analysis.linearMeans[size_t(i)]), true);
        csv += '\n';
    }
    return csv;
}

bool writeColoursCsv(const AnalysisState &analysis, const QString &fileName, QString *why)
{
    return writeFileAtomically(fileName, coloursCsv(analysis), why);
}

QByteArray shotsCsv(const std::vector<Shot> &shots, const std::vector<double> &times, double end)
{
    QByteArray csv("shot,first,last,start,end,red,green,blue,L,a,b");
    for (int k = 1; k <= 5; ++k)
        for (const char *field : {"_red", "_green", "_blue", "_share"})
            csv += ",colour" + QByteArray::number(k) + field;
    // Last, so the columns before keep their places.
    csv += ",transition\n";
    for (size_t s = 0; s < shots.size(); ++s) {
        const Shot &shot = shots[s];
        csv += QByteArray::number(qulonglong(s + 1)) + ',' + QByteArray::number(shot.first + 1) +
               ',' + QByteArray::number(shot.last + 1);
        appendNumber(csv, times[size_t(shot.first)], 6);
        appendNumber(csv, s + 1 < shots.size() ? times[size_t(shots[s + 1].first)] : end, 6);
        appendColour(csv, shot.average);
        appendLab(csv, shot.lab, false);
        for (size_t k = 0; k < 5; ++k) {
            if (k < shot.palette.size()) {
                appendColour(csv, QColor(shot.palette[k].colour));
                appendNumber(csv, shot.palette[k].share, 4);
            } else {
                csv += ",,,,";
            }
        }
        // How the shot begins; the first shot begins the video.
        if (s == 0)
            csv += ",\n";
        else if (shot.gradual > 0)
            csv += ",gradual " + QByteArray::number(shot.gradual) + '\n';
        else
            csv += ",cut\n";
    }
    return csv;
}
