// Text of the lines of the message and traffic windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace console {

// "9:5:3": hour, minute, second without leading zeros.
std::string TimeStamp(const platform::LocalTime& t);

// Two upper-case hex digits and a blank per byte.
std::string HexDump(const uint8_t* p, size_t n);

// Bytes a device telegram line dumps: byte 1 + 2, or with `padded` byte 1
// raised to the next multiple of 4 first; never more than 128.
size_t DeviceTraceCount(const uint8_t* t, bool padded);

// "<time>(E)W<ip>[<port>]:<dump>" for a telegram sent, "(E)R" for one received.
std::string DeviceTraceLine(const platform::LocalTime& t, const uint8_t* telegram, bool sent,
                            std::string_view peer, uint16_t port, bool padded);

// "<time>(COM)W:<dump>" for a frame written by the workstation (received by the
// server), "(COM)R:" for one the server sends to it.
std::string ComTraceLine(const platform::LocalTime& t, const uint8_t* frame, bool fromWorkstation);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace console
