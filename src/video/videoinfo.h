// What a reader knows of its video, for callers that describe it (the
// Python module's run.info) without seeing FFmpeg.
#pragma once

#include "video/framesource.h"

#include <string>

struct VideoInfo {
    int width = 0; // of the pictures as delivered (turned as displayed)
    int height = 0;
    double duration = -1.0; // seconds; negative when unknown
    double frameRate = 0;   // pictures a second; 0 when unknown
    std::string codec;      // the decoder's short name ("h264")
    std::string transfer;   // the stream's transfer characteristic ("bt709", "smpte2084");
                            // empty when it names none
    bool hdr = false;       // PQ or HLG, tone-mapped to SDR when read
    int rotation = 0;       // degrees the stored pictures are turned to be shown, 0..359
};

// The source must be open (not null).
VideoInfo videoInfo(const FrameSource *source);
