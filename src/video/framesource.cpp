// A frame source's settings, its end, and what readers take from it: the
// output, the pictures' times and the progress.
#include "video/framesource_p.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

int rgb32PixelFormat()
{
    return AV_PIX_FMT_RGB32;
}

void quietVideoLibraries(bool keepFatal)
{
    av_log_set_level(keepFatal ? AV_LOG_FATAL : AV_LOG_QUIET);
}

void FrameSourceCloser::operator()(FrameSource *source) const
{
    closeFrameSource(source);
}

void setPictureFilter(FrameSource *source, PictureFilter accept)
{
    source->pictureFilter = std::move(accept);
}

void setRowObserver(FrameSource *source, RowObserver observer)
{
    source->rowObserver = std::move(observer);
}

FrameSource *closeFrameSource(FrameSource *source)
{
    // The members' order releases everything correctly, even half-built.
    std::unique_ptr<FrameSource> owned(source);
    return nullptr;
}

// Seconds of timestamp from the start of the file; negative when unknown.
double secondsOf(const FrameSource &source, int64_t timestamp)
{
    if (timestamp == AV_NOPTS_VALUE)
        return -1.0;
    const AVStream *stream = source.container->streams[source.videoStream];
    // In floating point: damaged timestamps must not overflow. The container's
    // start is rounded to microseconds, so the first picture may come out a
    // hair before it; negative would mean "unknown".
    const double time =
        static_cast<double>(timestamp) * av_q2d(stream->time_base) - fileStart(source);
    return std::max(time, 0.0);
}

int outputWidth(const FrameSource *source)
{
    return source->outputWidth;
}

int outputHeight(const FrameSource *source)
{
    return source->outputHeight;
}

const uint8_t *outputPixels(const FrameSource *source)
{
    return source->outputPicture->data[0];
}

double currentPictureTime(const FrameSource *source)
{
    return secondsOf(*source, source->pictureTimestamp);
}

AVRational pictureRate(const AVStream &stream)
{
    for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return rate;
    return AVRational{0, 1};
}

double currentPictureDuration(const FrameSource *source)
{
    const AVStream *stream = source->container->streams[source->videoStream];
    if (source->pictureDuration > 0)
        return static_cast<double>(source->pictureDuration) * av_q2d(stream->time_base);
    const AVRational rate = pictureRate(*stream);
    return rate.num > 0 ? av_q2d(av_inv_q(rate)) : -1.0;
}

double streamDuration(const FrameSource *source)
{
    const AVFormatContext *container = source->container.get();
    const AVStream *stream = container->streams[source->videoStream];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        // Measured like the pictures' times, from the start of the file.
        const double timeBase = av_q2d(stream->time_base);
        double end = static_cast<double>(stream->duration) * timeBase;
        if (stream->start_time != AV_NOPTS_VALUE)
            end += static_cast<double>(stream->start_time) * timeBase - fileStart(*source);
        return end;
    }
    if (container->duration != AV_NOPTS_VALUE && container->duration > 0)
        return static_cast<double>(container->duration) / AV_TIME_BASE;
    return -1.0;
}

int64_t estimatedPictureCount(const FrameSource *source)
{
    const AVStream *stream = source->container->streams[source->videoStream];
    if (stream->nb_frames > 0)
        return stream->nb_frames;
    const double duration = streamDuration(source);
    const AVRational rate = pictureRate(*stream);
    if (duration <= 0 || rate.num <= 0)
        return -1;
    const double count = std::ceil(duration * av_q2d(rate));
    return count < double(INT64_MAX / 2) ? int64_t(count) : -1;
}

std::string streamTitle(const FrameSource *source)
{
    // The file's own tag first (Matroska and MP4 keep it there), else the
    // video stream's.
    for (AVDictionary *tags :
         {source->container->metadata, source->container->streams[source->videoStream]->metadata}) {
        const AVDictionaryEntry *entry = av_dict_get(tags, "title", nullptr, 0);
        if (entry && entry->value && entry->value[0])
            return entry->value;
    }
    return {};
}

int64_t readPosition(const FrameSource *source)
{
    AVIOContext *io = source->container->pb;
    return io ? avio_tell(io) : -1;
}

int64_t fileSize(const FrameSource *source)
{
    AVIOContext *io = source->container->pb;
    if (!io)
        return -1;
    const int64_t size = avio_size(io);
    return size >= 0 ? size : -1;
}

double progressFraction(double pictureTime, double duration, int64_t position, int64_t size)
{
    double fraction = -1.0;
    if (duration > 0 && pictureTime >= 0)
        fraction = pictureTime / duration;
    else if (size > 0 && position >= 0)
        fraction = static_cast<double>(position) / static_cast<double>(size);
    return fraction < 0 ? -1.0 : std::min(fraction, 1.0);
}

double progressFraction(const FrameSource *source)
{
    return progressFraction(currentPictureTime(source), streamDuration(source),
                            readPosition(source), fileSize(source));
}

// Where the file's time starts, in seconds of the stream's timestamps. The
// container's start is the earliest of all its streams, so a video that
// starts after its audio is timed alike in every container.
double fileStart(const FrameSource &source)
{
    const AVFormatContext *container = source.container.get();
    const AVStream *stream = container->streams[source.videoStream];
    if (container->start_time != AV_NOPTS_VALUE)
        return static_cast<double>(container->start_time) / AV_TIME_BASE;
    if (stream->start_time != AV_NOPTS_VALUE)
        return static_cast<double>(stream->start_time) * av_q2d(stream->time_base);
    return 0.0;
}
