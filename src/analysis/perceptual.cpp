#include "analysis/perceptual.h"

#include <algorithm>
#include <cmath>

namespace {

// The BT.709/sRGB primaries and D65 white as chromaticities; the matrices
// are derived from them so that RGB white is exactly the reference white
// (L* 100, a* = b* = 0).
struct Conversion {
    double toXyz[3][3];
    double fromXyz[3][3];
    double white[3];
};

Conversion makeConversion()
{
    const double primaries[3][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
    const double whiteXy[2] = {0.3127, 0.3290};
    Conversion c;
    c.white[0] = whiteXy[0] / whiteXy[1];
    c.white[1] = 1.0;
    c.white[2] = (1.0 - whiteXy[0] - whiteXy[1]) / whiteXy[1];
    double p[3][3]; // XYZ of each primary at Y = 1, one column each
    for (int j = 0; j < 3; ++j) {
        const double x = primaries[j][0];
        const double y = primaries[j][1];
        p[0][j] = x / y;
        p[1][j] = 1.0;
        p[2][j] = (1.0 - x - y) / y;
    }
    // Scales s with p * s = white, by Cramer's rule.
    const auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double whole = det(p);
    for (int j = 0; j < 3; ++j) {
        double m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                m[r][k] = k == j ? c.white[r] : p[r][k];
        const double scale = det(m) / whole;
        for (int r = 0; r < 3; ++r)
            c.toXyz[r][j] = p[r][j] * scale;
    }
    // The inverse, by cofactors.
    const double d = det(c.toXyz);
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            const int r1 = (k + 1) % 3, r2 = (k + 2) % 3, k1 = (r + 1) % 3, k2 = (r + 2) % 3;
            c.fromXyz[r][k] =
                (c.toXyz[r1][k1] * c.toXyz[r2][k2] - c.toXyz[r1][k2] * c.toXyz[r2][k1]) / d;
        }
    }
    return c;
}

const Conversion &conversion()
{
    static const Conversion c = makeConversion();
    return c;
}

constexpr double epsilon = 216.0 / 24389.0;
constexpr double kappa = 24389.0 / 27.0;

double labF(double t)
{
    return t > epsilon ? std::cbrt(t) : (kappa * t + 16.0) / 116.0;
}

double labFInverse(double f)
{
    const double cube = f * f * f;
    return cube > epsilon ? cube : (116.0 * f - 16.0) / kappa;
}

double srgbEncoded(double linear)
{
    const double v =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

const std::array<uint32_t, 256> &linearTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> values;
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            const double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            values[size_t(v)] = uint32_t(std::lround(linear * linearScale));
        }
        return values;
    }();
    return table;
}

double LabColour::chroma() const
{
    return std::hypot(a, b);
}

double LabColour::hue() const
{
    const double degrees = std::atan2(b, a) * 180.0 / M_PI;
    return degrees < 0 ? degrees + 360.0 : degrees;
}

LabColour labFromLinear(const std::array<double, 3> &linear)
{
    const Conversion &c = conversion();
    double xyz[3];
    for (int i = 0; i < 3; ++i)
        xyz[i] = c.toXyz[i][0] * linear[0] + c.toXyz[i][1] * linear[1] + c.toXyz[i][2] * linear[2];
    const double fx = labF(xyz[0] / c.white[0]);
    const double fy = labF(xyz[1] / c.white[1]);
    const double fz = labF(xyz[2] / c.white[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

QColor srgbFromLab(const LabColour &lab)
{
    const Conversion &c = conversion();
    const double fy = (lab.L + 16.0) / 116.0;
    const double xyz[3] = {c.white[0] * labFInverse(fy + lab.a / 500.0),
                           c.white[1] * labFInverse(fy),
                           c.white[2] * labFInverse(fy - lab.b / 200.0)};
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const double linear =
            c.fromXyz[i][0] * xyz[0] + c.fromXyz[i][1] * xyz[1] + c.fromXyz[i][2] * xyz[2];
        channels[i] = int(std::lround(srgbEncoded(linear) * 255.0));
    }
    return QColor(channels[0], channels[1], channels[2]);
}

int srgbLevel(double linear)
{
    return int(std::lround(srgbEncoded(linear) * 255.0));
}

int srgbLevelOfSum(uint64_t sum, uint64_t count)
{
    return count == 0 ? 0 : srgbLevel(double(sum) / linearScale / double(count));
}
