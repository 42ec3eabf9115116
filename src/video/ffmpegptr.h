// One owner type per FFmpeg object, each freed by the library's own function.
#pragma once

#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

struct AVFormatInputCloser {
    // Also closes the file the demuxer opened.
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
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

struct AVFilterGraphFreer {
    // Also frees every filter in the graph.
    void operator()(AVFilterGraph *graph) const { avfilter_graph_free(&graph); }
};

struct AVIOContextCloser {
    // Also closes the file it reads.
    void operator()(AVIOContext *context) const { avio_closep(&context); }
};

struct AVBufferFreer {
    void operator()(uint8_t *buffer) const { av_free(buffer); }
};

using AVFormatInputPtr = std::unique_ptr<AVFormatContext, AVFormatInputCloser>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextFreer>;
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFreer>;
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;
using AVFilterGraphPtr = std::unique_ptr<AVFilterGraph, AVFilterGraphFreer>;
using AVBufferPtr = std::unique_ptr<uint8_t, AVBufferFreer>;
using AVIOContextPtr = std::unique_ptr<AVIOContext, AVIOContextCloser>;

// FFmpeg's functions take a dictionary by the address of its pointer and may
// replace it (e.g. with the options they did not use), so the owner hands out
// that address and frees whatever is there at the end.
class AVDictionaryOwner
{
public:
    AVDictionaryOwner() = default;
    AVDictionaryOwner(const AVDictionaryOwner &) = delete;
    AVDictionaryOwner &operator=(const AVDictionaryOwner &) = delete;
    ~AVDictionaryOwner() { av_dict_free(&entries); }
    AVDictionary **address() { return &entries; }

private:
    AVDictionary *entries = nullptr;
};

// One dictionary per stream, as avformat_find_stream_info takes its options.
class AVDictionaryArray
{
public:
    explicit AVDictionaryArray(size_t count) : entries(count, nullptr) {}
    AVDictionaryArray(const AVDictionaryArray &) = delete;
    AVDictionaryArray &operator=(const AVDictionaryArray &) = delete;
    ~AVDictionaryArray()
    {
        for (AVDictionary *&dictionary : entries)
            av_dict_free(&dictionary);
    }
    AVDictionary **data() { return entries.data(); }

private:
    std::vector<AVDictionary *> entries;
};

// avformat_open_input frees the context itself when it fails, so the owner is
// made only from a successful open. The context is allocated first so that
// the interrupt callback (when given) covers the open itself; options (when
// given) keep those the demuxer did not take; format (when given) is used
// instead of probing. Null on any failure, with FFmpeg's error code in
// *error when given.
inline AVFormatInputPtr openInput(const char *url, int *error = nullptr,
                                  const AVIOInterruptCB *interrupt = nullptr,
                                  AVDictionary **options = nullptr,
                                  const AVInputFormat *format = nullptr)
{
    AVFormatContext *context = avformat_alloc_context();
    int result = AVERROR(ENOMEM);
    if (context) {
        if (interrupt)
            context->interrupt_callback = *interrupt;
        result = avformat_open_input(&context, url, format, options);
    }
    if (error)
        *error = result;
    if (result != 0)
        return nullptr;
    return AVFormatInputPtr(context);
}
