#include "video/keypicturejump.h"

#include "video/framesource_p.h"

#include <algorithm>
#include <cmath>

bool jumpToKeyPictureBefore(FrameSource *source, double seconds)
{
    if (source->ended || !source->decoderContext)
        return false;
    AVFormatContext *container = source->container.get();
    const AVStream *stream = container->streams[source->videoStream];
    // The file's start, as the pictures' times count from it.
    double start = 0.0;
    if (container->start_time != AV_NOPTS_VALUE)
        start = static_cast<double>(container->start_time) / AV_TIME_BASE;
    else if (stream->start_time != AV_NOPTS_VALUE)
        start = static_cast<double>(stream->start_time) * av_q2d(stream->time_base);
    const double ticks = (std::max(seconds, 0.0) + start) / av_q2d(stream->time_base);
    if (!std::isfinite(ticks) || std::fabs(ticks) > 1e17)
        return false;
    source->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    if (av_seek_frame(container, source->videoStream, std::llround(ticks), AVSEEK_FLAG_BACKWARD) <
        0)
        return false;
    avcodec_flush_buffers(source->decoderContext.get());
    source->draining = false;
    return true;
}
