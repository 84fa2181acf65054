// Loopback ports for network tests.
#pragma once

#include <cstdint>

namespace pvtest {
// A port on 127.0.0.1 that nothing listened on a moment ago.
uint16_t FreeLoopbackPort();
// True when something accepts connections on 127.0.0.1:port.
bool CanConnect(uint16_t port);
} // namespace pvtest
