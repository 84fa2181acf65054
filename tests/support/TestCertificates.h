// Certificates for TLS tests, made with the openssl command in a temporary folder: a test
// authority and a server certificate it signed, for the names given.
#pragma once

#include <string>
#include <vector>

namespace pvtest {

class TTestCertificates {
public:
    // names: DNS names and IP addresses the server certificate carries.
    explicit TTestCertificates(const std::vector<std::string>& names = {"localhost", "127.0.0.1",
                                                                        "::1"});
    ~TTestCertificates();
    TTestCertificates(const TTestCertificates&) = delete;
    TTestCertificates& operator=(const TTestCertificates&) = delete;

    // Empty when everything was made; otherwise what the openssl command said.
    const std::string& Error() const { return FError; }
    std::string Authority() const { return FFolder + "/ca.pem"; }
    std::string Certificate() const { return FFolder + "/server.pem"; }
    std::string Key() const { return FFolder + "/server.key"; }
    // "sha256:" + lower-case hex of the server certificate, as the openssl command reports it.
    std::string Fingerprint() const;

private:
    bool Run(const std::vector<std::string>& arguments);

    std::string FFolder;
    std::string FError;
};

} // namespace pvtest
