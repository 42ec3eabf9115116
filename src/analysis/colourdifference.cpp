#include "analysis/colourdifference.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
double radians(double degrees)
{
    return degrees * pi / 180.0;
}
double degrees(double radians)
{
    return radians * 180.0 / pi;
}

// Degrees in [0, 360); 0 for a colour without hue.
double hueAngle(double b, double a)
{
    if (a == 0 && b == 0)
        return 0;
    const double h = degrees(std::atan2(b, a));
    return h < 0 ? h + 360.0 : h;
}

} // namespace

double deltaE2000(const LabColour &first, const LabColour &second)
{
    const double c1 = std::hypot(first.a, first.b);
    const double c2 = std::hypot(second.a, second.b);
    const double cMean7 = std::pow((c1 + c2) / 2.0, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + g) * first.a;
    const double a2 = (1.0 + g) * second.a;
    const double cp1 = std::hypot(a1, first.b);
    const double cp2 = std::hypot(a2, second.b);
    const double hp1 = hueAngle(first.b, a1);
    const double hp2 = hueAngle(second.b, a2);

    const double dL = second.L - first.L;
    const double dC = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = hp2 - hp1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(radians(dh / 2.0));

    const double lMean = (first.L + second.L) / 2.0;
    const double cpMean = (cp1 + cp2) / 2.0;
    double hMean = hp1 + hp2;
    if (cp1 * cp2 != 0) {
        if (std::abs(hp1 - hp2) <= 180)
            hMean /= 2.0;
        else
            hMean = hMean < 360 ? (hMean + 360) / 2.0 : (hMean - 360) / 2.0;
    }
    const double t = 1.0 - 0.17 * std::cos(radians(hMean - 30)) +
                     0.24 * std::cos(radians(2 * hMean)) + 0.32 * std::cos(radians(3 * hMean + 6)) -
                     0.20 * std::cos(radians(4 * hMean - 63));
    const double dTheta = 30.0 * std::exp(-std::pow((hMean - 275.0) / 25.0, 2.0));
    const double cpMean7 = std::pow(cpMean, 7.0);
    const double rc = 2.0 * std::sqrt(cpMean7 / (cpMean7 + std::pow(25.0, 7.0)));
    const double l50 = (lMean - 50) * (lMean - 50);
    const double sl = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
    const double sc = 1.0 + 0.045 * cpMean;
    const double sh = 1.0 + 0.015 * cpMean * t;
    const double rt = -std::sin(radians(2.0 * dTheta)) * rc;
    const double l = dL / sl;
    const double c = dC / sc;
    const double h = dH / sh;
    return std::sqrt(l * l + c * c + h * h + rt * c * h);
}
