// The record behind an open FrameSource, for the video code and tests that
// look inside it; everyone else holds it by pointer only.
#pragma once

#include "video/ffmpegptr.h"
#include "video/framesource.h"
#include "video/rotation.h"
#include "video/tonemapper.h"

#include "video/exactyuv.h"

#include <chrono>
#include <vector>

// What a scaler was made for; a picture that differs in any of these gets a
// new one.
struct ScalerKey {
    int width = 0;
    int height = 0;
    int format = AV_PIX_FMT_NONE;
    int range = AVCOL_RANGE_UNSPECIFIED;
    int colorspace = AVCOL_SPC_UNSPECIFIED;
    int chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
    bool operator==(const ScalerKey &) const = default;
};

// The record behind a FrameSource. Members are destroyed in reverse order:
// the decoder context before the container whose stream it decodes.
struct FrameSource {
    AVFormatInputPtr container;
    AVCodecContextPtr decoderContext; // made from the stream's parameters, owned here
    const AVCodec *decoder = nullptr; // static library data, never freed
    AVFramePtr outputPicture;         // owns one buffer: rows without padding, fixed address
    AVFramePtr decodedPicture;        // planes belong to the decoder until the next receive
    AVPacketPtr packet;               // reused by every read; unreferenced before it returns
    SwsContextPtr scaler;             // made for scalerKey
    ExactYuvConverter exactYuv;       // takes over from the scaler where it fits
    RowObserver rowObserver;
    PictureFilter pictureFilter;         // decoded pictures it refuses are not converted
    bool keyPicturesOnly = false;        // other packets never reach the decoder
    bool keyIndexComplete = false;       // and are not even read: the index lists every key picture
    int64_t lastKeyDts = AV_NOPTS_VALUE; // of the last key packet sent while skipping
    int bandRows = 0; // rows per observed band, a multiple of the scaler's alignment
    int videoStream = -1;
    int outputWidth = 0;
    int outputHeight = 0;
    int outputFormat = AV_PIX_FMT_NONE;
    bool glance = false; // a quick look: see FrameSourceOptions::glanceWidth
    ScalerKey scalerKey;
    bool draining = false; // the container is exhausted and the decoder was flushed
    bool ended = false;    // the decoder gave its last picture, and was released
    int64_t maxPixels = defaultMaxPixels;
    bool exactColours = false; // see FrameSourceOptions
    // When the current open or read is given up: FFmpeg's interrupt callback
    // asks, so that nothing waits forever.
    std::chrono::steady_clock::time_point deadline;
    int64_t pictureTimestamp = AV_NOPTS_VALUE; // of the last FrameReady, in stream time base
    int64_t pictureDuration = 0;               // of the same picture; 0 when unknown
    bool pictureCorrupt = false;               // the same picture is flagged not whole
    // Times of the packets the decoder holds, as a heap with the earliest on
    // top: pictures come out in presentation order, so in a container that
    // times packets in decoding order only (AVI) the n-th picture out takes
    // the n-th time in order.
    std::vector<int64_t> pendingTimes;
    bool decodeOrderTimes = false;
    int64_t lastTime = AV_NOPTS_VALUE; // of the last decoded picture, delivered or not
    int64_t lastDuration = 0;          // of the same picture; 0 when unknown
    // Pictures stored turned (a display matrix) are scaled into storedPicture,
    // stored way round, which the first scaler allocates, and turned from
    // there into the output.
    Orientation orientation;
    AVFramePtr storedPicture;
    ToneMapper toneMapper; // PQ and HLG pictures pass through it before the scaler
};

// Gives the open, read or seek about to start until the deadline FFmpeg's
// interrupt callback checks: the same limit for every one of them.
void armDeadline(FrameSource &source);

// Makes the scaler fit a picture of key, as the first picture and every
// picture that differs from the previous one need.
bool fitScaler(FrameSource &source, const ScalerKey &key);
// Converts a decoded picture into the output (through the tone mapper and the
// scaler, turned as the stream is shown). False when it cannot be converted.
bool convertPicture(FrameSource &source, const AVFrame *picture);

// Sends packet to the decoder (avcodec_send_packet's result), noting its
// time for the picture it will give.
int sendPacket(FrameSource &source, const AVPacket *packet);
// The time of a picture the decoder just gave, in the stream's time base:
// its own, or in a container of decoding times the earliest time noted; the
// last picture's time plus its duration (else one picture interval) when it
// has none or would not come after it, and the start of the file when the
// first picture has none. Never AV_NOPTS_VALUE. Called once for every picture
// the decoder gives.
int64_t takePictureTime(FrameSource &source, const AVFrame &picture);
// After the decoder was flushed: the times noted belong to no picture.
void forgetPictureTimes(FrameSource &source);

// Seconds of timestamp (in the stream's time base) from the start of the
// file; negative when unknown.
double secondsOf(const FrameSource &source, int64_t timestamp);

// Where the file's time starts, in seconds of the stream's timestamps: the
// zero of every picture time the source gives.
double fileStart(const FrameSource &source);

// The stream's picture rate: its average, else its base rate; {0, 1} when
// neither is known.
AVRational pictureRate(const AVStream &stream);
