// One open video: container, decoder and scaler of its first video stream,
// read one packet per call and converted to a fixed output size and format.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Defined in framesource_p.h, which only the video code and its tests see.
struct FrameSource;

// Results of readFrame. Callers rely on the order: every value below -1 means
// "no picture yet, keep reading".
enum FrameStatus : int {
    FrameReady = 0,     // a picture was converted into the output buffer
    EndOfStream = -1,   // no packet left and the decoder is drained (or a read error)
    ForeignPacket = -2, // the packet belonged to another stream
    NoPicture = -3,     // a video packet gave no complete picture (yet)
};

struct FrameSourceCloser {
    void operator()(FrameSource *source) const;
};
using FrameSourcePtr = std::unique_ptr<FrameSource, FrameSourceCloser>;

// Frame threads each source decodes with, for every core.
int decoderThreadCount();

// The pixelFormat code for packed 32-bit RGB in native byte order, the layout
// of QImage::Format_RGB32.
int rgb32PixelFormat();

// Silences the video libraries' own messages; keepFatal lets through those
// about errors that end the program.
void quietVideoLibraries(bool keepFatal);

// Pictures of more pixels than this (8192 x 8192) are refused unless a caller
// says otherwise: a file of a few bytes can claim pictures of gigabytes.
constexpr int64_t defaultMaxPixels = int64_t(1) << 26;

// What an open source delivers; the defaults give every picture as RGB32 at
// the stream's own size (as displayed).
struct FrameSourceOptions {
    int width = 0; // 0 stands for the stream's own
    int height = 0;
    int pixelFormat = rgb32PixelFormat(); // an AVPixelFormat code
    // Streams whose pictures have more pixels are refused (at least 1).
    int64_t maxPixels = defaultMaxPixels;
    // A quick look rather than a measurement: pictures wider than this (when
    // not 0, and no size is given) are converted at this width, keeping their
    // shape, with a fast bilinear scaler, and the decoder skips its loop
    // filter, which changes a picture's colours by far less than a level on
    // average.
    int glanceWidth = 0;
    // Exact colours: YUV pictures converted with accurate rounding and full
    // chroma interpolation (what a float conversion with the stream's matrix
    // and range gives), and untagged ones of HD size read as BT.709, as
    // players do. Slower; the default keeps the fast conversion and BT.601.
    bool exactColours = false;
};

// Opens path (in the file system's encoding) on its first video stream.
// path is always a local file, relative to the working directory or absolute;
// nothing in it is read as a URL ("pipe:0", "http://...") or as a numbered
// image sequence ("frame%03d.png"). A path naming neither a regular file nor
// a block device (a directory, a FIFO, a socket, a character device) is
// refused, and so is a stream whose pictures have more than
// options.maxPixels pixels; a larger picture later in the stream is skipped
// (NoPicture). Returns a complete source or null, leaving nothing open; on
// failure *why (when given) gets a sentence for the user saying what is
// wrong, e.g. "Permission denied." or "The file has no video stream.". No
// single open or read waits longer than about 30 seconds.
FrameSourcePtr openFrameSource(const char *path, const FrameSourceOptions &options = {},
                               std::string *why = nullptr);

// Returns a picture the decoder still holds if there is one; otherwise
// consumes exactly one packet of the container. Once the container is
// exhausted the decoder is drained, one picture per call, and after that every
// call returns EndOfStream; the decoder's memory is then given back, while the
// output buffer keeps the last picture. A packet that fails to decode gives NoPicture and
// reading may go on. The source must be open (not null).
FrameStatus readFrame(FrameSource *source);

// Told of each band of output rows right after it is converted, while the
// rows are still in the processor's cache: rows firstRow .. firstRow +
// rowCount - 1 of the output buffer. A picture's bands come in order from
// row 0, all before readFrame returns FrameReady for it. A picture whose
// conversion fails part way may have told some bands but is not delivered.
using RowObserver = std::function<void(int firstRow, int rowCount)>;
// Without an observer (the default) each picture is converted in one piece.
void setRowObserver(FrameSource *source, RowObserver observer);

// Only key pictures are read: the other packets of the video stream are
// dropped before the decoder sees them (each such read gives NoPicture).
void setKeyPicturesOnly(FrameSource *source, bool keyOnly);
// Told of each decoded picture's time (as currentPictureTime would give it)
// before it is converted; a picture it refuses is not converted and its read
// gives NoPicture. Without a filter (the default) every picture is converted.
using PictureFilter = std::function<bool(double pictureTime)>;
void setPictureFilter(FrameSource *source, PictureFilter accept);

// Releases everything the source holds; always returns null.
FrameSource *closeFrameSource(FrameSource *source);

// What readers take from an open source. The pixels are rows of
// outputWidth * bytes-per-pixel with no padding; the address never changes
// while the source is open and the contents change at each FrameReady.
int outputWidth(const FrameSource *source);
int outputHeight(const FrameSource *source);
const uint8_t *outputPixels(const FrameSource *source);

// How far through the video a reader is, for progress displays.
// Time of the last FrameReady picture in seconds from the start of the file
// (the container's start, else the video stream's), the same whatever the
// container: a video that starts after its audio starts later than 0.
// Negative before the first picture or when the picture has no timestamp.
double currentPictureTime(const FrameSource *source);
// How long the last FrameReady picture shows, in seconds: its own duration,
// else one picture interval of the stream; negative when neither is known.
double currentPictureDuration(const FrameSource *source);
// Where the video stream ends, in seconds from the start of the file like
// currentPictureTime (the container's duration if the stream has none);
// negative when neither is known.
double streamDuration(const FrameSource *source);
// How many pictures the video stream holds, as its container counts them or
// as its duration and frame rate tell; negative when neither is known. An
// estimate for planning memory, never a promise (a damaged file may claim
// anything).
int64_t estimatedPictureCount(const FrameSource *source);
// The file's title tag (else its video stream's), as UTF-8; empty when
// neither has one.
std::string streamTitle(const FrameSource *source);
// Byte offset the demuxer has read up to, and the file size in bytes;
// negative when unknown (e.g. a pipe).
int64_t readPosition(const FrameSource *source);
int64_t fileSize(const FrameSource *source);
// How far through a video a reader is: the picture's time against the
// stream's end when both are known, else the read position against the
// file size, else negative. Limited to 0..1.
double progressFraction(double pictureTime, double duration, int64_t position, int64_t size);
// The same for an open source, from its last picture and read position.
double progressFraction(const FrameSource *source);
