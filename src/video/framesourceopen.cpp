// Opening a frame source: the path checks, probing the container within the
// time limit, the pixel limits, and the reasons an open fails.
#include "video/framesource_p.h"
#include "video/rawcode.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than any open or read of a local file takes, short enough that a
// stuck one does not look like a hang forever.
constexpr auto operationLimit = std::chrono::seconds(30);

// FFmpeg's interrupt callback: nonzero gives the current operation up.
int pastDeadline(void *opaque)
{
    return std::chrono::steady_clock::now() > static_cast<const FrameSource *>(opaque)->deadline;
}

// How far the demuxer looks for a stream's parameters when the first look
// ended before the video began (e.g. a video starting minutes after its
// audio). FFmpeg's defaults are 5 s and 5 MB. The second look goes on until
// the first picture, however late, bounded only by bytes (what it reads is
// kept in memory) and by the time limit of an open.
constexpr int64_t deepAnalysisMicroseconds = int64_t(365) * 24 * 3600 * AV_TIME_BASE;
constexpr int64_t deepProbeBytes = int64_t(256) << 20;

// Decoded pixels all frame threads hold together at most: 1080p keeps the
// full count, larger pictures get fewer threads.
constexpr int64_t pixelsInFlight = int64_t(1) << 25;

int frameThreadsFor(int64_t pixels)
{
    return static_cast<int>(std::clamp<int64_t>(pixelsInFlight / std::max<int64_t>(pixels, 1), 1,
                                                decoderThreadCount()));
}

// The name as a URL of FFmpeg's file protocol, absolute so that nothing
// before a colon in a relative name ("pipe:0", "http:") is taken for a
// protocol. error is set when the working directory is unknown.
std::string fileUrl(const char *path, std::error_code &error)
{
    return "file:" + std::filesystem::absolute(path, error).native();
}

int firstVideoStream(const AVFormatContext *container)
{
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        if (container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            return static_cast<int>(i);
    }
    return -1;
}

// The max_pixels for a decoder of pictures of this size (0 x 0 if unknown).
// Decoders check the width rounded up to their row alignment (64 at most):
// a picture within the limit gets that room, so that it always decodes.
// FFmpeg's option is an int: a larger limit is no limit to it.
int64_t decoderPixelLimit(int64_t maxPixels, int width, int height)
{
    const int64_t pixels = int64_t(width) * height;
    int64_t limit = maxPixels;
    if (pixels <= 0) // room for any picture at least 64 wide
        limit = maxPixels > INT_MAX ? INT_MAX : maxPixels + maxPixels / 64 * 63;
    else if (pixels <= maxPixels)
        limit = std::max(maxPixels, (int64_t(width) + 63) / 64 * 64 * height);
    return std::min<int64_t>(limit, INT_MAX);
}

bool tooLarge(const FrameSource &source, const AVCodecParameters &parameters)
{
    return int64_t(parameters.width) * parameters.height > source.maxPixels;
}

std::string tooLargeReason(const FrameSource &source, int64_t width, int64_t height)
{
    return "Picture " + std::to_string(width) + 'x' + std::to_string(height) +
           " is larger than the limit of " + std::to_string(source.maxPixels) + " pixels.";
}

std::string tooLargeReason(const FrameSource &source, const AVCodecParameters &parameters)
{
    return tooLargeReason(source, parameters.width, parameters.height);
}

constexpr const char *unconvertible = "Pictures of this size or pixel format cannot be converted.";
constexpr const char *unusableOutput =
    "Pictures cannot be converted to the requested size or pixel format.";

unsigned bigEndian(const uint8_t *bytes, int count)
{
    unsigned value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// The picture size a PNG or JPEG picture's header claims, {0, 0} if none:
// the decoders refuse pictures over the limit without keeping their size.
std::pair<int64_t, int64_t> headerSize(AVCodecID codec, const uint8_t *data, int size)
{
    if (codec == AV_CODEC_ID_PNG || codec == AV_CODEC_ID_APNG) {
        if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0)
            return {bigEndian(data + 16, 4), bigEndian(data + 20, 4)};
        return {0, 0};
    }
    if (codec != AV_CODEC_ID_MJPEG)
        return {0, 0};
    // Marker segments up to the first start of frame (SOF0 to SOF15 less
    // DHT, JPG and DAC), which holds height and width.
    for (int i = 0; i + 9 <= size;) {
        const uint8_t marker = data[i + 1];
        if (data[i] != 0xff || marker == 0xff) {
            ++i;
            continue;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            return {bigEndian(data + i + 7, 2), bigEndian(data + i + 5, 2)};
        const bool standalone =
            marker == 0xd8 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7);
        i += standalone ? 2 : 2 + static_cast<int>(bigEndian(data + i + 2, 2));
    }
    return {0, 0};
}

// Why the scaler refused the stream at open, as a sentence for the user.
// Reads on into the container, which the failed open then closes.
std::string unconvertibleReason(FrameSource &source)
{
    const AVCodecContext *decoder = source.decoderContext.get();
    if (decoder->width > 0 && decoder->height > 0) {
        if (decoder->pix_fmt == AV_PIX_FMT_NONE)
            return "No picture of the video stream could be decoded (its headers may be missing "
                   "or damaged).";
        return unconvertible;
    }
    AVPacket *packet = source.packet.get();
    for (int i = 0; i < 64 && av_read_frame(source.container.get(), packet) >= 0; ++i) {
        const bool video = packet->stream_index == source.videoStream;
        const auto [width, height] = video
                                         ? headerSize(decoder->codec_id, packet->data, packet->size)
                                         : std::pair<int64_t, int64_t>{0, 0};
        av_packet_unref(packet);
        if (width > 0 && height > 0 && width > source.maxPixels / height)
            return tooLargeReason(source, width, height);
        if (video)
            break;
    }
    return "The video stream does not give its picture size: its headers are missing or "
           "damaged.";
}

// Whether the first video stream's size and pixel format are known, or there
// is no such stream in a container that says up front what it holds.
bool settled(const FrameSource &source)
{
    const AVFormatContext *container = source.container.get();
    if (source.videoStream < 0)
        return !(container->ctx_flags & AVFMTCTX_NOHEADER);
    const AVCodecParameters *parameters = container->streams[source.videoStream]->codecpar;
    return parameters->width > 0 && parameters->height > 0 && parameters->format >= 0;
}

// Reasons an open fails with, as sentences for the user.

std::string systemReason(int error)
{
    // The message text of strerror, without its thread-unsafe buffer.
    return std::generic_category().message(error) + '.';
}

std::string ffmpegDetail(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string notMedia(int code)
{
    return "This is not a video or image file. (" + ffmpegDetail(code) + ')';
}

std::string decoderFailure(int code)
{
    return "The video decoder could not be opened. (" + ffmpegDetail(code) + ')';
}

// What a path is instead of a regular file or a block device.
std::string kindReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return "Is a directory.";
    if (S_ISFIFO(mode))
        return "Is a named pipe (FIFO), not a file.";
    if (S_ISSOCK(mode))
        return "Is a socket, not a file.";
    if (S_ISCHR(mode))
        return "Is a device, not a file.";
    return "Is not a file.";
}

// Fails an open: null, with reason in *why when the caller wants it.
FrameSourcePtr refuse(std::string *why, std::string reason)
{
    if (why)
        *why = std::move(reason);
    return nullptr;
}

// The format of url by its contents alone, or null.
const AVInputFormat *formatByContents(const std::string &url, const AVIOInterruptCB &interrupt)
{
    AVDictionaryOwner options;
    av_dict_set(options.address(), "protocol_whitelist", "file", 0);
    AVIOContext *opened = nullptr;
    if (avio_open2(&opened, url.c_str(), AVIO_FLAG_READ, &interrupt, options.address()) < 0)
        return nullptr;
    const AVIOContextPtr io(opened);
    const AVInputFormat *format = nullptr;
    if (av_probe_input_buffer2(io.get(), &format, "", nullptr, 0, 0) < 0)
        return nullptr;
    return format;
}

// Opens url as the source's container and finds its streams' parameters,
// looking up to deepAnalysis/deepProbe far when deep. Only the file protocol
// is allowed, also for whatever the file refers to (playlists), and the image
// demuxer reads the named file itself, never a numbered sequence. Returns the
// reason it failed, or empty.
std::string openContainer(FrameSource &source, const std::string &url, bool deep)
{
    source.container.reset();
    source.videoStream = -1;
    armDeadline(source);
    AVDictionaryOwner options;
    av_dict_set(options.address(), "protocol_whitelist", "file", 0);
    // A private option of image2; demuxers without it leave it in the
    // dictionary, which the owner frees.
    av_dict_set(options.address(), "pattern_type", "none", 0);
    if (deep) {
        av_dict_set_int(options.address(), "analyzeduration", deepAnalysisMicroseconds, 0);
        av_dict_set_int(options.address(), "probesize", deepProbeBytes, 0);
    }
    const AVIOInterruptCB interrupt{pastDeadline, &source};
    // FFmpeg takes a name with a % and an image extension for a numbered
    // sequence of images whatever the file holds; the contents decide here.
    const AVInputFormat *format = nullptr;
    if (url.find('%') != std::string::npos && !(format = formatByContents(url, interrupt)))
        return "This is not a video or image file. (Its contents match no format FFmpeg knows; "
               "a name with % is read as that one file, never as numbered pictures.)";
    int result = 0;
    source.container = openInput(url.c_str(), &result, &interrupt, options.address(), format);
    if (!source.container)
        return notMedia(result);
    AVFormatContext *container = source.container.get();

    // A stream that says its pictures are too large is refused before any is
    // decoded; the decoders that find the parameters refuse them too.
    source.videoStream = firstVideoStream(container);
    if (source.videoStream >= 0 &&
        tooLarge(source, *container->streams[source.videoStream]->codecpar))
        return tooLargeReason(source, *container->streams[source.videoStream]->codecpar);
    AVDictionaryArray streamOptions(container->nb_streams);
    for (unsigned i = 0; i < container->nb_streams; ++i) {
        const AVCodecParameters *parameters = container->streams[i]->codecpar;
        av_dict_set_int(&streamOptions.data()[i], "max_pixels",
                        decoderPixelLimit(source.maxPixels, parameters->width, parameters->height),
                        0);
    }
    if ((result = avformat_find_stream_info(container, streamOptions.data())) < 0)
        return notMedia(result);
    source.videoStream = firstVideoStream(container);
    return {};
}

} // namespace

void armDeadline(FrameSource &source)
{
    source.deadline = std::chrono::steady_clock::now() + operationLimit;
}

int decoderThreadCount()
{
    // Two more than FFmpeg's own choice of cores + 1: the caller converts and
    // measures each picture, and with more pictures in flight the cores stay
    // busy while a decoder thread waits for a picture it refers to. FFmpeg
    // advises against more than 16.
    return std::min(av_cpu_count() + 3, 16);
}

FrameSourcePtr openFrameSource(const char *path, const FrameSourceOptions &options,
                               std::string *why)
{
    // The file system is asked first, for reasons FFmpeg would blur into one
    // of its own codes; a name it cannot find never reaches FFmpeg.
    struct stat status;
    if (stat(path, &status) != 0)
        return refuse(why, systemReason(errno));
    if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
        // Opening a FIFO waits for a writer, possibly forever, and a
        // directory or a device is no video.
        return refuse(why, kindReason(status.st_mode));
    }
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return refuse(why, systemReason(errno));
    close(descriptor);
    std::error_code cwdError;
    const std::string url = fileUrl(path, cwdError);
    if (cwdError)
        return refuse(why, cwdError.message() + '.');

    FrameSourcePtr source(std::make_unique<FrameSource>().release());
    source->outputFormat = options.pixelFormat;
    source->maxPixels = std::max<int64_t>(options.maxPixels, 1);
    source->exactColours = options.exactColours;

    std::string reason = openContainer(*source, url, false);
    // The first look ends after 5 seconds of any stream: a video that starts
    // later is still unknown then.
    if (reason.empty() && !settled(*source))
        reason = openContainer(*source, url, true);
    if (!reason.empty())
        return refuse(why, reason);
    AVFormatContext *container = source->container.get();
    if (source->videoStream < 0)
        return refuse(why, "The file has no video stream.");
    const AVStream *stream = container->streams[source->videoStream];
    if (tooLarge(*source, *stream->codecpar))
        return refuse(why, tooLargeReason(*source, *stream->codecpar));
    // Pictures are delivered as displayed; a format that cannot be turned
    // pixel by pixel gets them as stored.
    if (turnablePixelBytes(options.pixelFormat) > 0)
        source->orientation = streamOrientation(*stream);

    source->decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!source->decoder)
        return refuse(why, std::string("No decoder for the video codec ") +
                               avcodec_get_name(stream->codecpar->codec_id) + '.');
    source->decoderContext.reset(avcodec_alloc_context3(source->decoder));
    if (!source->decoderContext)
        return refuse(why, decoderFailure(AVERROR(ENOMEM)));
    AVCodecContext *decoderContext = source->decoderContext.get();
    int result = 0;
    if ((result = avcodec_parameters_to_context(decoderContext, stream->codecpar)) < 0)
        return refuse(why, decoderFailure(result));
    decoderContext->pkt_timebase = stream->time_base;
    // AVI times its packets in decoding order; a B-frame's "presentation"
    // time there is a guess from it.
    source->decodeOrderTimes = std::strcmp(container->iformat->name, "avi") == 0;
    decoderContext->max_pixels =
        decoderPixelLimit(source->maxPixels, decoderContext->width, decoderContext->height);
    // Frame threading delays pictures by a few packets (NoPicture first, the
    // drain at the end delivers them). Each thread holds pictures of its own.
    decoderContext->thread_count =
        frameThreadsFor(int64_t(decoderContext->width) * decoderContext->height);
    decoderContext->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;

    // The size is settled before the decoder is opened, from the stream as
    // displayed.
    const bool swapped = source->orientation.swapsAxes;
    const int shownWidth = swapped ? decoderContext->height : decoderContext->width;
    const int shownHeight = swapped ? decoderContext->width : decoderContext->height;
    source->outputWidth = options.width != 0 ? options.width : shownWidth;
    source->outputHeight = options.height != 0 ? options.height : shownHeight;
    if (options.glanceWidth > 0) {
        source->glance = true;
        decoderContext->skip_loop_filter = AVDISCARD_ALL;
        if (options.width == 0 && options.height == 0 && shownWidth > options.glanceWidth) {
            source->outputWidth = options.glanceWidth;
            source->outputHeight = std::max(
                1, int(std::lround(double(shownHeight) * options.glanceWidth / shownWidth)));
        }
    }

    if ((result = avcodec_open2(decoderContext, source->decoder, nullptr)) < 0)
        return refuse(why, decoderFailure(result));

    source->decodedPicture.reset(av_frame_alloc());
    source->outputPicture.reset(av_frame_alloc());
    source->packet.reset(av_packet_alloc());
    if (!source->decodedPicture || !source->outputPicture || !source->packet)
        return refuse(why, systemReason(ENOMEM));
    if (decoderContext->width <= 0 || decoderContext->height <= 0)
        return refuse(why, unconvertibleReason(*source));

    const auto format = static_cast<AVPixelFormat>(options.pixelFormat);
    const int size = av_image_get_buffer_size(format, source->outputWidth, source->outputHeight, 1);
    if (size <= 0)
        return refuse(why, unusableOutput);
    // The frame owns the buffer; the scaler writes through a reference to it.
    // swscale's x86 YUV to RGB code writes rows in whole steps of 8 pixels,
    // past the end of the last row when the width is not a multiple of 8.
    AVFrame *output = source->outputPicture.get();
    output->buf[0] = av_buffer_alloc(static_cast<size_t>(size) + 64);
    if (!output->buf[0])
        return refuse(why, systemReason(ENOMEM));
    if (av_image_fill_arrays(output->data, output->linesize, output->buf[0]->data, format,
                             source->outputWidth, source->outputHeight, 1) < 0)
        return refuse(why, unusableOutput);
    output->width = source->outputWidth;
    output->height = source->outputHeight;
    output->format = options.pixelFormat;

    // Made now so that an unconvertible stream fails the open; pictures of
    // another size or format get their own scaler later.
    const ScalerKey key{decoderContext->width, decoderContext->height,
                        rawCode(decoderContext->pix_fmt), rawCode(decoderContext->color_range),
                        rawCode(decoderContext->colorspace)};
    if (!fitScaler(*source, key))
        return refuse(why, unconvertibleReason(*source));
    return source;
}
