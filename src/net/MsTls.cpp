#include "net/MsTls.h"

#include "base/StrUtils.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {
const char* const kSetupFailed = "TLS could not be set up";
const char* const kHandshakeFailed = "TLS handshake failed";
const char* const kTlsFailed = "TLS error";
const char* const kRefused = "The server's certificate was refused: ";
const char* const kFingerprintPrefix = "sha256:";
const char* const kNoCertificate = "the server sent no certificate";
const char* const kNotPinned = "it is not the certificate trusted for this account";
const char* const kFingerprintText = " (SHA-256 fingerprint ";
const char* const kVerifiedFor = ", certificate verified for ";
const char* const kTrustedFor = ", certificate trusted by its fingerprint for ";
const char* const kSubjectText = "Subject: ";
const char* const kIssuerText = "Issuer: ";
const char* const kValidFrom = "Valid from ";
const char* const kValidUntil = " until ";

// The reason OpenSSL queued for the last failure, or "" (the queue is emptied).
std::string ErrorQueueText() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (text.empty()) text = line;
    }
    return text;
}

std::string Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    static const char* const kHex = "0123456789abcdef";
    std::string text = kFingerprintPrefix;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}
} // namespace

EmsCertificateError::EmsCertificateError(const std::string& reason, std::string fingerprint)
    : EmsTlsError(kRefused + reason +
                  (fingerprint.empty() ? std::string() : kFingerprintText + fingerprint + ")")),
      Reason(reason), Fingerprint(std::move(fingerprint)) {}

std::string NormalizeFingerprint(std::string_view text) {
    std::string value = LowerCase(Trim(text));
    if (value.rfind(kFingerprintPrefix, 0) == 0) value.erase(0, 7);
    std::string hex;
    for (char c : value)
        if (c != ':') hex += c;
    return hex.empty() ? std::string() : kFingerprintPrefix + hex;
}

struct TmsTlsSession::TImpl {
    SSL_CTX* Context = nullptr;
    SSL* Ssl = nullptr;
    BIO* Incoming = nullptr; // owned by Ssl
    BIO* Outgoing = nullptr; // owned by Ssl
    std::string Host;
    bool Pinned = false;
};

TmsTlsSession::TmsTlsSession(std::string_view host, bool addressLiteral)
    : F(std::make_unique<TImpl>()) {
    F->Host = std::string(host);
    F->Context = SSL_CTX_new(TLS_client_method());
    if (!F->Context) Fail(kSetupFailed, 0);
    SSL_CTX_set_min_proto_version(F->Context, TLS1_2_VERSION);
    // The system's trust store (or the files SSL_CERT_FILE / SSL_CERT_DIR name).
    SSL_CTX_set_default_verify_paths(F->Context);
    // The handshake completes either way; VerifyPeer decides before anything is sent.
    SSL_CTX_set_verify(F->Context, SSL_VERIFY_NONE, nullptr);
    F->Ssl = SSL_new(F->Context);
    F->Incoming = BIO_new(BIO_s_mem());
    F->Outgoing = BIO_new(BIO_s_mem());
    if (!F->Ssl || !F->Incoming || !F->Outgoing) {
        BIO_free(F->Incoming);
        BIO_free(F->Outgoing);
        F->Incoming = F->Outgoing = nullptr;
        Fail(kSetupFailed, 0);
    }
    // An empty input buffer means "wait for more", not the end of the stream.
    BIO_set_mem_eof_return(F->Incoming, -1);
    SSL_set_bio(F->Ssl, F->Incoming, F->Outgoing);
    SSL_set_connect_state(F->Ssl);
    if (addressLiteral) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(F->Ssl), F->Host.c_str());
    } else {
        SSL_set_tlsext_host_name(F->Ssl, F->Host.c_str());
        SSL_set1_host(F->Ssl, F->Host.c_str());
    }
}

TmsTlsSession::~TmsTlsSession() {
    SSL_free(F->Ssl);
    SSL_CTX_free(F->Context);
}

void TmsTlsSession::Fail(std::string_view what, int result) {
    int kind = F->Ssl && result <= 0 ? SSL_get_error(F->Ssl, result) : 0;
    std::string reason = ErrorQueueText();
    if (reason.empty() && kind == SSL_ERROR_SYSCALL) reason = "unexpected end of the session";
    throw EmsTlsError(std::string(what) + (reason.empty() ? "" : ": " + reason));
}

void TmsTlsSession::PutReceived(const char* data, std::size_t length) {
    if (length > 0) BIO_write(F->Incoming, data, int(length));
}

bool TmsTlsSession::TakeOutgoing(std::string& data) {
    data.clear();
    char* bytes = nullptr;
    long length = BIO_get_mem_data(F->Outgoing, &bytes);
    if (length <= 0) return false;
    data.assign(bytes, std::size_t(length));
    (void)BIO_reset(F->Outgoing);
    return true;
}

bool TmsTlsSession::Handshake() {
    ERR_clear_error();
    int result = SSL_do_handshake(F->Ssl);
    if (result == 1) return true;
    int kind = SSL_get_error(F->Ssl, result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return false;
    Fail(kHandshakeFailed, result);
}

int TmsTlsSession::Read(char* buffer, int capacity) {
    ERR_clear_error();
    int result = SSL_read(F->Ssl, buffer, capacity);
    if (result > 0) return result;
    int kind = SSL_get_error(F->Ssl, result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return -1;
    if (kind == SSL_ERROR_ZERO_RETURN) return 0;
    Fail(kTlsFailed, result);
}

void TmsTlsSession::Write(const char* data, std::size_t length) {
    ERR_clear_error();
    // A memory buffer takes everything at once.
    if (length > 0 && SSL_write(F->Ssl, data, int(length)) <= 0) Fail(kTlsFailed, 0);
}

void TmsTlsSession::Close() {
    ERR_clear_error();
    SSL_shutdown(F->Ssl);
    ERR_clear_error();
}

void TmsTlsSession::VerifyPeer(std::string_view pinned) {
    X509* certificate = SSL_get1_peer_certificate(F->Ssl);
    std::string fingerprint = Fingerprint(certificate);
    X509_free(certificate);
    if (fingerprint.empty()) throw EmsCertificateError(kNoCertificate, {});
    const std::string trusted = NormalizeFingerprint(pinned);
    if (!trusted.empty()) {
        if (trusted != fingerprint) throw EmsCertificateError(kNotPinned, fingerprint);
        F->Pinned = true;
        return;
    }
    long result = SSL_get_verify_result(F->Ssl);
    if (result != X509_V_OK) {
        throw EmsCertificateError(X509_verify_cert_error_string(result), fingerprint);
    }
}

namespace {
// What a memory BIO collected.
std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, std::size_t(length)) : std::string();
}

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    // One line, "CN = pop.example.org, O = Example", with UTF-8 kept as it is.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    std::string text = BioText(bio);
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    BIO* bio = BIO_new(BIO_s_mem());
    ASN1_TIME_print(bio, time);
    std::string text = BioText(bio);
    BIO_free(bio);
    return text;
}
} // namespace

std::string TmsTlsSession::PeerCertificateText() const {
    X509* certificate = SSL_get1_peer_certificate(F->Ssl);
    if (!certificate) return {};
    const std::string text = kSubjectText + NameText(X509_get_subject_name(certificate)) + "\n" +
                             kIssuerText + NameText(X509_get_issuer_name(certificate)) + "\n" +
                             kValidFrom + TimeText(X509_get0_notBefore(certificate)) + kValidUntil +
                             TimeText(X509_get0_notAfter(certificate)) + "\n";
    X509_free(certificate);
    return text;
}

std::string TmsTlsSession::Description() const {
    std::string version = SSL_get_version(F->Ssl); // "TLSv1.3"
    if (version.rfind("TLSv", 0) == 0) version = "TLS " + version.substr(4);
    return version + (F->Pinned ? kTrustedFor : kVerifiedFor) + F->Host;
}
