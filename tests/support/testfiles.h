// Files for tests: reading one back whole, and making media with Debian's
// ffmpeg tool where the in-process writers (testvideo.h) cannot.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// All of fileName's bytes; empty when it cannot be read.
QByteArray contentsOf(const QString &fileName);

// Runs ffmpeg quietly (-nostdin -v error -y) with arguments, then output when
// it is given (its directory made first); empty on success, else what went
// wrong, with ffmpeg's own messages.
QString runFfmpeg(const QStringList &arguments, const QString &output = QString());
