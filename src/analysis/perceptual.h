// Perceptual colour: the mean colour of a picture in linear light, as CIE
// 1976 L*a*b* (D65 white).
#pragma once

#include <QColor>

#include <array>
#include <cstdint>

// Fixed-point scale of linearTable(): 1.0 in linear light. Every entry fits
// in three bytes.
constexpr double linearScale = double((1 << 24) - 1);

// An 8-bit sRGB channel value in linear light (IEC 61966-2-1), times
// linearScale and rounded: summing these over a picture is exact.
const std::array<uint32_t, 256> &linearTable();

// Linear light (0..1, clipped) as an 8-bit sRGB level, rounded to nearest.
int srgbLevel(double linear);

// The mean of the light of channel sums of linearTable entries over count
// values, as an 8-bit sRGB level; 0 when count is 0.
int srgbLevelOfSum(uint64_t sum, uint64_t count);

struct LabColour {
    double L = 0;
    double a = 0;
    double b = 0;

    double chroma() const;
    // Degrees in [0, 360).
    double hue() const;
};

// Linear-light red, green and blue (0..1, BT.709/sRGB primaries) to L*a*b*.
LabColour labFromLinear(const std::array<double, 3> &linear);

// The other way, to 8-bit sRGB, channels clipped to 0..255.
QColor srgbFromLab(const LabColour &lab);
