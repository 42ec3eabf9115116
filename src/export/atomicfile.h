// Replacing a file's contents all at once, never through a symbolic link.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

// The system's sentence for errno value error, with a full stop ("No space
// left on device."); safe from any thread, unlike strerror.
QString systemReason(int error);

// Writes bytes to a new file beside fileName and renames it over that name:
// a symbolic link of that name is itself replaced, never the file it points
// to, and an earlier file stays whole when anything fails. The new file gets
// the earlier regular file's permissions, else those of any new file. False
// when it could not, with the reason ("No space left on device.") in why.
bool writeFileAtomically(const QString &fileName, const QByteArray &bytes, QString *why = nullptr);

// The same with contents that write puts into the new file, through a device
// that passes them on in large blocks, so that a large file never needs to
// be held whole in memory. write returns false when it could not; a failed
// write of the device is reported with its reason, any other failure with
// failure.
bool writeFileAtomically(const QString &fileName, const std::function<bool(QIODevice &)> &write,
                         const QString &failure, QString *why = nullptr);
