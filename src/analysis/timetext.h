// Durations as people read them, for progress lines and time labels.
#pragma once

#include <QString>

#include <cstdint>

// "0:05", "12:34", "1:02:03"; seconds are truncated, negative counts as 0.
QString formatDuration(double seconds);

// "283.1 pictures/s"; elapsedSeconds must be above 0.
QString rateText(int64_t pictures, double elapsedSeconds);

// "0:05 left" of a run fraction (above 0) through after elapsedSeconds.
QString timeLeftText(double fraction, double elapsedSeconds);
