// Exact colours for the pictures most video holds: 8-bit YUV 4:2:0 converted
// to RGB32 at its own size in fixed point, chroma interpolated bilinearly
// where it is sited. swscale's accurate path gives the same averages at about
// three times the cost of decoding.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>
#include <vector>

class ExactYuvConverter
{
public:
    struct Coefficients {
        int32_t yOffset = 0;
        int32_t yScale = 0; // Q16
        // Q16, over chroma summed in sixteenths
        int32_t crToRed = 0, cbToGreen = 0, crToGreen = 0, cbToBlue = 0;
    };

    // Set up for pictures of width x height in format, range, colorspace and
    // chroma siting (FFmpeg's values). False for what it does not convert:
    // anything but 8-bit planar 4:2:0, or a matrix it does not know.
    bool fit(int width, int height, int format, int range, int colorspace, int chromaLocation);
    bool fitted() const { return m_width > 0; }
    void reset() { m_width = 0; }

    // Converts rows [first, first + count) of picture into rgb (one uint32
    // 0xffRRGGBB a pixel, rows stride bytes apart, starting at row first).
    void convertRows(const AVFrame &picture, int first, int count, uint8_t *rgb, int stride);

private:
    int m_width = 0;
    int m_height = 0;
    bool m_centredColumns = false; // chroma between two luma columns, not on the left one
    Coefficients m_coefficients;
    // One chroma row each, blended vertically (quarters), then across (sixteenths).
    std::vector<int16_t> m_blendCb, m_blendCr, m_rowCb, m_rowCr;
};
