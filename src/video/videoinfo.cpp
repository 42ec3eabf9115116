#include "video/videoinfo.h"

#include "video/framesource_p.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>

VideoInfo videoInfo(const FrameSource *source)
{
    VideoInfo info;
    info.width = source->outputWidth;
    info.height = source->outputHeight;
    info.duration = streamDuration(source);
    if (source->decoder)
        info.codec = source->decoder->name;
    const AVStream *stream = source->container->streams[source->videoStream];
    const AVRational rate = pictureRate(*stream);
    if (rate.num > 0 && rate.den > 0)
        info.frameRate = av_q2d(rate);
    const AVColorTransferCharacteristic transfer = stream->codecpar->color_trc;
    const char *name = av_color_transfer_name(transfer);
    if (name && transfer != AVCOL_TRC_UNSPECIFIED)
        info.transfer = name;
    info.hdr = transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix) {
        // The angle the old "rotate" tag gave, which FFmpeg turns into this matrix.
        const double degrees = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
        if (std::isfinite(degrees))
            info.rotation = (int(std::lround(degrees)) % 360 + 360) % 360;
    }
    return info;
}
