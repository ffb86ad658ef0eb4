// A line of the message window or of the traffic monitor.
#pragma once

#include <cstdint>
#include <string>

namespace console {

enum class Window : uint8_t { Message, Traffic };

struct Line {
  Window window;
  std::string text;
};

}  // namespace console
