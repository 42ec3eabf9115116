#include "export/comparison.h"

#include "analysis/strip.h"
#include "export/filename.h"
#include "export/outputcheck.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

const QColor ground(32, 32, 32);
const QColor ink(224, 224, 224);
constexpr int labelPadding = 8;
constexpr int widestLabel = 400;

} // namespace

QImage comparisonImage(const QList<ComparisonRow> &rows, int width, int rowHeight)
{
    QFont font;
    font.setPixelSize(std::clamp(rowHeight * 3 / 5, 8, 16));
    const QFontMetrics metrics(font);
    int labelWidth = 0;
    for (const ComparisonRow &row : rows)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(row.name));
    labelWidth = std::min(labelWidth, widestLabel) + 2 * labelPadding;

    const int64_t height = int64_t(rows.size()) * (rowHeight + comparisonGap) - comparisonGap;
    if ((labelWidth + int64_t(width)) * height > Strip::largestPixels)
        return {};
    QImage image(labelWidth + width, int(std::max<int64_t>(height, 1)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(ground);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const int top = int(i) * (rowHeight + comparisonGap);
        const QRect label(labelPadding, top, labelWidth - 2 * labelPadding, rowHeight);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(rows[i].name, Qt::ElideMiddle, label.width()));
        // Each strip gets its share of the row: the row is the sum of their
        // heights when they are what the run asked for.
        int y = top;
        for (const QImage &strip : rows[i].strips) {
            const int stripHeight = std::min(strip.height(), top + rowHeight - y);
            if (stripHeight <= 0)
                break;
            painter.drawImage(QRect(labelWidth, y, width, stripHeight), strip);
            y += stripHeight;
        }
    }
    return image;
}

QString comparisonFormat(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("jpeg"))
        return QStringLiteral("jpg");
    return QStringList{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("bmp")}
                   .contains(suffix)
               ? suffix
               : QString();
}

static QImage comparisonOf(const QStringList &videos,
                           const std::function<bool(qsizetype)> &hasStrips,
                           const OutputChoice &choice, const QString &outputDir)
{
    // Qt reads no image over 128 MB by default; the tool's own strips may
    // be up to 1 GiB.
    QImageReader::setAllocationLimit(int(largestStripPixels * 4 >> 20));
    int rowHeight = 0;
    for (StripKind kind : choice.kinds)
        rowHeight += choice.layout.rows(kind);
    QList<ComparisonRow> rows;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        ComparisonRow row{printableName(QFileInfo(videos[i]).fileName()), {}};
        if (hasStrips(i)) {
            const QString base = outputBase(videos[i], outputDir);
            for (StripKind kind : choice.kinds)
                row.strips << QImage(base + stripSuffix(kind, choice.layout.format));
        }
        rows << row;
    }
    return comparisonImage(rows, choice.layout.width, rowHeight);
}

bool writeComparison(const QString &fileName, const QStringList &videos,
                     const std::function<bool(qsizetype)> &hasStrips, const OutputChoice &choice,
                     const QString &outputDir, QString *why)
{
    QImage comparison = comparisonOf(videos, hasStrips, choice, outputDir);
    if (comparison.isNull()) {
        *why = QStringLiteral("The comparison would be larger than %1 pixels.")
                   .arg(Strip::largestPixels);
        return false;
    }
    return writeImageFile(std::move(comparison), fileName, comparisonFormat(fileName), why);
}

std::unique_ptr<QCoreApplication> displayFreeApplication(int &argc, char **argv, bool drawsText)
{
    if (!drawsText)
        return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No XDG_RUNTIME_DIR on a cluster node, say: such notes would cut into
    // the tool's own lines.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
            if (type == QtFatalMsg)
                std::abort();
        });
    auto application = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
    return application;
}
