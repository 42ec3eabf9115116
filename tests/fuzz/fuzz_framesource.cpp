// Any bytes as a video file: open, read to the end, measure every picture, as
// a run of the window does.
#include "analysis/analysisstate.h"
#include "analysis/measure.h"
#include "video/framesource.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// Decoding dominates the time per input; enough pictures to reach size
// changes, reordering and the drain.
constexpr int maxPictures = 200;

std::string inputPath;

void removeInput()
{
    if (!inputPath.empty())
        unlink(inputPath.c_str());
}

// The demuxers want a path; one file per fuzzing process, rewritten per input.
bool writeInput(const uint8_t *data, size_t size)
{
    std::FILE *file = std::fopen(inputPath.c_str(), "wb");
    if (!file)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

QImage frameImage(const FrameSource *source)
{
    const int width = outputWidth(source);
    return QImage(outputPixels(source), width, outputHeight(source), qsizetype(width) * 4,
                  QImage::Format_RGB32);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietVideoLibraries(false);
    char name[] = "/tmp/reelmeter-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        std::abort();
    close(fd);
    inputPath = name;
    std::atexit(removeInput);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!writeInput(data, size))
        std::abort();
    FrameSourcePtr source = openFrameSource(inputPath.c_str(), 0, 0, rgb32PixelFormat());
    if (!source)
        return 0;

    AnalysisState state;
    for (FrameStatus status;
         state.frameCount < maxPictures && (status = readFrame(source.get())) != EndOfStream;) {
        if (status != FrameReady)
            continue;
        state.frameCount += 1.0;
        const QImage frame = frameImage(source.get());
        measureFrame(state, frame);
        if (static_cast<int>(state.frameCount) % 2 == 1)
            storePreviousFrame(state, frame);
    }
    return 0;
}
