#include "export/outputs.h"

#include "export/atomicfile.h"
#include "export/colourcsv.h"

#include <functional>

namespace {

struct OutputFile {
    QString suffix;
    // Writes the file of that name; false with the reason in why. A writer
    // that has nothing to write succeeds without a file.
    std::function<bool(const QString &name, const AnalysisState &, const RunResult &, QString *)>
        write;
};

// The table itself, for one choice.
QList<OutputFile> outputFiles(const OutputChoice &choice)
{
    QList<OutputFile> files;
    for (StripKind kind : choice.kinds) {
        files << OutputFile{stripSuffix(kind, choice.layout.format),
                            [kind, &choice](const QString &name, const AnalysisState &state,
                                            const RunResult &result, QString *why) {
                                const Strip &strip = stripOf(state.strips, kind);
                                StripLayout layout = choice.layout;
                                layout.span = {result.times, result.end};
                                return strip.width() == 0 ||
                                       writeStrip(strip, kind, name, layout, why);
                            }};
    }
    if (choice.colours)
        files << OutputFile{csvSuffix(),
                            [](const QString &name, const AnalysisState &state, const RunResult &,
                               QString *why) { return writeColoursCsv(state, name, why); }};
    if (choice.shots)
        files << OutputFile{shotsSuffix(), [](const QString &name, const AnalysisState &,
                                              const RunResult &result, QString *why) {
                                return writeFileAtomically(
                                    name, shotsCsv(result.shots, result.times, result.end), why);
                            }};
    if (choice.crop)
        files << OutputFile{cropSuffix(), [](const QString &name, const AnalysisState &,
                                             const RunResult &result, QString *why) {
                                return writeFileAtomically(
                                    name, "crop=" + cropText(result.crop).toLatin1() + '\n', why);
                            }};
    return files;
}

} // namespace

QString csvSuffix()
{
    return QStringLiteral("-colours.csv");
}

QString shotsSuffix()
{
    return QStringLiteral("-shots.csv");
}

QString cropSuffix()
{
    return QStringLiteral("-crop.txt");
}

QStringList outputNames(const QString &base, const OutputChoice &choice)
{
    QStringList names;
    for (const OutputFile &file : outputFiles(choice))
        names << base + file.suffix;
    return names;
}

QList<WriteFailure> writeOutputs(const QString &base, const OutputChoice &choice,
                                 const AnalysisState &state, const RunResult &result)
{
    QList<WriteFailure> failed;
    for (const OutputFile &file : outputFiles(choice)) {
        QString why;
        if (!file.write(base + file.suffix, state, result, &why))
            failed << WriteFailure{base + file.suffix, why};
    }
    return failed;
}
