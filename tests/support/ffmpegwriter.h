// Owners of the FFmpeg objects only the tests use, to write test videos: the
// program itself never writes a video.
#pragma once

#include "video/ffmpegptr.h"

struct AVFormatOutputCloser {
    // Closes the file only if the muxer does not manage its own I/O.
    void operator()(AVFormatContext *context) const
    {
        if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

using AVFormatOutputPtr = std::unique_ptr<AVFormatContext, AVFormatOutputCloser>;
