// The keys of section "Form1" by name: listed as the settings file holds them,
// and changed one at a time as the controls of tab "Настройки" change them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/settings_file.h"

namespace console {

// Keys are the same whatever their letter case, as in the settings file.
bool SameForm1Key(std::string_view a, std::string_view b);

// Every key of the section with its value, in file order.
std::vector<std::pair<std::string, std::string>> Form1Values(const Form1Settings& f);

// Sets `key` (any letter case) to the text `value` in `f`, as the tab's
// control of that key would, and returns the control whose exit the change
// is. Nothing changes, and `error` says why, for a key that is not in the
// section or has no control on the tab, or a value its control does not take.
std::optional<Form1Control> SetForm1Key(Form1Settings& f, std::string_view key,
                                        std::string_view value, std::string* error);

}  // namespace console
