#include "registry/registration_export.h"

#include <optional>
#include <string_view>

#include "console/line_format.h"
#include "platform/cp1251.h"
#include "platform/replace_file.h"

namespace registry {

using console::DeviceGrid;

namespace {

// The number after the last "/" among the last four characters, or the whole text.
int ThirdPart(std::string_view c) {
  const size_t from = c.size() > 4 ? c.size() - 4 : 0;
  const size_t slash = c.rfind('/');
  if (slash != std::string_view::npos && slash >= from) c.remove_prefix(slash + 1);
  return console::ToIntDef(c, 0);
}

}  // namespace

std::string RegistrationObjText(const DeviceGrid& grid, size_t tableLength) {
  std::string text;
  if (tableLength > grid.RowCount()) return text;
  const auto line = [&text](const std::string& s) { text += platform::Utf8ToCp1251(s) + "\r\n"; };
  std::optional<int> previous;
  for (size_t i = 0; i < tableLength; ++i) {
    const std::string& c = grid.Cell(i + 1, DeviceGrid::kNumberColumn);
    if (!c.empty()) {
      const int d = ThirdPart(c);
      if (previous && d != 0 && *previous > d + 1) line(kGapMarker);
      previous = d;
    }
    line(console::Format("%zu   ", i + 1) + c);
    if (c.empty()) break;
  }
  return text;
}

bool ExportRegistrationObj(const DeviceGrid& grid, size_t tableLength, const std::string& path,
                           console::MessageSink& sink) {
  const std::string text = RegistrationObjText(grid, tableLength);
  std::string error;
  if (platform::ReplaceFile(path, text.data(), text.size(), &error)) return true;
  sink.Message("Ошибка записи файла \"" + path + "\": " + error);
  return false;
}

}  // namespace registry
