// The questions an operator answers before an action, the same whichever
// front end asks them.
#pragma once

namespace console {

inline constexpr const char* kAskRegisterAll =
    "Внимание - включена регистрация на 5мин.! Исполнить?";
inline constexpr const char* kAskRegisterOne =
    "Внимание - включена постоянная регистрация! Исполнить?";
inline constexpr const char* kAskDeleteAll =
    "Внимание - Все зарегистрированные приборы будут удалены! Исполнить?";
inline constexpr const char* kAskDeleteOne =
    "Внимание - Зарегистрированный прибор будет удален! Исполнить?";
inline constexpr const char* kAskSwitchOff = "Внимание - Этот прибор не будет охраняться! Исполнить?";

}  // namespace console
