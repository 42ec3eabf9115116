// Test media made in-process with libavformat/libavcodec, for every test that
// needs a video file: exact colours through lossless codecs, delayed output
// through B-frames, extra streams, damaged packets and mid-stream size
// changes. Plus plain counts of packets and pictures to check readers against.
//
// Typical use:
//   QTemporaryDir dir;
//   const QString path = dir.filePath("red.mkv");
//   QString error;
//   QVERIFY2(testvideo::writeVideo(path, testvideo::uniformColours({64, 48}, {0xffff0000}),
//                                  &error), qPrintable(error));
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <variant>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace testvideo {

enum class Codec {
    Ffv1,     // lossless, RGB: colours come back exactly; every picture is a key picture
    RawVideo, // uncompressed RGB32, exact; best in "nut" (matroska/mp4 may refuse it)
    Mpeg4,    // MPEG-4 ASP (native encoder), lossy; maxBFrames gives reordered, delayed output
    H264,     // libx264, lossy; check encoderAvailable first
    Mjpeg,    // lossy, intra only; the one codec whose pictures may change size mid-stream
};

enum class AudioCodec {
    Pcm, // signed 16-bit; not for mp4
    Aac,
};

// Picture number index (0-based) of a stream. Any format; converted to RGB32.
using PictureGenerator = std::function<QImage(int index)>;
// Encoder pixel format for picture number index (Mjpeg only, see VideoStream).
using PixelFormatChooser = std::function<AVPixelFormat(int index)>;

struct VideoStream {
    Codec codec = Codec::Ffv1;
    int pictureCount = 0;
    PictureGenerator picture;
    AVRational frameRate{25, 1};
    int maxBFrames = 0; // Mpeg4 and H264
    int gopSize = 12;   // Mpeg4 and H264
    int quality = 2;    // quantiser of Mpeg4 and Mjpeg, 1 (best) to 31
    // YUV codecs: the matrix the pictures are converted with and the stream
    // is tagged with (e.g. AVCOL_SPC_BT709); unspecified means BT.601 untagged.
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    // Mjpeg only: a new encoder is started whenever the picture size or this
    // format changes, so one stream holds pictures of several sizes/formats.
    // Left empty: yuvj420p throughout. Other codecs fail on a size change.
    PixelFormatChooser pixelFormat;
    // Packets (0-based, in the encoder's output order) whose payload is
    // overwritten with noise before muxing; the container stays intact.
    QList<int> damagedPackets;
    // Display matrix the stream is tagged with (libavutil/display.h); all
    // zero: none. mov and mp4 keep it.
    std::array<int32_t, 9> displayMatrix{};
    // Time of the first picture: a video that starts after the other streams.
    double startSeconds = 0.0;
    // Width over height of a pixel as displayed, stored in the codec and the
    // stream; {0, 1}: square, unstated.
    AVRational sampleAspectRatio{0, 1};
};

struct AudioStream {
    AudioCodec codec = AudioCodec::Pcm;
    double seconds = 1.0; // a 440 Hz mono tone
    int sampleRate = 48000;
};

using Stream = std::variant<VideoStream, AudioStream>;

struct MediaFile {
    std::vector<Stream> streams; // in stream index order; may be empty for "ffmetadata"
    QByteArray format;           // muxer: "matroska", "avi", "mp4", "nut"...; empty: from the path
};

// Writes file to path, packets interleaved by time. False with a reason in
// *error (when given) if an encoder, the muxer or a picture was unusable.
bool writeMedia(const QString &path, const MediaFile &file, QString *error = nullptr);

// One video stream, muxer chosen from the path's extension.
bool writeVideo(const QString &path, const VideoStream &video, QString *error = nullptr);

// A video stream whose codec FFmpeg can demux but has no decoder for (the
// stream is recognised as video, avcodec_find_decoder gives null).
bool writeUndecodableVideo(const QString &path, QString *error = nullptr);

// Stream helpers.
QImage uniformPicture(QSize size, QRgb colour);
VideoStream uniformColours(QSize size, const QList<QRgb> &colours, Codec codec = Codec::Ffv1);
VideoStream pictureList(const QList<QImage> &pictures, Codec codec = Codec::Ffv1);
// 64 clearly different colours (index taken modulo 64), for telling pictures
// apart after lossy coding.
QRgb paletteColour(int index);
// The first count palette colours, one per picture.
QList<QRgb> paletteColours(int count);
// Index of the palette colour nearest to colour (among the first count).
int nearestPaletteIndex(QRgb colour, int count);

// Whether this libavcodec has the encoder (H264 needs libx264).
bool encoderAvailable(Codec codec);

// Plain demux: all packets, or those of the first video stream; -1 if the
// file cannot be opened.
int countPackets(const QString &path);
int countVideoPackets(const QString &path);
int countKeyVideoPackets(const QString &path);
// Presentation times in seconds from the video's start of its key packets,
// in order.
QList<double> keyVideoPacketTimes(const QString &path);
// Plain single-threaded decode of the first video stream with a final drain:
// the number of pictures it holds; -1 if it cannot be opened or decoded.
int countPictures(const QString &path);

// For helpers that make media of their own: "operation: FFmpeg's message",
// and false with reason stored in *error (when given).
QString ffmpegError(const char *operation, int code);
bool fail(QString *error, const QString &reason);

} // namespace testvideo
