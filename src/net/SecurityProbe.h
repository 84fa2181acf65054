// Finding how a POP3 server protects its connections, for an account whose security was not
// chosen: TLS from the start, then STLS after the greeting. Clear text is never tried; that is
// the user's explicit choice alone.
#pragma once

#include "base/Exceptions.h"
#include "net/Mssocket.h"

#include <string>

class TmsPOPClient;

// The ports the attempts go to: with a port given both go there, otherwise TLS to 995 and STLS
// to 110.
struct TProbePorts {
    int Tls = 0;
    int StartTls = 0;
};
TProbePorts ProbePorts(int given);

// Neither attempt worked; the message names both and why each failed.
class ENoSecureConnection : public Exception {
public:
    explicit ENoSecureConnection(const std::string& message);
};

// Tries TLS on ports.Tls, then STLS on ports.StartTls (when CAPA offers it), with the host,
// time-out and trusted certificate the client has. Each attempt connects, reads the greeting,
// protects the connection and says goodbye; nothing about the user is sent. The client is left
// set to the attempt that worked, which is returned. A certificate that cannot be verified is
// raised as it is (EmsCertificateError), with the client set to the attempt that showed it: the
// server does offer that protection, and trusting the certificate is the user's decision. A
// cancel is raised as it is; when neither attempt worked, ENoSecureConnection.
TmsSecurity FindSecurity(TmsPOPClient& client, TProbePorts ports);
