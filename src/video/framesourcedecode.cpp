// Reading a frame source: packets to the decoder, pictures out of it with
// their times, the drain at the end and the skipping of all but key pictures.
#include "video/framesource_p.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

namespace {

// Takes the next decoded picture, if the decoder has one, into the output.
// Returns true for a converted picture; the decoded one is released either way.
bool receivePicture(FrameSource &source, int &receiveResult)
{
    AVFrame *picture = source.decodedPicture.get();
    receiveResult = avcodec_receive_frame(source.decoderContext.get(), picture);
    if (receiveResult < 0)
        return false;
    const int64_t time = takePictureTime(source, *picture);
    // Decoders refuse such pictures themselves (max_pixels); this catches any that does not.
    const bool allowed = int64_t(picture->width) * picture->height <= source.maxPixels;
    const bool wanted = !source.pictureFilter || source.pictureFilter(secondsOf(source, time));
    const bool converted = allowed && wanted && convertPicture(source, picture);
    if (converted) {
        source.pictureTimestamp = time;
        source.pictureDuration = picture->pkt_duration;
        source.pictureCorrupt = picture->flags & AV_FRAME_FLAG_CORRUPT;
    }
    av_frame_unref(picture);
    return converted;
}

// The run is over: the decoder's pictures, threads and scaler are given back.
// The container and the output buffer stay, for the last picture and the
// progress readers.
FrameStatus finish(FrameSource &source)
{
    source.ended = true;
    source.decoderContext.reset();
    source.scaler.reset();
    source.decodedPicture.reset();
    source.storedPicture.reset();
    source.toneMapper.reset();
    return EndOfStream;
}

// Status of a read while the flushed decoder hands out what it still holds.
FrameStatus drainStatus(FrameSource &source, bool converted, int received)
{
    if (converted)
        return FrameReady;
    if (received == AVERROR_EOF || received == AVERROR(EAGAIN))
        return finish(source);
    return NoPicture; // a damaged or unconvertible picture; more may follow
}

// Moves the demuxer to the first key picture of the index after the packet
// whose decoding time is dts, so that the packets between are never read.
// Reading goes on from where it was when there is none or the seek fails.
void skipToNextKeyPicture(FrameSource &source, int64_t dts)
{
    if (dts == AV_NOPTS_VALUE)
        return;
    AVStream *stream = source.container->streams[source.videoStream];
    const int count = avformat_index_get_entries_count(stream);
    // The first entry after dts, by bisection: the index is in time order.
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (avformat_index_get_entry(stream, middle)->timestamp <= dts)
            low = middle + 1;
        else
            high = middle;
    }
    for (int i = low; i < count; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(stream, i);
        if (!(entry->flags & AVINDEX_KEYFRAME))
            continue;
        // The index counts in decoding time, a seek in presentation time,
        // which is never earlier: the first key picture from there is this
        // one.
        av_seek_frame(source.container.get(), source.videoStream, entry->timestamp, 0);
        return;
    }
}

// One picture interval in the stream's time base: from the frame rate, else
// the picture's own duration; at least one tick.
int64_t pictureInterval(const AVStream &stream, const AVFrame &picture)
{
    // Damaged rates and durations must not overflow the times they step.
    const AVRational rate = pictureRate(stream);
    if (rate.num > 0)
        return std::clamp<int64_t>(av_rescale_q(1, av_inv_q(rate), stream.time_base), 1, INT_MAX);
    return std::clamp<int64_t>(picture.pkt_duration, 1, INT_MAX);
}

// Where the file starts, in the stream's time base: a first picture without
// a time is placed there.
int64_t fileStartTimestamp(const FrameSource &source)
{
    const double ticks =
        fileStart(source) / av_q2d(source.container->streams[source.videoStream]->time_base);
    return std::isfinite(ticks) && std::abs(ticks) < 1e18 ? std::llround(ticks) : 0;
}

// time + step, but no further than the largest time.
int64_t stepped(int64_t time, int64_t step)
{
    return time > INT64_MAX - step ? INT64_MAX : time + step;
}

// Noted times beyond what a decoder can hold (its frame threads and H.264's
// 16 reordered pictures) belong to packets that gave no picture, e.g. damaged
// ones; left in place, every later picture would take an earlier one's time.
size_t pendingLimit(const FrameSource &source)
{
    return static_cast<size_t>(std::max(source.decoderContext->thread_count, 1)) + 18;
}

} // namespace

FrameStatus readFrame(FrameSource *source)
{
    if (source->ended)
        return EndOfStream;
    armDeadline(*source);
    // A packet may have given more than one picture: hand those out first.
    // This also empties the decoder's output, so the next send is not refused
    // with EAGAIN.
    int received = 0;
    bool converted = receivePicture(*source, received);
    if (source->draining)
        return drainStatus(*source, converted, received);
    if (converted)
        return FrameReady;
    if (received >= 0)
        return NoPicture; // decoded but not convertible: the buffer keeps the last picture

    AVPacket *packet = source->packet.get();
    if (av_read_frame(source->container.get(), packet) < 0) {
        av_packet_unref(packet);
        source->draining = true;
        if (sendPacket(*source, nullptr) < 0)
            return finish(*source);
        converted = receivePicture(*source, received);
        return drainStatus(*source, converted, received);
    }
    if (packet->stream_index != source->videoStream) {
        av_packet_unref(packet);
        return ForeignPacket;
    }
    if (source->keyPicturesOnly && !(packet->flags & AV_PKT_FLAG_KEY)) {
        av_packet_unref(packet);
        return NoPicture;
    }
    // A seek that came back to a key picture already read: read on from here,
    // packet by packet, never measuring one twice.
    if (source->keyIndexComplete && packet->dts != AV_NOPTS_VALUE &&
        source->lastKeyDts != AV_NOPTS_VALUE && packet->dts <= source->lastKeyDts) {
        source->keyIndexComplete = false;
        av_packet_unref(packet);
        return NoPicture;
    }
    // A damaged packet makes the send (or a later receive) fail; the decoder
    // stays usable for the packets after it.
    sendPacket(*source, packet);
    if (source->keyPicturesOnly && source->keyIndexComplete) {
        source->lastKeyDts = packet->dts;
        skipToNextKeyPicture(*source, packet->dts);
    }
    av_packet_unref(packet);
    return receivePicture(*source, received) ? FrameReady : NoPicture;
}

void setKeyPicturesOnly(FrameSource *source, bool keyOnly)
{
    source->keyPicturesOnly = keyOnly;
    // MP4 and MOV index every sample with its key flag (stss), so the reader
    // can go from key picture to key picture without reading what lies
    // between. Other indexes (Matroska's cues) may leave key pictures out.
    const AVFormatContext *container = source->container.get();
    source->keyIndexComplete =
        keyOnly && container && std::strncmp(container->iformat->name, "mov,", 4) == 0 &&
        avformat_index_get_entries_count(container->streams[source->videoStream]) > 0;
    // The decoder may still hold or make others (e.g. from a damaged key packet).
    if (source->decoderContext)
        source->decoderContext->skip_frame = keyOnly ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
}

int sendPacket(FrameSource &source, const AVPacket *packet)
{
    const int result = avcodec_send_packet(source.decoderContext.get(), packet);
    if (result < 0 || !packet)
        return result;
    if (packet->pts == AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE)
        source.decodeOrderTimes = true;
    const int64_t time =
        source.decodeOrderTimes && packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (time == AV_NOPTS_VALUE)
        return result;
    std::vector<int64_t> &pending = source.pendingTimes;
    pending.push_back(time);
    std::push_heap(pending.begin(), pending.end(), std::greater<>());
    if (pending.size() > pendingLimit(source)) {
        std::pop_heap(pending.begin(), pending.end(), std::greater<>());
        pending.pop_back();
    }
    return result;
}

int64_t takePictureTime(FrameSource &source, const AVFrame &picture)
{
    std::vector<int64_t> &pending = source.pendingTimes;
    const AVStream &stream = *source.container->streams[source.videoStream];
    // The first picture after a seek comes as many pictures before the packet
    // that released it as the decoder reorders. Pictures that were to come
    // before it were dropped (B-frames that also refer to the pictures before
    // the seek, in open GOPs): their times go with them.
    const int64_t reordered = int64_t(std::clamp(source.decoderContext->has_b_frames, 0, 64)) *
                              pictureInterval(stream, picture);
    if (source.decodeOrderTimes && source.lastTime == AV_NOPTS_VALUE &&
        picture.pkt_dts != AV_NOPTS_VALUE && picture.pkt_dts > INT64_MIN + reordered) {
        const int64_t first = picture.pkt_dts - reordered;
        while (pending.size() > 1 && pending.front() < first) {
            std::pop_heap(pending.begin(), pending.end(), std::greater<>());
            pending.pop_back();
        }
    }
    int64_t earliest = AV_NOPTS_VALUE;
    if (!pending.empty()) {
        std::pop_heap(pending.begin(), pending.end(), std::greater<>());
        earliest = pending.back();
        pending.pop_back();
    }
    int64_t time = source.decodeOrderTimes ? earliest : picture.best_effort_timestamp;
    if (source.lastTime != AV_NOPTS_VALUE && (time == AV_NOPTS_VALUE || time <= source.lastTime)) {
        // A last picture drained from the decoder often has none (AVI).
        const int64_t step = source.lastDuration > 0
                                 ? std::min<int64_t>(source.lastDuration, INT_MAX)
                                 : pictureInterval(stream, picture);
        time = stepped(source.lastTime, step);
    } else if (time == AV_NOPTS_VALUE) {
        time = fileStartTimestamp(source);
    }
    source.lastTime = time;
    source.lastDuration = picture.pkt_duration;
    return time;
}

void forgetPictureTimes(FrameSource &source)
{
    source.pendingTimes.clear();
    source.lastTime = AV_NOPTS_VALUE;
    source.lastDuration = 0;
}
