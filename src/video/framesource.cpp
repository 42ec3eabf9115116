#include "video/framesource_p.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bicubic even at equal sizes: the scaler then only converts the pixel format.
constexpr int scalerFlags = SWS_BICUBIC;

// Observed bands are small enough to stay in a core's cache between their
// conversion and the observer's reading.
constexpr int bandBytes = 256 * 1024;

// Decoders copy colour fields straight from the bitstream (MPEG-4 takes any
// 8-bit matrix code), so the enum may hold a value it does not name; loading
// it as the enum would be undefined.
template <class Enum> int rawCode(const Enum &field)
{
    static_assert(sizeof(Enum) == sizeof(int));
    int code = 0;
    std::memcpy(&code, &field, sizeof code);
    return code;
}

ScalerKey keyOf(const AVFrame &picture)
{
    return {picture.width, picture.height, picture.format, rawCode(picture.color_range),
            rawCode(picture.colorspace)};
}

// The size the scaler writes: the output's, or its mirror image when a
// quarter turn follows.
int scaledWidth(const FrameSource &source)
{
    return source.orientation.swapsAxes ? source.outputHeight : source.outputWidth;
}

int scaledHeight(const FrameSource &source)
{
    return source.orientation.swapsAxes ? source.outputWidth : source.outputHeight;
}

// Gives a turned source the picture its scaler writes into, once.
bool fitStoredPicture(FrameSource &source)
{
    if (!source.orientation.turns() || source.storedPicture)
        return true;
    AVFramePtr stored(av_frame_alloc());
    if (!stored)
        return false;
    stored->width = scaledWidth(source);
    stored->height = scaledHeight(source);
    stored->format = source.outputFormat;
    if (av_frame_get_buffer(stored.get(), 0) < 0)
        return false;
    source.storedPicture = std::move(stored);
    return true;
}

// Makes sure the scaler fits the picture's own size, format and colour
// coding, which may differ from the stream's parameters and from the previous
// picture.
bool fitScaler(FrameSource &source, const ScalerKey &key)
{
    if (source.scaler && key == source.scalerKey)
        return true;
    // swscale asserts instead of failing on a format it has no descriptor
    // for, such as the "none" of a stream whose pictures never decoded.
    if (key.width <= 0 || key.height <= 0 ||
        !sws_isSupportedInput(static_cast<AVPixelFormat>(key.format)) ||
        !sws_isSupportedOutput(static_cast<AVPixelFormat>(source.outputFormat)) ||
        !fitStoredPicture(source))
        return false;
    source.scaler.reset(sws_getContext(
        key.width, key.height, static_cast<AVPixelFormat>(key.format), scaledWidth(source),
        scaledHeight(source), static_cast<AVPixelFormat>(source.outputFormat), scalerFlags, nullptr,
        nullptr, nullptr));
    if (!source.scaler)
        return false;
    source.scalerKey = key;
    const int alignment =
        std::max(1, static_cast<int>(sws_receive_slice_alignment(source.scaler.get())));
    const int64_t rowBytes = std::max<int64_t>(1, source.outputPicture->linesize[0]);
    source.bandRows = std::max<int64_t>(1, bandBytes / rowBytes / alignment) * alignment;

    // The scaler assumes BT.601 limited range unless told otherwise; HD
    // streams are mostly BT.709 and JPEG-like ones full range.
    const AVPixFmtDescriptor *descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(key.format));
    if (descriptor && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB)) {
        int *inverseTable = nullptr, *table = nullptr;
        int sourceRange = 0, range = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(source.scaler.get(), &inverseTable, &sourceRange, &table,
                                     &range, &brightness, &contrast, &saturation) >= 0) {
            const int *coefficients = inverseTable;
            if (key.range == AVCOL_RANGE_JPEG)
                sourceRange = 1;
            if (key.colorspace != AVCOL_SPC_UNSPECIFIED && key.colorspace != AVCOL_SPC_RGB)
                coefficients = sws_getCoefficients(key.colorspace);
            sws_setColorspaceDetails(source.scaler.get(), coefficients, sourceRange, table, range,
                                     brightness, contrast, saturation);
        }
    }
    return true;
}

// Converts a picture stored turned: whole into the stored-way-round picture,
// then turned into the output band by band.
bool convertTurned(FrameSource &source, const AVFrame *picture)
{
    AVFrame *stored = source.storedPicture.get();
    if (sws_scale_frame(source.scaler.get(), stored, picture) < 0)
        return false;
    const StoredPicture from{stored->data[0], stored->linesize[0], stored->width, stored->height,
                             turnablePixelBytes(source.outputFormat)};
    const AVFrame *output = source.outputPicture.get();
    const int height = source.outputHeight;
    const int band = source.rowObserver ? source.bandRows : height;
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        turnRows(from, source.orientation, output->data[0], output->linesize[0], y, rows);
        if (source.rowObserver)
            source.rowObserver(y, rows);
    }
    return true;
}

// Converts picture into the output, in bands when someone observes them.
bool convert(FrameSource &source, const AVFrame *picture)
{
    if (source.orientation.turns())
        return convertTurned(source, picture);
    SwsContext *scaler = source.scaler.get();
    // sws_frame_end releases whatever a failed start took hold of.
    bool converted = sws_frame_start(scaler, source.outputPicture.get(), picture) >= 0 &&
                     sws_send_slice(scaler, 0, static_cast<unsigned>(picture->height)) >= 0;
    const int height = source.outputHeight;
    const int band = source.rowObserver ? source.bandRows : height;
    for (int y = 0; converted && y < height; y += band) {
        const int rows = std::min(band, height - y);
        converted =
            sws_receive_slice(scaler, static_cast<unsigned>(y), static_cast<unsigned>(rows)) >= 0;
        if (converted && source.rowObserver)
            source.rowObserver(y, rows);
    }
    sws_frame_end(scaler);
    return converted;
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
    // PQ and HLG pictures are tone-mapped first; SDR ones come back as they are.
    const AVFrame *sdr =
        allowed && wanted
            ? source.toneMapper.sdrPicture(picture, *source.container->streams[source.videoStream])
            : nullptr;
    const bool converted = sdr && fitScaler(source, keyOf(*sdr)) && convert(source, sdr);
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

// Longer than any open or read of a local file takes, short enough that a
// stuck one does not look like a hang forever.
constexpr auto operationLimit = std::chrono::seconds(30);

void armDeadline(FrameSource &source)
{
    source.deadline = std::chrono::steady_clock::now() + operationLimit;
}

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

int decoderThreadCount()
{
    // Two more than FFmpeg's own choice of cores + 1: the caller converts and
    // measures each picture, and with more pictures in flight the cores stay
    // busy while a decoder thread waits for a picture it refers to. FFmpeg
    // advises against more than 16.
    return std::min(av_cpu_count() + 3, 16);
}

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

FrameSourcePtr openFrameSource(const char *path, int width, int height, int pixelFormat,
                               std::string *why, int64_t maxPixels)
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
    source->outputFormat = pixelFormat;
    source->maxPixels = std::max<int64_t>(maxPixels, 1);

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
    if (turnablePixelBytes(pixelFormat) > 0)
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
    source->outputWidth = width != 0 ? width : shownWidth;
    source->outputHeight = height != 0 ? height : shownHeight;

    if ((result = avcodec_open2(decoderContext, source->decoder, nullptr)) < 0)
        return refuse(why, decoderFailure(result));

    source->decodedPicture.reset(av_frame_alloc());
    source->outputPicture.reset(av_frame_alloc());
    source->packet.reset(av_packet_alloc());
    if (!source->decodedPicture || !source->outputPicture || !source->packet)
        return refuse(why, systemReason(ENOMEM));
    if (decoderContext->width <= 0 || decoderContext->height <= 0)
        return refuse(why, unconvertibleReason(*source));

    const auto format = static_cast<AVPixelFormat>(pixelFormat);
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
    output->format = pixelFormat;

    // Made now so that an unconvertible stream fails the open; pictures of
    // another size or format get their own scaler later.
    const ScalerKey key{decoderContext->width, decoderContext->height,
                        rawCode(decoderContext->pix_fmt), rawCode(decoderContext->color_range),
                        rawCode(decoderContext->colorspace)};
    if (!fitScaler(*source, key))
        return refuse(why, unconvertibleReason(*source));
    return source;
}

namespace {

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

namespace {

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
    if (source.lastTime != AV_NOPTS_VALUE && (time == AV_NOPTS_VALUE || time <= source.lastTime))
        time = stepped(source.lastTime, pictureInterval(stream, picture));
    source.lastTime = time;
    return time;
}

void forgetPictureTimes(FrameSource &source)
{
    source.pendingTimes.clear();
    source.lastTime = AV_NOPTS_VALUE;
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
