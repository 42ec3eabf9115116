// One owner type per FFmpeg object, each freed by the library's own function.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

struct AVFormatInputCloser {
    // Also closes the file the demuxer opened.
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};

struct AVFormatOutputCloser {
    // Closes the file only if the muxer does not manage its own I/O.
    void operator()(AVFormatContext *context) const
    {
        if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

struct AVCodecContextFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};

struct AVFrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

struct AVPacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

struct SwsContextFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

struct AVBufferFreer {
    void operator()(uint8_t *buffer) const { av_free(buffer); }
};

using AVFormatInputPtr = std::unique_ptr<AVFormatContext, AVFormatInputCloser>;
using AVFormatOutputPtr = std::unique_ptr<AVFormatContext, AVFormatOutputCloser>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextFreer>;
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFreer>;
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;
using AVBufferPtr = std::unique_ptr<uint8_t, AVBufferFreer>;

// avformat_open_input frees the context itself when it fails, so the owner is
// made only from a successful open. Null on any failure, with FFmpeg's error
// code in *error when given.
inline AVFormatInputPtr openInput(const char *path, int *error = nullptr)
{
    AVFormatContext *context = nullptr;
    const int result = avformat_open_input(&context, path, nullptr, nullptr);
    if (error)
        *error = result;
    if (result != 0)
        return nullptr;
    return AVFormatInputPtr(context);
}
