// The exchanges of a device's access and identity: the login check, new
// credentials, the web interface and the firmware versions.
#pragma once

#include <string>

#include "maintenance/exchange.h"

namespace maintenance {

// User name and password of the login panel, each 1..16 characters; true
// when the device accepted both.
bool CheckLogin(Exchange& x, const std::string& user, const std::string& password);

// The new user name and password, each 5..16 characters, sent encrypted;
// true when the device accepted both.
bool SendNewCredentials(Exchange& x, const std::string& user, const std::string& password);

// True when the device switched its web interface on; sets GlAbort after
// three tries without an answer.
bool EnableWebInterface(Exchange& x);

// The versions of both controllers, logged; sets GlChipKind. Sets GlAbort
// after three tries without an answer.
bool QueryVersions(Exchange& x);

// The version line of an answer with code 0x15, as logged; empty for a
// length the devices do not use. Sets `chipKind` (0 for the short form).
std::string VersionLine(const std::array<uint8_t, 128>& answer, uint8_t* chipKind);

// Why credentials cannot be sent: empty when each text has `min`..16
// characters (bytes as the device counts them).
std::string CredentialsRefusal(const std::string& user, const std::string& password, size_t min);

}  // namespace maintenance
