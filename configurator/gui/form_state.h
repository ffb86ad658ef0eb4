// The configurator window's one image and the layout it has, shared by its tabs.
#pragma once

#include <cstdint>

#include "configurator/image.h"

namespace configurator::gui {

struct FormState {
  Image image{};
  uint8_t variant = 0;  // from the last identify answer, completed read or loaded file
  // The code and key tables show this image: only then are they encoded
  // back into it, so a loaded file keeps its own bytes.
  bool tablesFromImage = false;
};

}  // namespace configurator::gui
