// Log-in and STAT against an account's settings, without saving or changing anything: what
// the account editor's "Test connection" runs. Automatic security is found first. The socket waits
// keep events running, so Cancel can be pressed while it runs.
#pragma once

#include "mailbox/AccountFiles.h"

#include <cstdint>
#include <string>

class TmsPOPClient;

class TConnectionTest {
public:
    struct TResult {
        bool Ok = false;
        std::string Text; // "3 messages (1.2 MB) waiting", or why it failed
        // For automatic security: what the server was found to offer ("tls" or "starttls")
        // and on which port, also when the log-in failed after it; "" when nothing was found.
        std::string Security;
        int Port = 0;
    };
    TResult Run(const TAccountSettings& s);
    // Ends a running test; Run then returns with the cancel text.
    void Cancel();
    bool Running() const { return FClient != nullptr; }

private:
    TmsPOPClient* FClient = nullptr;
};

// "No messages waiting", "1 message (812 bytes) waiting", "3 messages (1.2 MB) waiting".
std::string WaitingText(int count, int64_t size);
