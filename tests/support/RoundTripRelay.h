// A relay on 127.0.0.1 between a client under test and a real server that counts the round
// trips the client spends: each connection, and each time the client sends after the server
// has sent (it waited for an answer). Runs in the caller's thread, served by the waits of a
// non-blocking client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pvtest {

class TRoundTripRelay {
public:
    TRoundTripRelay(const std::string& targetHost, uint16_t targetPort);
    ~TRoundTripRelay();
    TRoundTripRelay(const TRoundTripRelay&) = delete;
    TRoundTripRelay& operator=(const TRoundTripRelay&) = delete;

    // "127.0.0.1:port", ready for TmsClientSocket::SetHost.
    std::string HostAndPort() const;
    int RoundTrips() const;

    class TCore;

private:
    std::unique_ptr<TCore> FCore;
};

} // namespace pvtest
