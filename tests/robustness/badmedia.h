// Bad and odd input files for the robustness tests: raw bytes, cut copies,
// headers that claim sizes no picture has, and a stream layout the media
// helper does not make.
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

namespace badmedia {

// Writes bytes to path, replacing it. False if the file cannot be written.
bool writeBytes(const QString &path, const QByteArray &bytes);
// Reproducible noise.
QByteArray randomBytes(int size, quint32 seed);
// The first fraction (0..1) of source's bytes written to path.
bool writeTruncated(const QString &source, const QString &path, double fraction);

// A YUV4MPEG2 file whose header claims claimed, followed by pictures frames
// of payloadBytes grey bytes each (a truthful file has w*h*3/2 per frame).
bool writeY4m(const QString &path, QSize claimed, int pictures, qsizetype payloadBytes);

// A PNG or JPEG file's bytes with the size in its header replaced (the PNG
// header's checksum is recomputed, so only the size lies). Empty if the
// header is not found.
QByteArray withPngSize(const QByteArray &png, QSize size);
QByteArray withJpegSize(const QByteArray &jpeg, QSize size);

// A raw MPEG-4 video stream's bytes ("m4v" muxer) whose visual object header
// is replaced by one declaring the colour matrix code matrix (0..255, most of
// which name no matrix). Empty if the header is not found.
QByteArray withMpeg4ColourMatrix(const QByteArray &m4v, int matrix);

// A NUT file with two video streams: first one whose codec has no decoder,
// then a copy of the first video stream of decodableSource, packets
// interleaved. False with a reason in *error when it cannot be made.
bool writeUndecodableThenDecodable(const QString &path, const QString &decodableSource,
                                   QString *error);

} // namespace badmedia
