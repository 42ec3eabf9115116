#include "video/framesourceseek.h"

#include "video/framesource_p.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// How far a picture's time may be from the wanted one: a quarter of a
// picture interval (a millisecond when the rate is unknown), far below the
// gap to the next picture.
double timeTolerance(const AVStream &stream)
{
    const AVRational rate = pictureRate(stream);
    return rate.num > 0 ? 0.25 * av_q2d(av_inv_q(rate)) : 1e-3;
}

// The packet's decoding time, else its presentation time: indexes may count
// in decoding time, which comes first.
int64_t earliestStamp(const AVPacket &packet)
{
    if (packet.dts == AV_NOPTS_VALUE || packet.pts == AV_NOPTS_VALUE)
        return packet.dts == AV_NOPTS_VALUE ? packet.pts : packet.dts;
    return std::min(packet.pts, packet.dts);
}

double secondsOfStamp(const FrameSource &source, int64_t stamp)
{
    const AVStream *stream = source.container->streams[source.videoStream];
    return static_cast<double>(stamp) * av_q2d(stream->time_base) - fileStart(source);
}

// Feeds the decoder the video packets of pictures before stamp (in the
// stream's time base), leaving out those no other picture refers to, and
// drops what it decodes of them, up to and including the first packet that
// may hold the wanted picture. Whatever the decoder gives out before that
// packet is earlier than stamp. False at the end of the file. first gets the
// earliest time of the first video packet read, the key picture sought.
bool approach(FrameSource &source, int64_t stamp, int64_t &first)
{
    first = AV_NOPTS_VALUE;
    AVCodecContext *decoder = source.decoderContext.get();
    AVPacket *packet = source.packet.get();
    AVFrame *picture = source.decodedPicture.get();
    const AVDiscard kept = decoder->skip_frame;
    const auto dropDecoded = [&] {
        while (avcodec_receive_frame(decoder, picture) >= 0) {
            takePictureTime(source, *picture);
            av_frame_unref(picture);
        }
    };
    for (;;) {
        if (av_read_frame(source.container.get(), packet) < 0) {
            av_packet_unref(packet);
            decoder->skip_frame = kept;
            return false;
        }
        if (packet->stream_index != source.videoStream) {
            av_packet_unref(packet);
            continue;
        }
        if (first == AV_NOPTS_VALUE)
            first = earliestStamp(*packet);
        // Without a presentation time a packet may hold any picture, and so
        // may one whose time the container guessed from a decoding time.
        const bool early =
            !source.decodeOrderTimes && packet->pts != AV_NOPTS_VALUE && packet->pts < stamp;
        decoder->skip_frame = early ? std::max(kept, AVDISCARD_NONREF) : kept;
        while (sendPacket(source, packet) == AVERROR(EAGAIN))
            dropDecoded();
        av_packet_unref(packet);
        if (!early)
            return true;
        dropDecoded();
    }
}

// seconds from the file's start in the stream's time base, rounded down;
// nothing when out of range.
std::optional<int64_t> streamStamp(const FrameSource &source, double seconds)
{
    const AVStream *stream = source.container->streams[source.videoStream];
    const double ticks = std::floor((seconds + fileStart(source)) / av_q2d(stream->time_base));
    if (!std::isfinite(ticks) || std::fabs(ticks) > 1e17)
        return std::nullopt;
    return static_cast<int64_t>(ticks);
}

// The time of the key picture a seek to seconds lands on, read from its
// packet; nothing when the seek fails or no packet follows.
std::optional<double> keyPictureBefore(FrameSource &source, double seconds)
{
    if (!jumpToKeyPictureBefore(&source, seconds))
        return std::nullopt;
    AVPacket *packet = source.packet.get();
    while (av_read_frame(source.container.get(), packet) >= 0) {
        const bool video = packet->stream_index == source.videoStream;
        const int64_t stamp = earliestStamp(*packet);
        av_packet_unref(packet);
        if (video && stamp != AV_NOPTS_VALUE)
            return secondsOfStamp(source, stamp);
        if (video)
            break;
    }
    av_packet_unref(packet);
    return std::nullopt;
}

// Without an index of the key pictures, how far ahead of the reader's
// picture one is read on to rather than sought: a second's step costs a
// second's decoding either way.
constexpr double readOnLimit = 2.0;

// Whether the picture at time is reached for less by decoding on from the
// reader's last picture than by seeking: it lies ahead, and the key picture a
// seek would start from is not after the reader's picture (or, where the
// index does not reach that far, it is close).
bool readOnCheaper(FrameSource &source, double time, double tolerance)
{
    const double current = currentPictureTime(&source);
    if (source.decodeOrderTimes || source.draining || source.pictureCorrupt || current < 0 ||
        time <= current + tolerance)
        return false;
    const std::optional<int64_t> stamp = streamStamp(source, time - tolerance);
    AVStream *stream = source.container->streams[source.videoStream];
    // An index read as the file is (MPEG-TS) knows no key pictures beyond.
    if (stamp && avformat_index_get_entry_from_timestamp(stream, *stamp, 0)) {
        const AVIndexEntry *key =
            avformat_index_get_entry_from_timestamp(stream, *stamp, AVSEEK_FLAG_BACKWARD);
        if (key && key->timestamp != AV_NOPTS_VALUE)
            return secondsOfStamp(source, key->timestamp) <= current + tolerance;
    }
    return time - current <= readOnLimit;
}

// Decodes on to the first picture from time on, converting only that one.
FrameStatus readOn(FrameSource &source, double time, double tolerance)
{
    PictureFilter kept = std::exchange(source.pictureFilter, [time, tolerance](double pictureTime) {
        return pictureTime >= time - tolerance;
    });
    FrameStatus status;
    do
        status = readFrame(&source);
    while (status != FrameReady && status != EndOfStream);
    source.pictureFilter = std::move(kept);
    return status;
}

// From the key picture at or before from on, decodes to the first picture
// from time on (see seekPicture); key gets the key picture's time in the
// stream's time base.
FrameStatus seekFrom(FrameSource &source, double time, double from, double tolerance, int64_t &key)
{
    key = AV_NOPTS_VALUE;
    // A little early: the file's start is rounded to microseconds, and a
    // backward seek must not land on the key picture after the wanted one.
    const std::optional<int64_t> target = streamStamp(source, time - tolerance);
    if (!target || !jumpToKeyPictureBefore(&source, from))
        return EndOfStream;
    // Packets timed before target hold earlier pictures: those that no other
    // picture refers to need no decoding at all.
    approach(source, *target, key);

    // Pictures before the wanted one are decoded for their references only.
    return readOn(source, time, tolerance);
}

} // namespace

bool jumpToKeyPictureBefore(FrameSource *source, double seconds)
{
    if (source->ended || !source->decoderContext)
        return false;
    const std::optional<int64_t> stamp = streamStamp(*source, std::max(seconds, 0.0));
    if (!stamp)
        return false;
    // The same limit readFrame sets: a seek may read to build its index.
    armDeadline(*source);
    if (av_seek_frame(source->container.get(), source->videoStream, *stamp, AVSEEK_FLAG_BACKWARD) <
        0)
        return false;
    avcodec_flush_buffers(source->decoderContext.get());
    forgetPictureTimes(*source);
    source->draining = false;
    return true;
}

FrameStatus seekPicture(FrameSource *source, double time)
{
    if (time < 0 || source->ended)
        return EndOfStream;
    const AVStream *stream = source->container->streams[source->videoStream];
    const double tolerance = timeTolerance(*stream);
    // Stepping through pictures: the one asked for may be in the buffer
    // already, or a few pictures on.
    const double current = currentPictureTime(source);
    if (current >= 0 && !source->pictureCorrupt && std::abs(current - time) <= tolerance)
        return FrameReady;
    if (readOnCheaper(*source, time, tolerance))
        return readOn(*source, time, tolerance);
    // H.264 with intra refresh has recovery points for key pictures: from
    // one, the pictures are whole only once a refresh is complete. The
    // decoder shows them flagged corrupt (rather than nothing until then).
    // And an index in decoding order (AVI) may lead to a key picture shown
    // after the wanted one, which came before it in an open GOP. Either
    // picture is sought again from the key picture before.
    AVCodecContext *decoder = source->decoderContext.get();
    const int flags = decoder->flags2;
    decoder->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
    double from = time - tolerance;
    // Where the index counts in decoding order, the key picture found may
    // come after pictures that refer to the one before, and the last ones
    // cannot be sought again: the search starts one key picture earlier.
    if (source->decodeOrderTimes) {
        const std::optional<double> key = keyPictureBefore(*source, from);
        if (key)
            from = std::min(from, *key - tolerance);
    }
    FrameStatus status = EndOfStream;
    int64_t last = AV_NOPTS_VALUE;
    for (int tries = 0; tries < 4; ++tries) {
        int64_t key = AV_NOPTS_VALUE;
        status = seekFrom(*source, time, from, tolerance, key);
        const bool late = currentPictureTime(source) > time + tolerance;
        if (status != FrameReady || !(source->pictureCorrupt || late) || key == AV_NOPTS_VALUE ||
            key == last)
            break;
        last = key;
        from = secondsOfStamp(*source, key) - tolerance;
        if (from < 0)
            break;
    }
    if (source->decoderContext)
        source->decoderContext->flags2 = flags;
    return status;
}

double sampleAspectRatio(const FrameSource *source)
{
    AVFormatContext *container = source->container.get();
    const AVRational sample =
        av_guess_sample_aspect_ratio(container, container->streams[source->videoStream], nullptr);
    const double ratio = sample.num > 0 && sample.den > 0 ? av_q2d(sample) : 1.0;
    // Turned a quarter, a stored pixel's width becomes its shown height.
    return source->orientation.swapsAxes ? 1.0 / ratio : ratio;
}
