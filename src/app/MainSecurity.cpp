// TFormMain and the security of its connections: trusting a certificate the user knows, the
// protocol line on how a connection is protected, the warning about clear-text passwords.
#include "app/MainUnit.h"
#include "base/StrUtils.h"
#include "mailbox/Settings.h"
#include "net/MsTls.h"
#include "net/Mspop.h"
#include "net/SecurityProbe.h"
#include "platform/Ansi.h"
#include "platform/Prompts.h"

namespace {
const char* const kTrustCaption = "Server certificate not trusted";
const char* const kTrustQuestion =
    "The server's certificate could not be verified:\n%1\n\n"
    "SHA-256 fingerprint:\n%2\n\n"
    "Somebody between you and the server could read your password and your mail. Trust "
    "this certificate for the account \"%3\" only if you know for certain that it is the "
    "server's own (compare the fingerprint with the one your provider publishes).\n\n"
    "Trust this certificate for this account?";
const char* const kTrustStored = "Certificate trusted for this account: ";
const char* const kTrustNotStored =
    "The trusted certificate could not be stored in the account file";
const char* const kClearTextWarning = "Warning: the password was sent without encryption to ";
const char* const kSecurityPrefix = "Security: ";
const char* const kSecurityStored = "Security found and stored for this account: ";
const char* const kSecurityNotStored = "The security found could not be stored in the account file";
const char* const kOnPort = " on port ";

// Names and addresses that never leave the machine.
bool IsLoopbackHost(const std::string& host) {
    const std::string name = LowerCase(host);
    return name == "localhost" || name.ends_with(".localhost") || name.starts_with("127.") ||
           name == "::1";
}
} // namespace

void TFormMain::LoginTrusting() {
    const bool search = ClientRec.SecuritySearch != ssStated;
    // A certificate found during the search belongs to what the server offers: once trusted,
    // that security is the one stored.
    bool found = search;
    try {
        if (search) found = SearchSecurity();
        POPClient->Login();
    } catch (const EmsCertificateError& e) {
        if (!OfferCertificateTrust(e)) {
            FRefusedFingerprint = e.Fingerprint;
            throw;
        }
        if (POPClient->IsConnected()) POPClient->Disconnect();
        POPClient->Login();
    }
    if (found) StoreFoundSecurity();
    ReportConnectionSecurity();
}

bool TFormMain::SearchSecurity() {
    try {
        FindSecurity(*POPClient, ProbePorts(ClientRec.DefPort));
        return true;
    } catch (const ENoSecureConnection& e) {
        if (ClientRec.SecuritySearch == ssFind) throw;
        // Clear text stays what the account had; the search is not repeated in this run.
        WriteLog(e.Message);
        ClientRec.SecuritySearch = ssStated;
        POPClient->SetSecurity(SecurityValue(ClientRec.Security));
        POPClient->SetPort(uint16_t(ClientRec.DefPort));
        return false;
    }
}

void TFormMain::StoreFoundSecurity() {
    ClientRec.Security = SecurityName(POPClient->Security());
    ClientRec.DefPort = POPClient->Port();
    ClientRec.SecuritySearch = ssStated;
    if (!StoreSecurity(AccountFileName(CurSetName), POPClient->Security(), POPClient->Port())) {
        WriteLog(kSecurityNotStored);
        return;
    }
    WriteLog(kSecurityStored + ClientRec.Security + kOnPort + std::to_string(ClientRec.DefPort));
}

bool TFormMain::OfferCertificateTrust(const EmsCertificateError& e) {
    if (e.Fingerprint.empty()) return false;
    TPromptRequest request;
    request.Caption = kTrustCaption;
    request.Text = FillPlaces(kTrustQuestion, {e.Reason, e.Fingerprint, ClientRec.IniDescript});
    request.Type = mtWarning;
    request.Buttons = mbYes | mbNo;
    request.Default = mbNo;
    if (Prompts().Show(request) != mrYes) return false;
    if (!StoreCertFingerprint(AccountFileName(CurSetName), e.Fingerprint)) {
        WriteLog(kTrustNotStored);
        return false;
    }
    ClientRec.CertFingerprint = e.Fingerprint;
    POPClient->SetCertFingerprint(e.Fingerprint);
    WriteLog(kTrustStored + e.Fingerprint);
    return true;
}

void TFormMain::ReportConnectionSecurity() {
    WriteLog(kSecurityPrefix + POPClient->SecurityDescription());
    if (POPClient->Encrypted() || FWarnedClearText || IsLoopbackHost(POPClient->Host())) return;
    FWarnedClearText = true;
    SetStatusText(AnsiToQ(kClearTextWarning + POPClient->Host()));
}
