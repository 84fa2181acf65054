// A decoded message as one JSON object. Byte strings are written lossless: byte n becomes
// the character U+00nn.
#pragma once

#include "message/msmsg.h"

#include <string>

// withContent false leaves out body and attachments (the header listing).
std::string MessageJson(const TmsMessage& message, bool withContent);
