#include "batch/colourcsv.h"

#include "export/atomicfile.h"

#include <algorithm>
#include <array>

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

} // namespace

QByteArray coloursCsvHeader()
{
    QByteArray header("picture,time");
    for (const char *name : columnNames)
        for (const char *channel : {"red", "green", "blue"})
            header += QByteArray(",") + name + '_' + channel;
    return header + '\n';
}

QByteArray coloursCsv(const AnalysisState &analysis)
{
    const auto histories = historiesInOrder(analysis);
    qsizetype rows = qsizetype(analysis.pictureTimes.size());
    for (const ColourHistory *history : histories)
        rows = std::min(rows, history->size());

    QByteArray csv = coloursCsvHeader();
    // About 24 channels of up to 4 characters, the number and the time.
    csv.reserve(csv.size() + rows * 130);
    for (qsizetype i = 0; i < rows; ++i) {
        csv += QByteArray::number(qlonglong(i + 1));
        csv += ',';
        // QByteArray::number ignores the C locale that QCoreApplication sets.
        const double time = analysis.pictureTimes[size_t(i)];
        if (time >= 0)
            csv += QByteArray::number(time, 'f', 6);
        for (const ColourHistory *history : histories)
            appendColour(csv, (*history)[i]);
        csv += '\n';
    }
    return csv;
}

bool writeColoursCsv(const AnalysisState &analysis, const QString &fileName, QString *why)
{
    return writeFileAtomically(fileName, coloursCsv(analysis), why);
}
