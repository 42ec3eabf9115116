// File names as the file system holds them: bytes, not always valid UTF-8.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A byte that is not part of valid UTF-8 (a Latin-1 "café", say) is kept in
// the QString as the lone surrogate U+DC00 + byte, so that a name from the
// command line or a list reaches the file system unchanged; QFile's own
// decoding would turn it into U+FFFD and name another file.
QString fileNameFromBytes(QByteArrayView bytes);
// The bytes fileNameFromBytes took the name from; valid names as UTF-8.
QByteArray fileNameBytes(const QString &name);
// The byte name[i] stands for, or -1 when it is a real character (a low
// surrogate after a high one is half of a real character).
int escapedByte(QStringView name, qsizetype i);

// name with its control characters (C0, DEL, C1) made visible as \n, \t,
// \r, \e or \xHH and each backslash doubled: a file name can neither break
// a line nor steer the terminal. Bytes of a name that are not UTF-8 (see
// fileNameFromBytes) are shown as \xHH too.
QString printableName(const QString &name);
