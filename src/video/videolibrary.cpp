#include "video/videolibrary.h"

extern "C" {
#include <libavutil/avutil.h>
}

std::string ffmpegVersion()
{
    const char *version = av_version_info();
    return version ? version : "";
}
