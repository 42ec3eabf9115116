// What the program says about the video libraries it was linked with.
#pragma once

#include <string>

// FFmpeg's version as its libraries report it (av_version_info), e.g. "5.1.6-0+deb12u1".
std::string ffmpegVersion();
