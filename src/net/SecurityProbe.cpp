#include "net/SecurityProbe.h"

#include "base/StrUtils.h"
#include "net/MsTls.h"
#include "net/Mspop.h"

namespace {
const char* const kNeither =
    "No secure connection: TLS on port %1 failed (%2); STLS on port %3 failed (%4)";
constexpr int kTlsPort = 995;
constexpr int kPlainPort = 110;

// One attempt: "" when the connection could be opened and protected, else why not.
std::string Attempt(TmsPOPClient& client, TmsSecurity security, int port) {
    client.SetSecurity(security);
    client.SetPort(uint16_t(port));
    std::string failure;
    try {
        client.OpenSecured();
    } catch (const EmsCertificateError&) {
        throw;
    } catch (const EmsCanceledError&) {
        throw;
    } catch (const Exception& e) {
        failure = e.Message.empty() ? "no answer" : e.Message;
    }
    try {
        // A connection that is still open is ended politely; the goodbye changes nothing about
        // what was found.
        if (client.IsConnected()) client.Logout();
    } catch (const EmsCanceledError&) {
        throw;
    } catch (const Exception&) {
        if (client.IsConnected()) client.Disconnect();
    }
    return failure;
}
} // namespace

ENoSecureConnection::ENoSecureConnection(const std::string& message) : Exception(message) {}

TProbePorts ProbePorts(int given) {
    if (given > 0) return {given, given};
    return {kTlsPort, kPlainPort};
}

TmsSecurity FindSecurity(TmsPOPClient& client, TProbePorts ports) {
    const std::string tls = Attempt(client, secTls, ports.Tls);
    if (tls.empty()) return secTls;
    const std::string stls = Attempt(client, secStartTls, ports.StartTls);
    if (stls.empty()) return secStartTls;
    throw ENoSecureConnection(FillPlaces(
        kNeither, {std::to_string(ports.Tls), tls, std::to_string(ports.StartTls), stls}));
}
