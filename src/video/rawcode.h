// Reading FFmpeg's enum fields as the numbers they hold, for the video code.
#pragma once

#include <cstring>

// Decoders copy colour fields straight from the bitstream (MPEG-4 takes any
// 8-bit matrix code), so the enum may hold a value it does not name; loading
// it as the enum would be undefined.
template <class Enum> int rawCode(const Enum &field)
{
    static_assert(sizeof(Enum) == sizeof(int));
    int code = 0;
    std::memcpy(&code, &field, sizeof code);
    return code;
}
