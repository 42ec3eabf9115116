#include "export/comparison.h"

#include "analysis/strip.h"
#include "analysis/timeaxis.h"
#include "export/filename.h"
#include "export/outputcheck.h"
#include "video/videoinfo.h"

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

std::optional<ComparisonScale> parseComparisonScale(const QString &text)
{
    if (text == QLatin1String("width"))
        return ComparisonScale::Width;
    if (text == QLatin1String("time"))
        return ComparisonScale::Time;
    return std::nullopt;
}

QString comparisonLegend(const QList<StripKind> &kinds)
{
    QStringList parts;
    for (StripKind kind : kinds) {
        switch (kind) {
        case StripKind::Average:
            parts << QStringLiteral("average colour");
            break;
        case StripKind::Quadrant:
            // The bands as StripSet::append stacks them.
            parts << QStringLiteral("quadrants in four bands (top-left, top-right, bottom-left, "
                                    "bottom-right)");
            break;
        case StripKind::Brightness:
            parts << QStringLiteral("brightness");
            break;
        case StripKind::Difference:
            parts << QStringLiteral("difference from the picture before");
            break;
        case StripKind::Mood:
            parts << QStringLiteral("mood (upper, middle and lower thirds)");
            break;
        case StripKind::Frames:
            parts << QStringLiteral("frames (each picture squeezed into a column)");
            break;
        case StripKind::Shots:
            parts << QStringLiteral("shots (each shot's average colour)");
            break;
        case StripKind::Palette:
            parts << QStringLiteral("palette (each shot's main colours)");
            break;
        }
    }
    return QStringLiteral("Each row, top to bottom: ") + parts.join(QStringLiteral("; ")) +
           QLatin1Char('.');
}

QImage comparisonImage(const QList<ComparisonRow> &rows, int width, int rowHeight,
                       ComparisonScale scale, const QString &legend)
{
    QFont font;
    font.setPixelSize(std::clamp(rowHeight * 3 / 5, 8, 16));
    const QFontMetrics metrics(font);
    const auto durationOf = [](const ComparisonRow &row) {
        return row.seconds < 0 ? QString() : formatDuration(row.seconds, row.seconds >= 3600);
    };
    const int durationGap = metrics.horizontalAdvance(QStringLiteral("  "));
    int durationWidth = 0;
    double longest = 0;
    for (const ComparisonRow &row : rows) {
        durationWidth = std::max(durationWidth, metrics.horizontalAdvance(durationOf(row)));
        longest = std::max(longest, row.seconds);
    }
    int labelWidth = 0;
    for (const ComparisonRow &row : rows)
        // A pixel more: elidedText measures in fractions and cuts a name
        // that fits its rounded width exactly.
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(row.name) + 1);
    labelWidth = std::min(labelWidth, widestLabel) + (durationWidth > 0 ? durationGap : 0) +
                 durationWidth + 2 * labelPadding;

    const int sheetWidth = labelWidth + width;
    const QRect legendBox(labelPadding, 0, std::max(sheetWidth - 2 * labelPadding, 1), 1 << 20);
    const int legendHeight =
        legend.isEmpty()
            ? 0
            : metrics.boundingRect(legendBox, Qt::TextWordWrap, legend).height() + 2 * labelPadding;
    const int64_t height = int64_t(rows.size()) * (rowHeight + comparisonGap) - comparisonGap;
    if (int64_t(sheetWidth) * (height + legendHeight) > Strip::largestPixels)
        return {};
    QImage image(sheetWidth, int(std::max<int64_t>(height, 1) + legendHeight),
                 QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(ground);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(ink);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const int top = int(i) * (rowHeight + comparisonGap);
        const QRect label(labelPadding, top, labelWidth - 2 * labelPadding, rowHeight);
        const QString duration = durationOf(rows[i]);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, duration);
        const int nameWidth = label.width() - (durationWidth > 0 ? durationWidth + durationGap : 0);
        painter.drawText(QRect(label.left(), top, nameWidth, rowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(rows[i].name, Qt::ElideMiddle, nameWidth));
        // A short film is not stretched to a long one's width.
        int rowWidth = width;
        if (scale == ComparisonScale::Time && rows[i].seconds >= 0 && longest > 0)
            rowWidth = std::max(1, int(std::lround(width * rows[i].seconds / longest)));
        // Each strip gets its share of the row: the row is the sum of their
        // heights when they are what the run asked for.
        int y = top;
        for (const QImage &strip : rows[i].strips) {
            const int stripHeight = std::min(strip.height(), top + rowHeight - y);
            if (stripHeight <= 0)
                break;
            painter.drawImage(QRect(labelWidth, y, rowWidth, stripHeight), strip);
            y += stripHeight;
        }
    }
    if (!legend.isEmpty())
        painter.drawText(legendBox.translated(0, int(height) + labelPadding),
                         Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, legend);
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

// The duration the file says; negative when it cannot be opened or does not
// say.
static double durationOf(const QString &video)
{
    const FrameSourcePtr source = openFrameSource(fileNameBytes(video).constData());
    return source ? videoInfo(source.get()).duration : -1;
}

static QImage comparisonOf(const QStringList &videos,
                           const std::function<bool(qsizetype)> &hasStrips,
                           const OutputChoice &choice, const QString &outputDir,
                           ComparisonScale scale)
{
    // Qt reads no image over 128 MB by default; the tool's own strips may
    // be up to 1 GiB.
    QImageReader::setAllocationLimit(int(largestStripPixels * 4 >> 20));
    int rowHeight = 0;
    for (StripKind kind : choice.kinds)
        rowHeight += choice.layout.rows(kind);
    QList<ComparisonRow> rows;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        ComparisonRow row{
            printableName(QFileInfo(videos[i]).fileName()), {}, durationOf(videos[i])};
        if (hasStrips(i)) {
            const QString base = outputBase(videos[i], outputDir);
            for (StripKind kind : choice.kinds)
                row.strips << QImage(base + stripSuffix(kind, choice.layout.format));
        }
        rows << row;
    }
    return comparisonImage(rows, choice.layout.width, rowHeight, scale,
                           comparisonLegend(choice.kinds));
}

bool writeComparison(const QString &fileName, const QStringList &videos,
                     const std::function<bool(qsizetype)> &hasStrips, const OutputChoice &choice,
                     const QString &outputDir, QString *why, ComparisonScale scale)
{
    QImage comparison = comparisonOf(videos, hasStrips, choice, outputDir, scale);
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
