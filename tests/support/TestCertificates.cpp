#include "TestCertificates.h"

#include <QProcess>
#include <QStringList>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pvtest {

namespace {
const char* const kOpenssl = "openssl";
constexpr int kGuardMs = 60000;

bool IsAddress(const std::string& name) {
    return name.find(':') != std::string::npos ||
           (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back())));
}
} // namespace

TTestCertificates::TTestCertificates(const std::vector<std::string>& names) {
    char pattern[] = "/tmp/pv-certs-XXXXXX";
    FFolder = ::mkdtemp(pattern);
    std::string alt;
    for (const std::string& name : names) {
        alt += (alt.empty() ? "" : ",") + std::string(IsAddress(name) ? "IP:" : "DNS:") + name;
    }
    std::ofstream(FFolder + "/server.ext")
        << "subjectAltName=" << alt << "\nbasicConstraints=CA:FALSE\n"
        << "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n";
    const std::string dir = FFolder + "/";
    Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", dir + "ca.key", "-out", dir + "ca.pem", "-days", "2", "-subj",
         "/CN=Postvigil Test Authority", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"}) &&
        Run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", dir + "server.key", "-out", dir + "server.csr", "-subj",
             "/CN=" + names.front()}) &&
        Run({"x509", "-req", "-in", dir + "server.csr", "-CA", dir + "ca.pem", "-CAkey",
             dir + "ca.key", "-CAcreateserial", "-out", dir + "server.pem", "-days", "2",
             "-extfile", dir + "server.ext"});
}

TTestCertificates::~TTestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

bool TTestCertificates::Run(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& a : arguments) list << QString::fromStdString(a);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kOpenssl, list);
    if (!process.waitForFinished(kGuardMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        FError = "openssl " + arguments.front() + " failed: " + process.readAll().toStdString() +
                 process.errorString().toStdString();
        return false;
    }
    return true;
}

std::string TTestCertificates::Fingerprint() const {
    QProcess process;
    process.start(kOpenssl, {"x509", "-noout", "-fingerprint", "-sha256", "-in",
                             QString::fromStdString(Certificate())});
    process.waitForFinished(kGuardMs);
    // "sha256 Fingerprint=AB:CD:..."
    std::string text = process.readAllStandardOutput().toStdString();
    std::string hex;
    for (char c : text.substr(text.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return "sha256:" + hex;
}

} // namespace pvtest
