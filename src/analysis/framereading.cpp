#include "analysis/framereading.h"

QImage frameView(const FrameSource *source)
{
    const int width = outputWidth(source);
    return QImage(outputPixels(source), width, outputHeight(source), qsizetype(width) * 4,
                  QImage::Format_RGB32);
}

void gatherRowSums(FrameSource *source, RowSums &sums)
{
    setRowObserver(source, [&sums, frame = frameView(source)](int firstRow, int rowCount) {
        addRows(sums, frame.constScanLine(firstRow), frame.bytesPerLine(), frame.width(),
                frame.height(), firstRow, rowCount);
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
