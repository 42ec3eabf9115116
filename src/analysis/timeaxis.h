// Times as a time line shows them: durations as h:mm:ss and the step between
// the ticks of an axis, for the window's film overview and for axes drawn
// into files alike. Display-free.
#pragma once

#include <QString>

#include <cstdint>

#include <vector>

// "0:05", "12:34", "1:02:03"; seconds are truncated, negative counts as 0.
// withHours gives "0:12:34" under an hour, so that labels of one axis that
// reaches past an hour all read alike.
QString formatDuration(double seconds, bool withHours = false);

// "0:01:02.345": a picture's time to the millisecond (rounded), negative
// counting as 0.
QString formatTimestamp(double seconds);

// The step between two ticks of an axis that shows pixelsPerSecond: the
// shortest of 1, 2, 5, 10, 15 and 30 seconds, 1, 2, 5, 10, 15 and 30
// minutes, 1, 2, 3, 6 and 12 hours, then whole days doubling, whose ticks lie
// at least leastSpacing pixels apart.
double axisStep(double pixelsPerSecond, double leastSpacing);

// The multiples of step from first to last (both included), in order; none
// for a step that is not positive.
std::vector<double> axisTicks(double first, double last, double step);

// "283.1 pictures/s"; elapsedSeconds must be above 0.
QString rateText(int64_t pictures, double elapsedSeconds);

// "0:05 left" of a run fraction (above 0) through after elapsedSeconds.
QString timeLeftText(double fraction, double elapsedSeconds);
