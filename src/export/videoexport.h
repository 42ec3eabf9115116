// One video run to its end and its files written: what the batch tool does
// for each video and what the window's Export does, so both write the same
// bytes.
#pragma once

#include "export/outputs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

struct VideoExport {
    enum Status {
        Written,   // every file was written
        Failed,    // some files could not be written (see failed)
        Unread,    // the video could not be read: nothing written (see error)
        Refused,   // the options do not fit the video: nothing written (see error)
        Cancelled, // told asked to stop: nothing written
    } status = Unread;
    int64_t pictures = 0; // measured
    QString error;        // Unread or Refused: why
    QList<WriteFailure> failed;
    QStringList written; // the files choice asks for that were written, in order
};

// Reads videoPath with the options choice needs (pictures larger than
// maxPixels refused) and writes its files named base + suffix. told gets the
// progress between steps (see VideoRun::runToEnd) and stops the run by
// returning false, after which nothing is written. The record is stamped
// with the video as it was before reading.
VideoExport exportVideo(const QString &videoPath, const QString &base, const OutputChoice &choice,
                        int64_t maxPixels, const std::function<bool(const ReadProgress &)> &told);
