// HDR pictures (PQ or HLG transfer) tone-mapped to SDR BT.709 by FFmpeg's own
// filters (zscale, tonemap), so that the scaler then converts them as it
// converts SDR pictures.
#pragma once

#include "video/ffmpegptr.h"

// What a filter graph was made for; a picture that differs in any of these
// gets a new one.
struct ToneMapKey {
    int width = 0;
    int height = 0;
    int format = AV_PIX_FMT_NONE;
    int transfer = AVCOL_TRC_UNSPECIFIED;
    int primaries = AVCOL_PRI_UNSPECIFIED;
    int matrix = AVCOL_SPC_UNSPECIFIED;
    int range = AVCOL_RANGE_UNSPECIFIED;
    double peak = 0;
    bool operator==(const ToneMapKey &) const = default;
};

// Whether the picture's transfer characteristic, or the stream's when the
// picture names none, is PQ (SMPTE ST 2084) or HLG (ARIB STD-B67).
bool isHdrPicture(const AVFrame &picture, const AVCodecParameters &stream);

// The brightest the content gets, in multiples of SDR white (100 cd/m2): the
// maximum content light level, else the mastering display's peak, each from
// the picture's side data, else from the stream's; 10 (1000 cd/m2, the usual
// mastering peak and HLG's nominal one) when nothing says. At least 1.
double signalPeak(const AVFrame &picture, const AVStream &stream);

class ToneMapper
{
public:
    // picture itself when it is SDR or the filters cannot take it; else
    // picture tone-mapped to 8-bit full-range RGB (gbrp) of the same size,
    // which the mapper holds until its next call or reset. Null only when
    // memory runs out.
    const AVFrame *sdrPicture(const AVFrame *picture, const AVStream &stream);
    // Gives back the filter graph and the last mapped picture.
    void reset();

private:
    bool fit(const ToneMapKey &wanted);

    AVFilterGraphPtr graph;
    AVFilterContext *input = nullptr; // both belong to graph
    AVFilterContext *output = nullptr;
    AVFramePtr mapped;
    ToneMapKey key;
    ToneMapKey refused; // the last kind of picture no graph could be made for
};
