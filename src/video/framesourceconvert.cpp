// Converting decoded pictures into a frame source's output: the scaler for
// each kind of picture, its colour set-up, turning and banded conversion.
#include "video/framesource_p.h"
#include "video/rawcode.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>

namespace {

// Bicubic even at equal sizes: the scaler then only converts the pixel format.
// Its fast YUV to RGB path rounds down and repeats chroma samples, a bias of
// up to 1.6 levels; exact colours take the slower, accurate path. There
// bilinear chroma is a third faster than bicubic, and the averages of both lie
// within 0.08 levels of a float conversion.
constexpr int scalerFlags = SWS_BICUBIC;
constexpr int exactScalerFlags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// Players read untagged pictures of HD size as BT.709, smaller ones as BT.601.
bool hdSize(const ScalerKey &key)
{
    return key.width >= 1280 || key.height > 576;
}

// Observed bands are small enough to stay in a core's cache between their
// conversion and the observer's reading.
constexpr int bandBytes = 256 * 1024;

ScalerKey keyOf(const AVFrame &picture)
{
    return {picture.width,
            picture.height,
            picture.format,
            rawCode(picture.color_range),
            rawCode(picture.colorspace),
            rawCode(picture.chroma_location)};
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

// Exact colours of the common 8-bit 4:2:0 pictures at their own size come
// from our own converter, about three times faster than swscale's accurate
// path; everything else keeps the scaler.
void fitExactConverter(FrameSource &source, const ScalerKey &key)
{
    source.exactYuv.reset();
    if (!source.exactColours || source.glance || source.orientation.turns() ||
        source.outputFormat != rgb32PixelFormat() || key.width != source.outputWidth ||
        key.height != source.outputHeight)
        return;
    const int colorspace = key.colorspace == AVCOL_SPC_UNSPECIFIED && hdSize(key)
                               ? int(AVCOL_SPC_BT709)
                               : key.colorspace;
    source.exactYuv.fit(key.width, key.height, key.format, key.range, colorspace,
                        key.chromaLocation);
}

} // namespace

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
        scaledHeight(source), static_cast<AVPixelFormat>(source.outputFormat),
        source.glance         ? SWS_FAST_BILINEAR
        : source.exactColours ? exactScalerFlags
                              : scalerFlags,
        nullptr, nullptr, nullptr));
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
            else if (key.colorspace == AVCOL_SPC_UNSPECIFIED && source.exactColours && hdSize(key))
                coefficients = sws_getCoefficients(AVCOL_SPC_BT709);
            sws_setColorspaceDetails(source.scaler.get(), coefficients, sourceRange, table, range,
                                     brightness, contrast, saturation);
        }
    }
    fitExactConverter(source, key);
    return true;
}

namespace {

// Fills the output band by band through convertBand(firstRow, rowCount),
// telling the observer of each band; in one band when nobody observes.
// False when a band fails.
template <class ConvertBand> bool inBands(FrameSource &source, ConvertBand convertBand)
{
    const int height = source.outputHeight;
    const int band = source.rowObserver ? source.bandRows : height;
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        if (!convertBand(y, rows))
            return false;
        if (source.rowObserver)
            source.rowObserver(y, rows);
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
    return inBands(source, [&](int y, int rows) {
        turnRows(from, source.orientation, output->data[0], output->linesize[0], y, rows);
        return true;
    });
}

// Converts picture into the output, in bands when someone observes them.
bool convert(FrameSource &source, const AVFrame *picture)
{
    if (source.orientation.turns())
        return convertTurned(source, picture);
    AVFrame *output = source.outputPicture.get();
    if (source.exactYuv.fitted())
        return inBands(source, [&](int y, int rows) {
            source.exactYuv.convertRows(*picture, y, rows,
                                        output->data[0] + ptrdiff_t(output->linesize[0]) * y,
                                        output->linesize[0]);
            return true;
        });
    SwsContext *scaler = source.scaler.get();
    // sws_frame_end releases whatever a failed start took hold of.
    const bool converted = sws_frame_start(scaler, output, picture) >= 0 &&
                           sws_send_slice(scaler, 0, static_cast<unsigned>(picture->height)) >= 0 &&
                           inBands(source, [scaler](int y, int rows) {
                               return sws_receive_slice(scaler, static_cast<unsigned>(y),
                                                        static_cast<unsigned>(rows)) >= 0;
                           });
    sws_frame_end(scaler);
    return converted;
}

} // namespace

bool convertPicture(FrameSource &source, const AVFrame *picture)
{
    // PQ and HLG pictures are tone-mapped first; SDR ones come back as they are.
    const AVFrame *sdr =
        source.toneMapper.sdrPicture(picture, *source.container->streams[source.videoStream]);
    return sdr && fitScaler(source, keyOf(*sdr)) && convert(source, sdr);
}
