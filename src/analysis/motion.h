// How far a picture is explained by the few before it moved: a small luma
// thumbnail of each picture compared with those of the three pictures before,
// shifted and zoomed to fit best. A camera that pans, zooms or shakes keeps
// most of the picture; a cut renews all of it.
#pragma once

#include <QImage>

#include <array>

// The change from the picture k pictures before to this one, for k = 1..3
// (the mean of the three quarters of the picture's regions that changed the
// least, under the shift and zoom that fit best), and the change from the
// picture before without moving it. -1 where there is no such picture.
struct PictureMotion {
    std::array<float, 3> moved{-1.0f, -1.0f, -1.0f};
    float still = -1.0f;
};

// Follows the pictures of one run; holds its four last thumbnails, so adding
// a picture allocates nothing.
class MotionTracker
{
public:
    static constexpr int width = 24;
    static constexpr int height = 16;
    static constexpr int cells = width * height;
    // Each thumbnail as it is and magnified about its centre.
    static constexpr int zooms = 7;
    using Thumbnail = std::array<std::array<float, cells>, zooms>;

    void reset() { m_count = 0; }
    PictureMotion add(const QImage &frame);

    // frame's thumbnail: luma of width x height cells, less its mean, over
    // its spread (so a fade or flicker keeps it), at each zoom.
    static void thumbnailOf(const QImage &frame, Thumbnail &thumbnail);
    // The change from before to after (see PictureMotion::moved).
    static float movedChange(const Thumbnail &before, const Thumbnail &after);
    static float stillChange(const Thumbnail &before, const Thumbnail &after);

private:
    std::array<Thumbnail, 4> m_ring{};
    long long m_count = 0;
};
