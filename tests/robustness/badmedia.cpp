#include "badmedia.h"

#include "ffmpegwriter.h"
#include "testvideo.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <QFile>
#include <QRandomGenerator>

#include <array>
#include <cstring>

namespace badmedia {
namespace {

// PNG's chunk checksum.
quint32 crc32(const char *data, qsizetype size)
{
    const AVCRC *table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    return ~av_crc(table, 0xffffffffu, reinterpret_cast<const uint8_t *>(data), size_t(size));
}

void putBigEndian(QByteArray &bytes, qsizetype at, quint32 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = char((value >> (8 * (width - 1 - i))) & 0xff);
}

using testvideo::fail;

} // namespace

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

bool writeTruncated(const QString &source, const QString &path, double fraction)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    return writeBytes(path, bytes.left(qsizetype(double(bytes.size()) * fraction)));
}

bool writeY4m(const QString &path, QSize claimed, int pictures, qsizetype payloadBytes)
{
    QByteArray bytes = QStringLiteral("YUV4MPEG2 W%1 H%2 F25:1 Ip A1:1 C420jpeg\n")
                           .arg(claimed.width())
                           .arg(claimed.height())
                           .toLatin1();
    for (int i = 0; i < pictures; ++i)
        bytes += "FRAME\n" + QByteArray(payloadBytes, char(0x80));
    return writeBytes(path, bytes);
}

QByteArray withPngSize(const QByteArray &png, QSize size)
{
    // Signature, then the IHDR chunk: length, type, width, height, ..., CRC
    // over type and data.
    const qsizetype type = png.indexOf("IHDR");
    if (type != 12 || png.size() < type + 4 + 13 + 4)
        return {};
    QByteArray patched = png;
    putBigEndian(patched, type + 4, quint32(size.width()), 4);
    putBigEndian(patched, type + 8, quint32(size.height()), 4);
    putBigEndian(patched, type + 4 + 13, crc32(patched.constData() + type, 4 + 13), 4);
    return patched;
}

QByteArray withJpegSize(const QByteArray &jpeg, QSize size)
{
    // Baseline or progressive frame header: marker, length, precision,
    // height, width.
    for (const char *marker : {"\xff\xc0", "\xff\xc2"}) {
        const qsizetype at = jpeg.indexOf(QByteArray(marker, 2));
        if (at < 0 || jpeg.size() < at + 9)
            continue;
        QByteArray patched = jpeg;
        putBigEndian(patched, at + 5, quint32(size.height()), 2);
        putBigEndian(patched, at + 7, quint32(size.width()), 2);
        return patched;
    }
    return {};
}

QByteArray withMpeg4ColourMatrix(const QByteArray &m4v, int matrix)
{
    const QByteArray startCode("\0\0\1", 3);
    const qsizetype header = m4v.indexOf(startCode + '\xb5');
    if (header < 0)
        return {};
    const qsizetype next = m4v.indexOf(startCode, header + 4);
    if (next < 0)
        return {};

    // No identifier, video object, signal type with colour description
    // (format "unspecified", limited range, primaries and transfer BT.709),
    // then the stuffing of next_start_code: a 0 and 1s to the byte boundary.
    QString bits = QStringLiteral("0") + QStringLiteral("0001") + QStringLiteral("1") +
                   QStringLiteral("101") + QStringLiteral("0") + QStringLiteral("1") +
                   QStringLiteral("%1").arg(1, 8, 2, QLatin1Char('0')) +
                   QStringLiteral("%1").arg(1, 8, 2, QLatin1Char('0')) +
                   QStringLiteral("%1").arg(matrix & 0xff, 8, 2, QLatin1Char('0')) +
                   QStringLiteral("0");
    while (bits.size() % 8 != 0)
        bits += QLatin1Char('1');
    QByteArray payload;
    for (qsizetype i = 0; i < bits.size(); i += 8)
        payload += char(bits.mid(i, 8).toInt(nullptr, 2));

    QByteArray patched = m4v;
    patched.replace(header + 4, next - (header + 4), payload);
    return patched;
}

bool writeUndecodableThenDecodable(const QString &path, const QString &decodableSource,
                                   QString *error)
{
    AVCodecID undecodable = AV_CODEC_ID_NONE;
    for (AVCodecID id : {AV_CODEC_ID_AVS2, AV_CODEC_ID_AVS3, AV_CODEC_ID_DAALA}) {
        if (!avcodec_find_decoder(id)) {
            undecodable = id;
            break;
        }
    }
    if (undecodable == AV_CODEC_ID_NONE)
        return fail(error, QStringLiteral("every candidate codec has a decoder here"));

    AVFormatInputPtr input = openInput(QFile::encodeName(decodableSource).constData());
    if (!input)
        return fail(error, QStringLiteral("cannot open ") + decodableSource);
    int result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0)
        return fail(error, testvideo::ffmpegError("avformat_find_stream_info", result));
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0)
        return fail(error, QStringLiteral("no video stream in ") + decodableSource);
    const AVStream *source = input->streams[video];

    const QByteArray name = QFile::encodeName(path);
    AVFormatContext *raw = nullptr;
    result = avformat_alloc_output_context2(&raw, nullptr, "nut", name.constData());
    if (result < 0 || !raw)
        return fail(error, testvideo::ffmpegError("avformat_alloc_output_context2", result));
    AVFormatOutputPtr muxer(raw);
    AVStream *first = avformat_new_stream(muxer.get(), nullptr);
    AVStream *second = avformat_new_stream(muxer.get(), nullptr);
    if (!first || !second)
        return fail(error, QStringLiteral("avformat_new_stream failed"));
    first->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    first->codecpar->codec_id = undecodable;
    first->codecpar->width = source->codecpar->width;
    first->codecpar->height = source->codecpar->height;
    first->time_base = source->time_base;
    result = avcodec_parameters_copy(second->codecpar, source->codecpar);
    if (result < 0)
        return fail(error, testvideo::ffmpegError("avcodec_parameters_copy", result));
    second->codecpar->codec_tag = 0;
    second->time_base = source->time_base;
    result = avio_open(&muxer->pb, name.constData(), AVIO_FLAG_WRITE);
    if (result < 0)
        return fail(error, testvideo::ffmpegError("avio_open", result));
    result = avformat_write_header(muxer.get(), nullptr);
    if (result < 0)
        return fail(error, testvideo::ffmpegError("avformat_write_header", result));

    AVPacketPtr packet(av_packet_alloc());
    AVPacketPtr filler(av_packet_alloc());
    if (!packet || !filler)
        return fail(error, QStringLiteral("av_packet_alloc failed"));
    while ((result = av_read_frame(input.get(), packet.get())) >= 0) {
        if (packet->stream_index != video) {
            av_packet_unref(packet.get());
            continue;
        }
        // The undecodable stream gets one key packet of noise per picture.
        result = av_new_packet(filler.get(), 64);
        if (result < 0)
            return fail(error, testvideo::ffmpegError("av_new_packet", result));
        std::memset(filler->data, 0x5a, filler->size);
        filler->pts = packet->pts;
        filler->dts = packet->dts;
        filler->duration = packet->duration;
        filler->flags = AV_PKT_FLAG_KEY;
        filler->stream_index = 0;
        av_packet_rescale_ts(filler.get(), source->time_base, first->time_base);
        result = av_interleaved_write_frame(muxer.get(), filler.get());
        if (result < 0)
            return fail(error, testvideo::ffmpegError("av_interleaved_write_frame", result));

        packet->stream_index = 1;
        packet->pos = -1;
        av_packet_rescale_ts(packet.get(), source->time_base, second->time_base);
        result = av_interleaved_write_frame(muxer.get(), packet.get());
        if (result < 0)
            return fail(error, testvideo::ffmpegError("av_interleaved_write_frame", result));
    }
    result = av_write_trailer(muxer.get());
    if (result < 0)
        return fail(error, testvideo::ffmpegError("av_write_trailer", result));
    return true;
}

} // namespace badmedia
