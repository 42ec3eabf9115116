// Any bytes as a video file: open, read to the end, measure every picture, as
// a run of the window does; then read it again by key pictures only, and seek
// back to a picture of the first pass, as posters and the timeline do.
#include "analysis/analysisstate.h"
#include "analysis/framereading.h"
#include "video/framesource.h"
#include "video/framesourceseek.h"

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
    FrameSourcePtr source = openFrameSource(inputPath.c_str());
    if (!source)
        return 0;

    AnalysisState state;
    RowSums sums;
    gatherRowSums(source.get(), sums);
    const QImage frame = frameView(source.get());
    double seekTime = -1;
    while (state.frameCount < maxPictures && readPicture(source.get()) == FrameReady) {
        recordPicture(state, frame, currentPictureTime(source.get()), sums);
        // Some picture of the first pass, chosen by the input itself.
        if (state.frameCount == 1 + size % 7)
            seekTime = currentPictureTime(source.get());
    }
    source.reset();

    // One more pass an input, chosen by its size, so an input costs at most
    // twice the exact pass under the fuzzer's timeout.
    FrameSourcePtr again = openFrameSource(inputPath.c_str());
    if (!again)
        return 0;
    if (size % 2 == 0) {
        setKeyPicturesOnly(again.get(), true);
        for (int i = 0; i < maxPictures && readPicture(again.get()) == FrameReady; ++i) {
        }
    } else if (seekTime >= 0) {
        seekPicture(again.get(), seekTime);
    }
    return 0;
}
