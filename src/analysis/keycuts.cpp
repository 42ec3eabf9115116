#include "analysis/keycuts.h"

#include <algorithm>

namespace {

// A gap this much shorter than the longest one is the encoder's choice; the
// regular ones may come a picture early or late.
constexpr double regularShare = 0.9;

} // namespace

std::vector<double> earlyKeyPictures(const std::vector<double> &times)
{
    if (times.size() < 3)
        return {};
    double longest = 0;
    for (size_t i = 1; i < times.size(); ++i)
        longest = std::max(longest, times[i] - times[i - 1]);
    std::vector<double> early;
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] - times[i - 1] < regularShare * longest)
            early.push_back(times[i]);
    }
    // The interval shows only where it recurs: one long gap may be a long
    // scene in a film whose key pictures come at random.
    const size_t regular = times.size() - 1 - early.size();
    return regular >= 2 ? early : std::vector<double>{};
}
