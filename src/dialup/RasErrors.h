// Texts of the RAS error numbers our providers report.
#pragma once

#include <cstdint>
#include <string>

// The text for a RAS error number; numbers we never report get a generic text with the
// number. Every text fits the 100-character buffer the component passes.
std::string RasErrorText(uint32_t error);
