#include "video/tonemapper.h"

#include "video/rawcode.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <charconv>
#include <string>

namespace {

// The picture's own code, else the stream's.
int pictureOrStream(int picture, int stream, int unspecified)
{
    return picture != unspecified ? picture : stream;
}

int transferOf(const AVFrame &picture, const AVCodecParameters &stream)
{
    return pictureOrStream(rawCode(picture.color_trc), rawCode(stream.color_trc),
                           AVCOL_TRC_UNSPECIFIED);
}

// SDR white, the unit of tonemap's peak.
constexpr double referenceWhite = 100.0;

double lightLevelPeak(const AVContentLightMetadata *light)
{
    return light && light->MaxCLL > 0 ? light->MaxCLL / referenceWhite : 0.0;
}

double masteringPeak(const AVMasteringDisplayMetadata *display)
{
    return display && display->has_luminance && display->max_luminance.den > 0
               ? av_q2d(display->max_luminance) / referenceWhite
               : 0.0;
}

template <class T> const T *frameData(const AVFrame &picture, AVFrameSideDataType type)
{
    const AVFrameSideData *data = av_frame_get_side_data(&picture, type);
    return data && data->size >= sizeof(T) ? reinterpret_cast<const T *>(data->data) : nullptr;
}

template <class T> const T *streamData(const AVStream &stream, AVPacketSideDataType type)
{
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(&stream, type, &size);
    return data && size >= sizeof(T) ? reinterpret_cast<const T *>(data) : nullptr;
}

ToneMapKey keyFor(const AVFrame &picture, const AVStream &stream)
{
    const AVCodecParameters &parameters = *stream.codecpar;
    ToneMapKey key;
    key.width = picture.width;
    key.height = picture.height;
    key.format = picture.format;
    key.transfer = transferOf(picture, parameters);
    // zimg refuses "unspecified": HDR video that does not say is BT.2020.
    key.primaries = pictureOrStream(rawCode(picture.color_primaries),
                                    rawCode(parameters.color_primaries), AVCOL_PRI_UNSPECIFIED);
    if (key.primaries == AVCOL_PRI_UNSPECIFIED || key.primaries == AVCOL_PRI_RESERVED)
        key.primaries = AVCOL_PRI_BT2020;
    key.matrix = pictureOrStream(rawCode(picture.colorspace), rawCode(parameters.color_space),
                                 AVCOL_SPC_UNSPECIFIED);
    if (key.matrix == AVCOL_SPC_UNSPECIFIED || key.matrix == AVCOL_SPC_RESERVED)
        key.matrix = AVCOL_SPC_BT2020_NCL;
    key.range = pictureOrStream(rawCode(picture.color_range), rawCode(parameters.color_range),
                                AVCOL_RANGE_UNSPECIFIED);
    // RGB pictures have no matrix and use every level, whatever their tags
    // say; zimg finds no path for them otherwise.
    const AVPixFmtDescriptor *descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    if (descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_RGB)) {
        key.matrix = AVCOL_SPC_RGB;
        key.range = AVCOL_RANGE_JPEG;
    }
    key.peak = signalPeak(picture, stream);
    return key;
}

// tonemap's operator: mobius keeps colours up to 0.3 of SDR white as they
// are and bends only the brighter ones towards the peak, so an HDR copy of
// SDR pictures reads close to the original (hable darkens everything, by
// about 38 levels on average).
constexpr const char *toneCurve = "mobius";

// Whatever the C locale: the filters read a decimal point.
std::string decimal(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

bool isHdrPicture(const AVFrame &picture, const AVCodecParameters &stream)
{
    const int transfer = transferOf(picture, stream);
    return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

double signalPeak(const AVFrame &picture, const AVStream &stream)
{
    double peak = lightLevelPeak(
        frameData<AVContentLightMetadata>(picture, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL));
    if (peak <= 0)
        peak = masteringPeak(frameData<AVMasteringDisplayMetadata>(
            picture, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA));
    if (peak <= 0)
        peak = lightLevelPeak(
            streamData<AVContentLightMetadata>(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL));
    if (peak <= 0)
        peak = masteringPeak(
            streamData<AVMasteringDisplayMetadata>(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA));
    if (!(peak > 0))
        peak = 10.0;
    return std::clamp(peak, 1.0, 10000.0 / referenceWhite);
}

const AVFrame *ToneMapper::sdrPicture(const AVFrame *picture, const AVStream &stream)
{
    if (!isHdrPicture(*picture, *stream.codecpar))
        return picture;
    // Pictures the filters cannot take (zimg fails some only when it meets
    // the first one) are measured untouched: off in colour, but never a run
    // without pictures.
    const ToneMapKey wanted = keyFor(*picture, stream);
    if (wanted == refused)
        return picture;
    if (!fit(wanted)) {
        refused = wanted;
        return picture;
    }
    if (!mapped)
        mapped.reset(av_frame_alloc());
    if (!mapped)
        return nullptr;
    av_frame_unref(mapped.get());
    // KEEP_REF: the decoder's picture stays the caller's.
    if (av_buffersrc_add_frame_flags(input, const_cast<AVFrame *>(picture),
                                     AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
        av_buffersink_get_frame(output, mapped.get()) < 0) {
        // The graph may hold half a picture: it is not used again.
        reset();
        refused = wanted;
        return picture;
    }
    return mapped.get();
}

void ToneMapper::reset()
{
    input = output = nullptr;
    graph.reset();
    mapped.reset();
    key = {};
    refused = {};
}

bool ToneMapper::fit(const ToneMapKey &wanted)
{
    if (graph && wanted == key)
        return true;
    reset();
    AVFilterGraphPtr made(avfilter_graph_alloc());
    if (!made)
        return false;
    const std::string range = wanted.range == AVCOL_RANGE_JPEG ? "full" : "limited";
    // Linear light with SDR white at 1, BT.709 primaries (converted in linear
    // light, in float), the tone curve, then BT.709 transfer as full-range
    // 8-bit RGB for the scaler.
    const std::pair<const char *, std::string> chain[] = {
        {"buffer", "video_size=" + std::to_string(wanted.width) + 'x' +
                       std::to_string(wanted.height) + ":pix_fmt=" + std::to_string(wanted.format) +
                       ":time_base=1/25:pixel_aspect=1/1"},
        {"zscale", "tin=" + std::to_string(wanted.transfer) +
                       ":pin=" + std::to_string(wanted.primaries) +
                       ":min=" + std::to_string(wanted.matrix) + ":rin=" + range +
                       ":t=linear:npl=100:p=" + std::to_string(wanted.primaries) + ":m=gbr"},
        {"format", "gbrpf32le"},
        {"zscale", "p=709"},
        {"tonemap", std::string("tonemap=") + toneCurve + ":desat=0:peak=" + decimal(wanted.peak)},
        {"zscale", "t=709:m=709:r=full"},
        {"format", "gbrp"},
        {"buffersink", ""},
    };
    AVFilterContext *first = nullptr;
    AVFilterContext *last = nullptr;
    int index = 0;
    for (const auto &[name, options] : chain) {
        const AVFilter *filter = avfilter_get_by_name(name);
        AVFilterContext *context = nullptr;
        const std::string label = name + std::to_string(index++);
        if (!filter ||
            avfilter_graph_create_filter(&context, filter, label.c_str(),
                                         options.empty() ? nullptr : options.c_str(), nullptr,
                                         made.get()) < 0 ||
            (last && avfilter_link(last, 0, context, 0) < 0))
            return false;
        if (!first)
            first = context;
        last = context;
    }
    if (avfilter_graph_config(made.get(), nullptr) < 0)
        return false;
    graph = std::move(made);
    input = first;
    output = last;
    key = wanted;
    return true;
}
