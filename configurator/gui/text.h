// The core's texts (UTF-8) as the widgets take them.
#pragma once

#include <QString>
#include <string_view>

namespace configurator::gui {

inline QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace configurator::gui
