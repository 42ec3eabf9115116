#include "analysis/framereading.h"

#include "export/filename.h"

#include <algorithm>
#include <string>

namespace {

QRect shownArea(const FrameSource *source, const QRect &crop)
{
    return crop.isNull() ? QRect(0, 0, outputWidth(source), outputHeight(source)) : crop;
}

} // namespace

QImage frameView(const FrameSource *source, const QRect &crop)
{
    const QRect area = shownArea(source, crop);
    const qsizetype bytesPerLine = qsizetype(outputWidth(source)) * 4;
    return QImage(outputPixels(source) + area.y() * bytesPerLine + qsizetype(area.x()) * 4,
                  area.width(), area.height(), bytesPerLine, QImage::Format_RGB32);
}

void gatherRowSums(FrameSource *source, RowSums &sums, const QRect &crop)
{
    const QRect area = shownArea(source, crop);
    setRowObserver(
        source, [&sums, area, frame = frameView(source, crop)](int firstRow, int rowCount) {
            // The band's rows within the rectangle, counted from its top.
            const int first = std::max(firstRow, area.top()) - area.top();
            const int end = std::min(firstRow + rowCount, area.top() + area.height()) - area.top();
            if (end > first)
                addRows(sums, frame.constScanLine(first), frame.bytesPerLine(), frame.width(),
                        frame.height(), first, end - first);
        });
}

FrameStatus readPicture(FrameSource *source)
{
    FrameStatus status;
    do
        status = readFrame(source);
    while (status < EndOfStream);
    return status;
}

FrameSourcePtr openRgbSource(const QString &path, const FrameSourceOptions &options, QString *why)
{
    std::string reason;
    FrameSourceOptions rgb = options;
    rgb.pixelFormat = rgb32PixelFormat();
    FrameSourcePtr source = openFrameSource(fileNameBytes(path).constData(), rgb, &reason);
    if (!source && why)
        *why = QString::fromLocal8Bit(reason.data(), qsizetype(reason.size()));
    return source;
}
