// The traffic filter of the device telegram trace: which telegrams reach the
// traffic window while it follows one device, and the peer it learns from
// them. Also the parse rule of the number fields ("1/0/0").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/console_settings.h"

namespace console {

class MessageSink;

class TrafficFilter {
 public:
  // Whether the filtered trace shows the telegram `t` (128 bytes) exchanged
  // with `peer`:`port`. A telegram that passes by the followed number, or any
  // plain one of the device types that passes, becomes the learned peer.
  bool Admit(const ConsoleSettings& s, const uint8_t* t, std::string_view peer, uint16_t port,
             bool encrypted);

  // GlFiltrIp, GlFiltrPort: empty and 0 until learned.
  const std::string& LearnedIp() const { return ip_; }
  uint16_t LearnedPort() const { return port_; }

 private:
  bool PassPlain(const ConsoleSettings& s, const uint8_t* t, std::string_view peer, uint16_t port);
  bool PassEncrypted(const ConsoleSettings& s, const uint8_t* t, std::string_view peer,
                     uint16_t port);
  bool FromLearned(std::string_view peer, uint16_t port) const {
    return peer == ip_ && port == port_;
  }
  void Learn(std::string_view peer, uint16_t port);

  std::string ip_;
  uint16_t port_ = 0;
};

// Parses a number field into `n`: the part before each "/" goes into the next
// byte, the part after the last "/" only when the text holds exactly two "/";
// at most three parts. A part that is not a number from 0 to 255 stores 0.
// Returns the number of such parts; bytes not reached keep their value.
int ParseNumberField(std::string_view text, ConsoleNumber& n);

// Leaving a number field: `n` from the text, with the debug line
// "Ошибка преобразования \"<field>\"" for each part that is not a number.
void NumberFieldExit(std::string_view text, AtomicNumber& n, std::string_view field,
                     MessageSink& sink);

// Leaving the filter field: GlFiltrNPult from the text ("FiltrNPultExit").
void FilterFieldExit(std::string_view text, ConsoleSettings& s, MessageSink& sink);

}  // namespace console
