// Decoding of the devices' answers to the console's service requests (channel
// type, signal level, SIM balance, switching off and on) into message lines.
#pragma once

#include <cstdint>
#include <string>

#include "console/message_sink.h"
#include "devlink/client_record.h"

namespace armlink {

// For an event telegram of device `r`: produces the message of a service
// answer when one is expected (and gives its text in `answer`), and returns
// true when the event is a GSM balance packet that is acknowledged but not
// forwarded to the workstation.
// The SIM card (1 or 2) an answer speaks of: signal level, balance; 0 for
// an answer about no card.
uint8_t AnswerSim(const uint8_t* t);

bool DecodeServiceAnswer(const devlink::ClientRecord& r, const uint8_t* t,
                         console::MessageSink& sink, std::string* answer = nullptr);

}  // namespace armlink
