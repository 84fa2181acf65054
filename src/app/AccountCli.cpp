#include "app/AccountCli.h"

#include "base/StrUtils.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/OAuthAccount.h"
#include "mailbox/OAuthProviders.h"
#include "mailbox/Settings.h"
#include "net/MsTls.h"
#include "net/Mspop.h"
#include "net/SecurityProbe.h"
#include "platform/Keyring.h"

#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace {
const char* const kMissingValue = "Missing value for ";
const char* const kUnknownOption = "Unknown option for --add-account: ";
const char* const kNeedServerAndUser = "--add-account needs --server and --user";
const char* const kNeedPassword =
    "--add-account needs a password: give it as the first line of standard input";
const char* const kPasswordOnCommandLine =
    "The password is read from standard input, never from the command line";
const char* const kBadPortText = "--port needs a number from 1 to 65535";
const char* const kBadSecurity = "--security needs tls, starttls or none";
const char* const kPasswordPrompt = "Password: ";
const char* const kWritten = "Account written: ";
const char* const kStartUp = "start-up";
const char* const kNotAFingerprint =
    "--trust-certificate needs a SHA-256 fingerprint: sha256: and 64 hexadecimal digits";
const char* const kNoStartAccount = "No start-up account: add one with postvigil --add-account";
const char* const kNoTls = "The start-up account uses no TLS (Security=none): there is no "
                           "certificate to trust";
const char* const kOtherCertificate = "The server shows another certificate: ";
const char* const kNothingStored = "; nothing was stored";
const char* const kServerText = "Server: ";
const char* const kTrustedFor = "Trusted for the account \"";
const char* const kNotStored = "The fingerprint could not be stored in ";
const char* const kFound = "Security: ";
const char* const kNothingWritten = "; no account was written. Choose --security none only for a "
                                    "server that offers no encryption at all";
const char* const kUnverified = "The server's certificate could not be verified: ";
const char* const kFingerprintText = "SHA-256 fingerprint: ";
const char* const kOtherProvider = "other";
const char* const kUnknownProvider = "--oauth needs one of: ";
const char* const kNeedClientId =
    "--oauth needs --client-id: the id your provider gave the client you registered";
const char* const kSignInLater =
    "Sign in with postvigil --sign-in, or at the first check in the window";
const char* const kNotOAuth =
    "The start-up account signs in with its password: it has no OAuth 2.0 sign-in";
const char* const kOpening = "Sign in in the browser at: ";
const char* const kSignedIn = "Signed in; the sign-in is kept in the desktop keyring";

// Terminal echo off for as long as it lives.
class TNoEcho {
public:
    TNoEcho() {
        FActive = tcgetattr(STDIN_FILENO, &FSaved) == 0;
        if (!FActive) return;
        termios quiet = FSaved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~TNoEcho() {
        if (FActive) tcsetattr(STDIN_FILENO, TCSAFLUSH, &FSaved);
    }
    TNoEcho(const TNoEcho&) = delete;
    TNoEcho& operator=(const TNoEcho&) = delete;

private:
    termios FSaved{};
    bool FActive = false;
};

std::string ReadPassword(std::istream& in, std::ostream& err) {
    std::string line;
    if (&in == &std::cin && isatty(STDIN_FILENO)) {
        err << kPasswordPrompt << std::flush;
        TNoEcho quiet;
        std::getline(in, line);
        err << "\n";
    } else {
        std::getline(in, line);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
// --oauth PROVIDER: the preset's settings where the command line gave none. 0, or the exit
// status of a refusal.
int TakeProvider(const std::string& provider, std::string& port, TAccountSettings& s,
                 std::ostream& err) {
    TOAuthConfig& o = s.OAuth;
    o.Method = kAuthOAuth2;
    const TOAuthPreset* preset = FindOAuthPreset(provider);
    if (!preset && !SameText(provider, kOtherProvider)) {
        err << kUnknownProvider;
        for (const TOAuthPreset& p : OAuthPresets()) err << p.Id << ", ";
        err << kOtherProvider << "\n";
        return 2;
    }
    if (o.ClientId.empty()) {
        err << kNeedClientId << "\n";
        return 2;
    }
    if (!preset) return 0;
    o.Provider = preset->Id;
    const std::pair<std::string*, const std::string*> fill[] = {
        {&s.Server, &preset->Server},
        {&s.Security, &preset->Security},
        {&o.AuthorizationUrl, &preset->AuthorizationUrl},
        {&o.TokenUrl, &preset->TokenUrl},
        {&o.Scopes, &preset->Scopes}};
    for (const auto& [target, value] : fill)
        if (target->empty()) *target = *value;
    if (port.empty() && preset->Port > 0) port = std::to_string(preset->Port);
    return 0;
}
} // namespace

int RunAddAccount(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
    TAccountSettings s;
    std::string port;
    std::string provider;
    TOAuthConfig& o = s.OAuth;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        std::string* target = option == "--server"              ? &s.Server
                              : option == "--port"              ? &port
                              : option == "--user"              ? &s.UserName
                              : option == "--description"       ? &s.IniDescript
                              : option == "--security"          ? &s.Security
                              : option == "--deliver"           ? &s.Deliver
                              : option == "--oauth"             ? &provider
                              : option == "--client-id"         ? &o.ClientId
                              : option == "--client-secret"     ? &o.ClientSecret
                              : option == "--authorization-url" ? &o.AuthorizationUrl
                              : option == "--token-url"         ? &o.TokenUrl
                              : option == "--scopes"            ? &o.Scopes
                                                                : nullptr;
        if (option == "--password") {
            err << kPasswordOnCommandLine << "\n";
            return 2;
        }
        if (!target) {
            err << kUnknownOption << option << "\n";
            return 2;
        }
        if (i + 1 >= args.size()) {
            err << kMissingValue << option << "\n";
            return 2;
        }
        *target = args[++i];
    }
    if (!provider.empty()) {
        const int rc = TakeProvider(provider, port, s, err);
        if (rc != 0) return rc;
    }
    if (s.Server.empty() || s.UserName.empty()) {
        err << kNeedServerAndUser << "\n";
        return 2;
    }
    if (!port.empty()) {
        s.DefPort = StrToIntDef(port, 0);
        if (s.DefPort < 1 || s.DefPort > 65535) {
            err << kBadPortText << "\n";
            return 2;
        }
    }
    if (!s.Security.empty() && s.Security != "tls" && s.Security != "starttls" &&
        s.Security != "none") {
        err << kBadSecurity << "\n";
        return 2;
    }
    if (s.IniDescript.empty()) s.IniDescript = s.UserName + "@" + s.Server;
    if (!o.Enabled()) s.Password = ReadPassword(in, err);
    if (s.Password.empty() && !o.Enabled()) {
        err << kNeedPassword << "\n";
        return 2;
    }

    std::string error = CheckAccountSettings(s, PasswordStore().Available());
    if (!error.empty()) {
        err << error << "\n";
        return 1;
    }
    // Without a stated security the account gets what the server is found to offer.
    std::string unverified;
    if (s.Security.empty()) {
        TmsPOPClient client;
        client.SetHost(s.Server);
        client.SetTimeOut(s.Timeout);
        try {
            FindSecurity(client, ProbePorts(port.empty() ? 0 : s.DefPort));
        } catch (const EmsCertificateError& e) {
            // The server offers this protection; whether to trust its certificate is the
            // user's decision, made with --trust-certificate.
            unverified = e.Reason + "\n" + kFingerprintText + e.Fingerprint;
        } catch (const std::exception& e) {
            err << e.what() << kNothingWritten << "\n";
            return 1;
        }
        s.Security = SecurityName(client.Security());
        s.DefPort = client.Port();
        out << kFound << s.Security << ", port " << s.DefPort << "\n";
    }
    const std::string name = CreateAccount(s, error);
    if (name.empty()) {
        err << error << "\n";
        return 1;
    }
    out << kWritten << AccountFileName(name) << "\n";
    if (o.Enabled()) out << kSignInLater << "\n";
    if (unverified.empty()) return 0;
    err << kUnverified << unverified << "\n";
    return 1;
}

int RunTrustCertificate(const std::string& fingerprint, std::ostream& out, std::ostream& err) {
    const std::string wanted = NormalizeFingerprint(fingerprint);
    if (wanted.size() != 7 + 64 ||
        wanted.find_first_not_of("0123456789abcdef", 7) != std::string::npos) {
        err << kNotAFingerprint << "\n";
        return 2;
    }
    if (!StartAccountExists()) {
        err << kNoStartAccount << "\n";
        return 1;
    }
    const std::string file = AccountFileName(StartAccountName());
    const TAccountSettings s = ReadAccountSettings(file);
    const TmsSecurity security = SecurityValue(SecurityOf(s.Security, s.DefPort));
    if (security == secNone) {
        err << kNoTls << "\n";
        return 1;
    }
    TmsPOPClient client;
    client.SetHost(s.Server);
    client.SetPort(uint16_t(s.DefPort));
    client.SetSecurity(security);
    // Accepted only when the server shows exactly this certificate.
    client.SetCertFingerprint(wanted);
    client.SetTimeOut(s.Timeout);
    try {
        client.OpenSecured();
    } catch (const EmsCertificateError& e) {
        err << kOtherCertificate << e.Fingerprint << " (" << e.Reason << ")" << kNothingStored
            << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << e.what() << kNothingStored << "\n";
        return 1;
    }
    out << kServerText << client.Host() << ":" << client.Port() << "\n"
        << client.PeerCertificateText() << wanted << "\n";
    try {
        client.Logout();
    } catch (const std::exception&) {
        // The certificate is what was wanted; a goodbye that fails changes nothing.
    }
    if (!StoreCertFingerprint(file, wanted)) {
        err << kNotStored << file << "\n";
        return 1;
    }
    out << kTrustedFor << s.IniDescript << "\" (" << file << ")\n";
    return 0;
}

int RunListAccounts(std::ostream& out) {
    const std::string start = StartAccountName();
    for (const TAccountEntry& a : ListedAccounts()) {
        out << ReadIniDescript(a.FileName) << "\t" << a.FileName;
        if (SameText(a.Name, start)) out << "\t" << kStartUp;
        out << "\n";
    }
    return 0;
}

int RunSignIn(const TBrowserOpener& browser, std::ostream& out, std::ostream& err) {
    if (!StartAccountExists()) {
        err << kNoStartAccount << "\n";
        return 1;
    }
    const std::string file = AccountFileName(StartAccountName());
    const TAccountSettings s = ReadAccountSettings(file);
    if (!s.OAuth.Enabled()) {
        err << kNotOAuth << "\n";
        return 1;
    }
    TOAuthAccount account(s.OAuth, KeyringKey(file), s.UserName);
    try {
        account.SignIn([&](const std::string& address) {
            // Also for a user whose browser is elsewhere: the address can be copied.
            out << kOpening << address << std::endl;
            browser(address);
            return true;
        });
    } catch (const EOAuthError& e) {
        err << e.Message << "\n";
        return 1;
    }
    out << kSignedIn << "\n";
    return 0;
}
