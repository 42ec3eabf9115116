#include "testvideo.h"

#include "ffmpegwriter.h"

#include <QFile>

#include <cmath>
#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace testvideo {

QString ffmpegError(const char *operation, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QStringLiteral("%1: %2").arg(QLatin1String(operation), QLatin1String(text));
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

namespace {

// Everything one stream produced, before muxing.
struct EncodedStream {
    std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters *)> parameters{
        nullptr, [](AVCodecParameters *p) { avcodec_parameters_free(&p); }};
    AVRational timeBase{1, 1};
    AVRational frameRate{0, 1};
    std::array<int32_t, 9> displayMatrix{};
    std::vector<AVPacketPtr> packets;
};

// Takes the stream's parameters and time base from its (first) encoder.
bool takeParameters(EncodedStream &out, const AVCodecContext *encoder, QString *error)
{
    out.parameters.reset(avcodec_parameters_alloc());
    if (!out.parameters || avcodec_parameters_from_context(out.parameters.get(), encoder) < 0)
        return fail(error, QStringLiteral("avcodec_parameters_from_context failed"));
    out.timeBase = encoder->time_base;
    return true;
}

// Sends frame (null: flush) and moves every packet the encoder gives out.
bool encode(AVCodecContext *encoder, const AVFrame *frame, EncodedStream &out, QString *error)
{
    int result = avcodec_send_frame(encoder, frame);
    if (result < 0)
        return fail(error, ffmpegError("avcodec_send_frame", result));
    for (;;) {
        AVPacketPtr packet(av_packet_alloc());
        if (!packet)
            return fail(error, QStringLiteral("av_packet_alloc failed"));
        result = avcodec_receive_packet(encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return fail(error, ffmpegError("avcodec_receive_packet", result));
        out.packets.push_back(std::move(packet));
    }
}

const AVCodec *findEncoder(Codec codec)
{
    switch (codec) {
    case Codec::Ffv1:
        return avcodec_find_encoder_by_name("ffv1");
    case Codec::RawVideo:
        return avcodec_find_encoder_by_name("rawvideo");
    case Codec::Mpeg4:
        return avcodec_find_encoder_by_name("mpeg4");
    case Codec::H264:
        return avcodec_find_encoder_by_name("libx264");
    case Codec::Mjpeg:
        return avcodec_find_encoder_by_name("mjpeg");
    }
    return nullptr;
}

AVPixelFormat defaultFormat(Codec codec)
{
    switch (codec) {
    case Codec::Ffv1:
    case Codec::RawVideo:
        // Same layout as QImage::Format_RGB32 (alpha 0xff), so nothing is lost.
        return AV_PIX_FMT_RGB32;
    case Codec::Mpeg4:
    case Codec::H264:
        return AV_PIX_FMT_YUV420P;
    case Codec::Mjpeg:
        return AV_PIX_FMT_YUVJ420P;
    }
    return AV_PIX_FMT_NONE;
}

AVCodecContextPtr openVideoEncoder(const VideoStream &video, QSize size, AVPixelFormat format,
                                   bool globalHeader, QString *error)
{
    const AVCodec *codec = findEncoder(video.codec);
    if (!codec) {
        fail(error, QStringLiteral("no encoder for this codec"));
        return nullptr;
    }
    AVCodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        fail(error, QStringLiteral("avcodec_alloc_context3 failed"));
        return nullptr;
    }
    encoder->width = size.width();
    encoder->height = size.height();
    encoder->pix_fmt = format;
    encoder->time_base = av_inv_q(video.frameRate);
    encoder->framerate = video.frameRate;
    encoder->thread_count = 1; // deterministic output
    encoder->colorspace = video.colorspace;
    encoder->sample_aspect_ratio = video.sampleAspectRatio;
    switch (video.codec) {
    case Codec::Ffv1:
        encoder->gop_size = 1; // damage stays in its own packet
        break;
    case Codec::Mpeg4:
    case Codec::Mjpeg:
        encoder->gop_size = video.gopSize;
        encoder->max_b_frames = video.codec == Codec::Mpeg4 ? video.maxBFrames : 0;
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * video.quality;
        break;
    case Codec::H264:
        encoder->gop_size = video.gopSize;
        encoder->max_b_frames = video.maxBFrames;
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder->priv_data, "crf", "18", 0);
        break;
    case Codec::RawVideo:
        break;
    }
    if (globalHeader)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int result = avcodec_open2(encoder.get(), codec, nullptr);
    if (result < 0) {
        fail(error, ffmpegError("avcodec_open2 (video)", result));
        return nullptr;
    }
    return encoder;
}

// Converts an RGB32 image into a new frame of the encoder's format.
AVFramePtr toFrame(const QImage &image, const AVCodecContext *encoder, int64_t pts, QString *error)
{
    AVFramePtr frame(av_frame_alloc());
    if (!frame) {
        fail(error, QStringLiteral("av_frame_alloc failed"));
        return nullptr;
    }
    frame->width = encoder->width;
    frame->height = encoder->height;
    frame->format = encoder->pix_fmt;
    frame->pts = pts;
    int result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0) {
        fail(error, ffmpegError("av_frame_get_buffer", result));
        return nullptr;
    }
    // Point-sampling: the sizes are equal, so only the format changes.
    SwsContextPtr scaler(sws_getContext(image.width(), image.height(), AV_PIX_FMT_RGB32,
                                        encoder->width, encoder->height, encoder->pix_fmt,
                                        SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                        nullptr, nullptr));
    if (!scaler) {
        fail(error, QStringLiteral("sws_getContext failed for the encoder's format"));
        return nullptr;
    }
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(encoder->pix_fmt);
    if (encoder->colorspace != AVCOL_SPC_UNSPECIFIED && descriptor &&
        !(descriptor->flags & AV_PIX_FMT_FLAG_RGB)) {
        int *inverseTable = nullptr, *table = nullptr;
        int sourceRange = 0, range = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(scaler.get(), &inverseTable, &sourceRange, &table, &range,
                                     &brightness, &contrast, &saturation) < 0 ||
            sws_setColorspaceDetails(scaler.get(), inverseTable, sourceRange,
                                     sws_getCoefficients(encoder->colorspace), range, brightness,
                                     contrast, saturation) < 0) {
            fail(error, QStringLiteral("sws_setColorspaceDetails failed"));
            return nullptr;
        }
    }
    const uint8_t *source[4] = {image.constBits(), nullptr, nullptr, nullptr};
    const int stride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), source, stride, 0, image.height(), frame->data, frame->linesize);
    return frame;
}

// Overwrites the payload with noise that differs from packet to packet.
bool damage(AVPacket *packet, int index, QString *error)
{
    const int result = av_packet_make_writable(packet);
    if (result < 0)
        return fail(error, ffmpegError("av_packet_make_writable", result));
    uint32_t state = 0x9e3779b9u ^ static_cast<uint32_t>(index * 7919 + 1);
    for (int i = 0; i < packet->size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        packet->data[i] = static_cast<uint8_t>(state);
    }
    return true;
}

std::optional<EncodedStream> encodeVideo(const VideoStream &video, bool globalHeader,
                                         QString *error)
{
    if (!video.picture || video.pictureCount <= 0) {
        fail(error, QStringLiteral("a video stream needs pictures"));
        return std::nullopt;
    }
    EncodedStream out;
    AVCodecContextPtr encoder;
    QSize size;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    for (int i = 0; i < video.pictureCount; ++i) {
        const QImage image = video.picture(i).convertToFormat(QImage::Format_RGB32);
        if (image.isNull()) {
            fail(error, QStringLiteral("picture %1 is null").arg(i));
            return std::nullopt;
        }
        const AVPixelFormat wanted = video.codec == Codec::Mjpeg && video.pixelFormat
                                         ? video.pixelFormat(i)
                                         : defaultFormat(video.codec);
        if (!encoder || image.size() != size || wanted != format) {
            if (encoder) {
                if (video.codec != Codec::Mjpeg) {
                    fail(error,
                         QStringLiteral("picture %1 changes the size; only Mjpeg can").arg(i));
                    return std::nullopt;
                }
                if (!encode(encoder.get(), nullptr, out, error))
                    return std::nullopt;
            }
            size = image.size();
            format = wanted;
            encoder = openVideoEncoder(video, size, format, globalHeader, error);
            if (!encoder)
                return std::nullopt;
            if (!out.parameters) {
                if (!takeParameters(out, encoder.get(), error))
                    return std::nullopt;
                out.frameRate = video.frameRate;
            }
        }
        AVFramePtr frame = toFrame(image, encoder.get(), i, error);
        if (!frame || !encode(encoder.get(), frame.get(), out, error))
            return std::nullopt;
    }
    if (!encode(encoder.get(), nullptr, out, error))
        return std::nullopt;
    for (int index : video.damagedPackets) {
        if (index < 0 || index >= static_cast<int>(out.packets.size())) {
            fail(error, QStringLiteral("no packet %1 to damage").arg(index));
            return std::nullopt;
        }
        if (!damage(out.packets[index].get(), index, error))
            return std::nullopt;
    }
    out.displayMatrix = video.displayMatrix;
    const int64_t start = std::llround(video.startSeconds / av_q2d(out.timeBase));
    for (AVPacketPtr &packet : out.packets) {
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts += start;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts += start;
    }
    return out;
}

std::optional<EncodedStream> encodeAudio(const AudioStream &audio, bool globalHeader,
                                         QString *error)
{
    const AVCodec *codec =
        avcodec_find_encoder_by_name(audio.codec == AudioCodec::Pcm ? "pcm_s16le" : "aac");
    if (!codec) {
        fail(error, QStringLiteral("no audio encoder"));
        return std::nullopt;
    }
    AVCodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        fail(error, QStringLiteral("avcodec_alloc_context3 failed"));
        return std::nullopt;
    }
    encoder->sample_rate = audio.sampleRate;
    encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    encoder->time_base = AVRational{1, audio.sampleRate};
    encoder->bit_rate = 64000;
    av_channel_layout_default(&encoder->ch_layout, 1);
    if (globalHeader)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(encoder.get(), codec, nullptr);
    if (result < 0) {
        fail(error, ffmpegError("avcodec_open2 (audio)", result));
        return std::nullopt;
    }
    if (encoder->sample_fmt != AV_SAMPLE_FMT_S16 && encoder->sample_fmt != AV_SAMPLE_FMT_FLTP &&
        encoder->sample_fmt != AV_SAMPLE_FMT_FLT) {
        fail(error, QStringLiteral("unexpected audio sample format"));
        return std::nullopt;
    }

    EncodedStream out;
    if (!takeParameters(out, encoder.get(), error))
        return std::nullopt;

    const int chunk = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    const int64_t total = std::llround(audio.seconds * audio.sampleRate);
    for (int64_t start = 0; start < total; start += chunk) {
        AVFramePtr frame(av_frame_alloc());
        if (!frame) {
            fail(error, QStringLiteral("av_frame_alloc failed"));
            return std::nullopt;
        }
        // A fixed-size encoder wants full frames, the last one padded with silence.
        const int count =
            encoder->frame_size > 0 ? chunk : int(std::min<int64_t>(chunk, total - start));
        frame->nb_samples = count;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = audio.sampleRate;
        frame->pts = start;
        if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0) {
            fail(error, QStringLiteral("audio frame allocation failed"));
            return std::nullopt;
        }
        for (int i = 0; i < count; ++i) {
            const int64_t n = start + i;
            const double value =
                n < total ? 0.25 * std::sin(2 * M_PI * 440.0 * double(n) / audio.sampleRate) : 0.0;
            if (encoder->sample_fmt == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t *>(frame->data[0])[i] =
                    static_cast<int16_t>(value * 32767);
            else
                reinterpret_cast<float *>(frame->data[0])[i] = static_cast<float>(value);
        }
        if (!encode(encoder.get(), frame.get(), out, error))
            return std::nullopt;
    }
    if (!encode(encoder.get(), nullptr, out, error))
        return std::nullopt;
    return out;
}

int64_t orderingTime(const AVPacket *packet)
{
    return packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
}

AVFormatInputPtr openForReading(const QString &path)
{
    AVFormatInputPtr container = openInput(QFile::encodeName(path).constData());
    if (container && avformat_find_stream_info(container.get(), nullptr) < 0)
        return nullptr;
    return container;
}

int firstVideoStream(const AVFormatContext *container)
{
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        if (container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            return static_cast<int>(i);
    }
    return -1;
}

int countPacketsOf(const QString &path, bool videoOnly, bool keyOnly = false)
{
    AVFormatInputPtr container = openForReading(path);
    if (!container)
        return -1;
    const int video = firstVideoStream(container.get());
    if (videoOnly && video < 0)
        return -1;
    AVPacketPtr packet(av_packet_alloc());
    if (!packet)
        return -1;
    int count = 0;
    while (av_read_frame(container.get(), packet.get()) >= 0) {
        if ((!videoOnly || packet->stream_index == video) &&
            (!keyOnly || (packet->flags & AV_PKT_FLAG_KEY)))
            ++count;
        av_packet_unref(packet.get());
    }
    return count;
}

} // namespace

bool writeMedia(const QString &path, const MediaFile &file, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    AVFormatContext *raw = nullptr;
    int result = avformat_alloc_output_context2(
        &raw, nullptr, file.format.isEmpty() ? nullptr : file.format.constData(), name.constData());
    if (result < 0 || !raw)
        return fail(error, ffmpegError("avformat_alloc_output_context2", result));
    AVFormatOutputPtr muxer(raw);
    const bool globalHeader = muxer->oformat->flags & AVFMT_GLOBALHEADER;

    std::vector<EncodedStream> encoded;
    for (const Stream &stream : file.streams) {
        std::optional<EncodedStream> out =
            std::holds_alternative<VideoStream>(stream)
                ? encodeVideo(std::get<VideoStream>(stream), globalHeader, error)
                : encodeAudio(std::get<AudioStream>(stream), globalHeader, error);
        if (!out)
            return false;
        encoded.push_back(std::move(*out));
    }
    for (const EncodedStream &out : encoded) {
        AVStream *stream = avformat_new_stream(muxer.get(), nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, out.parameters.get()) < 0)
            return fail(error, QStringLiteral("avformat_new_stream failed"));
        // Keep the encoder's tag (rawvideo's tells the pixel layout) unless
        // this muxer's tables give it another meaning.
        AVCodecParameters *parameters = stream->codecpar;
        if (muxer->oformat->codec_tag &&
            av_codec_get_id(muxer->oformat->codec_tag, parameters->codec_tag) !=
                parameters->codec_id)
            parameters->codec_tag = 0;
        stream->time_base = out.timeBase;
        stream->sample_aspect_ratio = parameters->sample_aspect_ratio;
        if (out.frameRate.num > 0)
            stream->avg_frame_rate = stream->r_frame_rate = out.frameRate;
        if (out.displayMatrix != decltype(out.displayMatrix){}) {
            const size_t size = sizeof out.displayMatrix;
            uint8_t *data = av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, size);
            if (!data)
                return fail(error, QStringLiteral("av_stream_new_side_data failed"));
            std::memcpy(data, out.displayMatrix.data(), size);
        }
    }

    if (!(muxer->oformat->flags & AVFMT_NOFILE)) {
        result = avio_open(&muxer->pb, name.constData(), AVIO_FLAG_WRITE);
        if (result < 0)
            return fail(error, ffmpegError("avio_open", result));
    }
    result = avformat_write_header(muxer.get(), nullptr);
    if (result < 0)
        return fail(error, ffmpegError("avformat_write_header", result));

    // Merge the streams' packets by time, as a real recording interleaves them.
    std::vector<size_t> next(encoded.size(), 0);
    for (;;) {
        int chosen = -1;
        for (size_t s = 0; s < encoded.size(); ++s) {
            if (next[s] >= encoded[s].packets.size())
                continue;
            const AVPacket *candidate = encoded[s].packets[next[s]].get();
            if (chosen < 0 ||
                av_compare_ts(orderingTime(candidate), encoded[s].timeBase,
                              orderingTime(encoded[chosen].packets[next[chosen]].get()),
                              encoded[chosen].timeBase) < 0)
                chosen = static_cast<int>(s);
        }
        if (chosen < 0)
            break;
        AVPacket *packet = encoded[chosen].packets[next[chosen]++].get();
        packet->stream_index = chosen;
        av_packet_rescale_ts(packet, encoded[chosen].timeBase, muxer->streams[chosen]->time_base);
        result = av_interleaved_write_frame(muxer.get(), packet);
        if (result < 0)
            return fail(error, ffmpegError("av_interleaved_write_frame", result));
    }
    result = av_write_trailer(muxer.get());
    if (result < 0)
        return fail(error, ffmpegError("av_write_trailer", result));
    return true;
}

bool writeVideo(const QString &path, const VideoStream &video, QString *error)
{
    MediaFile file;
    file.streams.push_back(video);
    return writeMedia(path, file, error);
}

bool writeUndecodableVideo(const QString &path, QString *error)
{
    // Codecs Debian's libavcodec knows by id but cannot decode, and
    // containers that carry them.
    const AVCodecID candidates[] = {AV_CODEC_ID_AVS2, AV_CODEC_ID_AVS3, AV_CODEC_ID_DAALA};
    const char *formats[] = {"nut", "matroska", "mpegts"};
    const QByteArray name = QFile::encodeName(path);
    for (AVCodecID id : candidates) {
        if (avcodec_find_decoder(id))
            continue;
        for (const char *format : formats) {
            QFile::remove(path);
            AVFormatContext *raw = nullptr;
            if (avformat_alloc_output_context2(&raw, nullptr, format, name.constData()) < 0 || !raw)
                continue;
            AVFormatOutputPtr muxer(raw);
            AVStream *stream = avformat_new_stream(muxer.get(), nullptr);
            if (!stream)
                continue;
            stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
            stream->codecpar->codec_id = id;
            stream->codecpar->width = 64;
            stream->codecpar->height = 48;
            stream->time_base = AVRational{1, 25};
            if (avio_open(&muxer->pb, name.constData(), AVIO_FLAG_WRITE) < 0)
                continue;
            if (avformat_write_header(muxer.get(), nullptr) < 0)
                continue;
            bool written = true;
            for (int i = 0; i < 10 && written; ++i) {
                AVPacketPtr packet(av_packet_alloc());
                written = packet && av_new_packet(packet.get(), 64) == 0;
                if (!written)
                    break;
                std::memset(packet->data, 0x11 * (i + 1), packet->size);
                packet->pts = packet->dts = i;
                packet->flags = AV_PKT_FLAG_KEY;
                av_packet_rescale_ts(packet.get(), AVRational{1, 25}, stream->time_base);
                written = av_interleaved_write_frame(muxer.get(), packet.get()) >= 0;
            }
            if (!written || av_write_trailer(muxer.get()) < 0)
                continue;
            muxer.reset();

            // Only a file that reads back as this codec is any use.
            AVFormatInputPtr check = openForReading(path);
            if (!check)
                continue;
            const int video = firstVideoStream(check.get());
            if (video >= 0 && check->streams[video]->codecpar->codec_id == id)
                return true;
        }
    }
    QFile::remove(path);
    return fail(error, QStringLiteral("no container carries an undecodable video codec"));
}

QImage uniformPicture(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QList<QRgb> paletteColours(int count)
{
    QList<QRgb> colours;
    for (int i = 0; i < count; ++i)
        colours << paletteColour(i);
    return colours;
}

VideoStream uniformColours(QSize size, const QList<QRgb> &colours, Codec codec)
{
    VideoStream video;
    video.codec = codec;
    video.pictureCount = static_cast<int>(colours.size());
    video.picture = [size, colours](int index) { return uniformPicture(size, colours.at(index)); };
    return video;
}

VideoStream pictureList(const QList<QImage> &pictures, Codec codec)
{
    VideoStream video;
    video.codec = codec;
    video.pictureCount = static_cast<int>(pictures.size());
    video.picture = [pictures](int index) { return pictures.at(index); };
    return video;
}

QRgb paletteColour(int index)
{
    // Walks the 4 x 4 x 4 cube of levels 0, 85, 170, 255 in steps of 37
    // (coprime to 64), so neighbours in time differ strongly.
    const int levels[4] = {0, 85, 170, 255};
    const int cell = (index % 64) * 37 % 64;
    return qRgb(levels[cell % 4], levels[cell / 4 % 4], levels[cell / 16]);
}

int nearestPaletteIndex(QRgb colour, int count)
{
    int best = -1;
    int bestDistance = 0;
    for (int i = 0; i < count; ++i) {
        const QRgb p = paletteColour(i);
        const int dr = qRed(p) - qRed(colour), dg = qGreen(p) - qGreen(colour),
                  db = qBlue(p) - qBlue(colour);
        const int distance = dr * dr + dg * dg + db * db;
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

bool encoderAvailable(Codec codec)
{
    return findEncoder(codec) != nullptr;
}

int countPackets(const QString &path)
{
    return countPacketsOf(path, false);
}

int countVideoPackets(const QString &path)
{
    return countPacketsOf(path, true);
}

int countKeyVideoPackets(const QString &path)
{
    return countPacketsOf(path, true, true);
}

QList<double> keyVideoPacketTimes(const QString &path)
{
    QList<double> times;
    AVFormatInputPtr container = openForReading(path);
    const int video = container ? firstVideoStream(container.get()) : -1;
    AVPacketPtr packet(av_packet_alloc());
    if (video < 0 || !packet)
        return times;
    const AVStream *stream = container->streams[video];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    while (av_read_frame(container.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY) &&
            packet->pts != AV_NOPTS_VALUE)
            times << double(packet->pts - start) * av_q2d(stream->time_base);
        av_packet_unref(packet.get());
    }
    std::sort(times.begin(), times.end());
    return times;
}

int countPictures(const QString &path)
{
    AVFormatInputPtr container = openForReading(path);
    if (!container)
        return -1;
    const int video = firstVideoStream(container.get());
    if (video < 0)
        return -1;
    const AVCodecParameters *parameters = container->streams[video]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec)
        return -1;
    AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    AVPacketPtr packet(av_packet_alloc());
    AVFramePtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame ||
        avcodec_parameters_to_context(decoder.get(), parameters) < 0)
        return -1;
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return -1;

    int count = 0;
    auto receiveAll = [&] {
        // EAGAIN: wants the next packet; EOF: drained; anything else is one
        // bad picture, and decoding goes on.
        for (;;) {
            const int result = avcodec_receive_frame(decoder.get(), frame.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return;
            if (result >= 0) {
                ++count;
                av_frame_unref(frame.get());
            }
        }
    };
    while (av_read_frame(container.get(), packet.get()) >= 0) {
        if (packet->stream_index == video) {
            avcodec_send_packet(decoder.get(), packet.get());
            receiveAll();
        }
        av_packet_unref(packet.get());
    }
    if (avcodec_send_packet(decoder.get(), nullptr) < 0)
        return -1;
    receiveAll();
    return count;
}

} // namespace testvideo
