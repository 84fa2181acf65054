#include "mailbox/ConnectionTest.h"

#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "net/SecurityProbe.h"

#include <cstdio>

namespace {
const char* const kFailed = "Test failed: ";
const char* const kNoMessages = "No messages waiting";
const char* const kTokenOffered = "The server offers OAuth 2.0 sign-in (%1); the browser's sign-in "
                                  "comes with the first check";
const char* const kNoTokenOffered = "The server offers no OAuth 2.0 sign-in (SASL XOAUTH2 or "
                                    "OAUTHBEARER)";
} // namespace

std::string WaitingText(int count, int64_t size) {
    if (count <= 0) return kNoMessages;
    char amount[32];
    if (size < 1000)
        std::snprintf(amount, sizeof amount, "%lld bytes", static_cast<long long>(size));
    else if (size < 1000 * 1000)
        std::snprintf(amount, sizeof amount, "%.1f KB", double(size) / 1e3);
    else
        std::snprintf(amount, sizeof amount, "%.1f MB", double(size) / 1e6);
    return std::to_string(count) + (count == 1 ? " message (" : " messages (") + amount +
           ") waiting";
}

TConnectionTest::TResult TConnectionTest::Run(const TAccountSettings& s) {
    TmsPOPClient client;
    // The port after the host: setting the host resets it.
    client.SetHost(s.Server);
    client.SetPort(uint16_t(s.DefPort));
    // The test protects the password as the check will: an account from before automatic
    // security goes by its port, an automatic one by what the server is found to offer.
    const std::string security = SecurityOf(s.Security, s.DefPort);
    client.SetSecurity(SecurityValue(security));
    client.SetCertFingerprint(s.CertFingerprint);
    client.SetUserName(s.UserName);
    client.SetPassword(s.Password);
    client.SetTimeOut(s.Timeout);
    FClient = &client;
    struct TClear {
        TmsPOPClient*& client;
        ~TClear() { client = nullptr; }
    } clear{FClient};

    TResult result;
    try {
        if (security == kSecurityAuto) {
            FindSecurity(client, ProbePorts(s.DefPort));
            result.Security = SecurityName(client.Security());
            result.Port = client.Port();
        }
        if (s.OAuth.Enabled()) {
            // Signing in is the check's: the test sees what the server offers for it.
            const TmsSaslMechanism mechanism = client.ProbeTokenSignIn();
            result.Ok = mechanism != smNone;
            result.Text = result.Ok ? FillPlaces(kTokenOffered, {SaslMechanismName(mechanism)})
                                    : kFailed + std::string(kNoTokenOffered);
        } else {
            client.Login(); // greeting, USER, PASS, STAT
            result.Ok = true;
            result.Text = WaitingText(client.MessageCount(), client.MailboxSize());
        }
    } catch (const Exception& e) {
        result.Text = kFailed + e.Message;
    }
    // The server learns we are done; a failing goodbye changes nothing about the result.
    try {
        if (result.Ok) client.Logout();
    } catch (const Exception&) {
    }
    try {
        client.Disconnect();
    } catch (const Exception&) {
    }
    return result;
}

void TConnectionTest::Cancel() {
    if (FClient) FClient->Cancel();
}
