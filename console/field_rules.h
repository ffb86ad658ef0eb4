// The rules of the console's text fields: which keys they take, and what
// their text means when the operator leaves them or presses Enter.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/console_settings.h"
#include "console/message_sink.h"

namespace console {

inline constexpr char kBackspace = '\b';

// The number field of tab "Регистрация": digits, "/" and backspace; "/" is
// refused as the first character and after two of them; a digit is refused
// when the part after the last "/" already has two digits.
bool RegNumberKeyAccepted(std::string_view text, char key);

// The filter field of tab "Трафик": digits, "/" (at most two) and backspace.
bool FilterKeyAccepted(std::string_view text, char key);

// A UDP port field of tab "Настройки": digits only, at most six.
bool PortKeyAccepted(std::string_view text, char key);

// The line cap field: digits only, at most five.
bool TrafficCapKeyAccepted(std::string_view text, char key);

// The line cap of a field's text: 200 when it is not a number, and within
// 1..65535 (the cap is a 16-bit value that must neither wrap nor be 0).
uint16_t TrafficCapOf(std::string_view text);

// Leaving the number field: GlRegNPult from the text, with the debug line
// "Ошибка преобразования \"EditRegOneExit\"" for each part that is not a number.
void RegNumberFieldExit(std::string_view text, ConsoleSettings& s, MessageSink& sink);

}  // namespace console
