// What the configurator window offers its tabs and operation windows: the
// run's channel, the operator's questions, and the window's own buttons.
#pragma once

#include <vector>

#include "configurator/config_session.h"

namespace console::gui {
class Asker;
}

namespace configurator::gui {

inline ConfigCommand Command(ConfigCommand::Kind k) {
  ConfigCommand c;
  c.kind = k;
  return c;
}

class ConfigHost {
 public:
  virtual ~ConfigHost() = default;
  // A command for the run.
  virtual void Post(ConfigCommand c) = 0;
  // An expander operation's request: the re-read follows the device's notice.
  void StartOperation(std::vector<uint8_t> request) {
    ConfigCommand c = Command(ConfigCommand::Kind::kOperation);
    c.request = std::move(request);
    Post(std::move(c));
  }
  // "Завершить": `request` (may be empty) goes, the window stops waiting.
  void EndOperation(std::vector<uint8_t> request = {}) {
    ConfigCommand c = Command(ConfigCommand::Kind::kEndOperation);
    c.request = std::move(request);
    Post(std::move(c));
  }
  // The re-read after an operation is still awaited.
  virtual bool ReReadArmed() const = 0;
  // ButtonRead and ButtonWrite enabled again.
  virtual void GiveButtonsBack() = 0;
  // Every edit of the image starts with the progress bar at 0.
  virtual void Edited() = 0;
  // "Цикл Чт.Сост." was checked: the ten-second state timer runs.
  virtual void StartStateCycle() = 0;
  // "Чт.Сост." stops the state timer for both tables.
  virtual void StopStateCycle() = 0;
  // An expander box was clicked: which expander is active changed.
  virtual void ActiveChanged() = 0;
  virtual console::gui::Asker& Asker() = 0;
};

}  // namespace configurator::gui
