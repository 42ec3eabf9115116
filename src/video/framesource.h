// One open video: container, decoder and scaler of its first video stream,
// read one packet per call and converted to a fixed output size and format.
#pragma once

#include <cstdint>
#include <memory>

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

// Opens path (in the file system's encoding) on its first video stream.
// width/height 0 stand for the stream's own size; pixelFormat is an
// AVPixelFormat code. Returns a complete source or null, leaving nothing open.
FrameSourcePtr openFrameSource(const char *path, int width, int height, int pixelFormat);

// Consumes at most one packet of the container (none once it is exhausted).
FrameStatus readFrame(FrameSource *source);

// Releases everything the source holds; always returns null.
FrameSource *closeFrameSource(FrameSource *source);

// What readers take from an open source. The pixels are rows of
// outputWidth * bytes-per-pixel with no padding; the address never changes
// while the source is open and the contents change at each FrameReady.
int outputWidth(const FrameSource *source);
int outputHeight(const FrameSource *source);
const uint8_t *outputPixels(const FrameSource *source);
