#include "mailbox/AccountFiles.h"

#include "base/StrUtils.h"
#include "mailbox/Delivery.h"
#include "mailbox/OAuthAccount.h"
#include "mailbox/Settings.h"
#include "platform/IniFile.h"
#include "platform/Keyring.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sys/stat.h>
#include <utility>

namespace fs = std::filesystem;

const char* const kPasswordInKeyring = "keyring";

namespace {
const char* const kPlainPasswordFile = "DUMMY.SET";
const char* const kDefaultStartAccount = "Dummy";
const char* const kUnnamedAccount = "Account";
const char* const kLabelPrefix = "Postvigil account ";
constexpr std::size_t kNameMax = 60;
constexpr int kMaxListed = 10000;

const char* const kNoDescription = "Enter a description for the account";
const char* const kNoServer = "Enter the name of the POP3 server";
const char* const kLongDescription = "The description can have at most 60 characters";
const char* const kLongField = " can have at most 40 characters";
const char* const kLineBreak = " must not hold a line break or a tab";
const char* const kBadPort = "The port must be a number from 1 to 65535";
const char* const kBadTimeout = "The time-out must be from 1 to 3600 seconds";
const char* const kBadMaxSize = "The maximum size must not be negative";
const char* const kLongPassword =
    "Without a keyring a password can have at most 35 characters; this one is longer";
const char* const kAuthSection = "Authentication";
const char* const kOAuthIncomplete =
    "An OAuth 2.0 account needs its authorization address, token address and client id";
const char* const kOAuthBadAddress = "The OAuth 2.0 addresses must start with https:// or http://";
const char* const kOAuthClearText =
    "An OAuth 2.0 account needs an encrypted connection (security TLS, STLS or automatic)";
const char* const kOAuthNoKeyring =
    "OAuth 2.0 accounts keep their sign-in in the desktop keyring, and no keyring answers";
// The [Authentication] section's keys and the sign-in settings they hold.
const std::pair<const char*, std::string TOAuthConfig::*> kOAuthKeys[] = {
    {"Method", &TOAuthConfig::Method},
    {"Provider", &TOAuthConfig::Provider},
    {"AuthorizationUrl", &TOAuthConfig::AuthorizationUrl},
    {"TokenUrl", &TOAuthConfig::TokenUrl},
    {"Scopes", &TOAuthConfig::Scopes},
    {"ClientId", &TOAuthConfig::ClientId},
    {"ClientSecret", &TOAuthConfig::ClientSecret}};
const char* const kCannotWrite = "The account file could not be written: ";
const char* const kCannotRemove = "The account file could not be removed: ";

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 32; });
}

bool IsPlainPasswordFile(const std::string& fileName) {
    return UpperCase(fs::path(fileName).filename().string()) == kPlainPasswordFile;
}

std::vector<std::string> ListedNames() {
    std::vector<std::string> names;
    TRegistry reg;
    if (!reg.OpenKey(kCheckAssKey, false)) return names;
    const int count = std::min(reg.ReadInteger("@", -1), kMaxListed);
    for (int i = 0; i < count; ++i) names.push_back(reg.ReadString(std::to_string(i)));
    return names;
}

void WriteListedNames(const std::vector<std::string>& names) {
    const std::size_t before = ListedNames().size();
    TRegistry reg;
    reg.OpenKey(kCheckAssKey, true);
    for (std::size_t i = 0; i < names.size(); ++i) reg.WriteString(std::to_string(i), names[i]);
    for (std::size_t i = names.size(); i < before; ++i) reg.DeleteValue(std::to_string(i));
    reg.WriteInteger("@", int(names.size()));
}

bool Listed(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return SameText(n, name); });
}

// Letters, digits, blank, "-", "_" and "." stay; anything else could name another folder,
// trouble a shell or not be a valid file name, and becomes "_".
std::string SafeName(std::string_view description) {
    std::string name;
    for (char c : description) {
        const auto u = static_cast<unsigned char>(c);
        const bool keep =
            u < 128 && (std::isalnum(u) || c == ' ' || c == '-' || c == '_' || c == '.');
        name += keep ? c : '_';
    }
    // No hidden file, no blanks at either end.
    const auto first = name.find_first_not_of(" .");
    name = first == std::string::npos ? "" : name.substr(first);
    name = TrimRight(name);
    if (name.size() > kNameMax) name = TrimRight(name.substr(0, kNameMax));
    return name.empty() ? kUnnamedAccount : name;
}

// Texts are read no longer than the window and the account editor show them.
std::string Bounded(const TIniFile& ini, const char* section, const char* key, const char* def,
                    std::size_t max) {
    std::string value = ini.ReadString(section, key, def);
    if (value.size() > max) value.resize(max);
    return value;
}

// A file without a description shows as "Empty", as it always has.
std::string DescriptionOf(const TIniFile& ini) {
    return Bounded(ini, "ProgSet", "IniDescript", "Empty", kDescriptMax);
}

bool StoresPasswordInFile(const TIniFile& ini) {
    return !ini.ReadString("POPClient", "Password", "").empty() &&
           !SameText(ini.ReadString("POPClient", "PasswordStore", ""), kPasswordInKeyring);
}
} // namespace

std::string KeyringKey(const std::string& fileName) {
    const fs::path path(fileName);
    return (path.parent_path() / LowerCase(path.filename().string())).string();
}

TAccountSettings NewAccountSettings() {
    TAccountSettings s;
    s.Security = kSecurityAuto;
    s.DefPort = 0;
    return s;
}

std::string ReadIniDescript(const std::string& fileName) {
    return DescriptionOf(TIniFile(fileName));
}

namespace {
TOAuthConfig ReadOAuth(const TIniFile& ini) {
    TOAuthConfig o;
    if (!SameText(Trim(ini.ReadString(kAuthSection, "Method", "")), kAuthOAuth2)) return o;
    for (const auto& [key, field] : kOAuthKeys)
        o.*field = Trim(ini.ReadString(kAuthSection, key, ""));
    o.Method = kAuthOAuth2;
    return o;
}

void WriteOAuth(TIniFile& ini, const TOAuthConfig& o) {
    for (const auto& [key, field] : kOAuthKeys) {
        if (o.Enabled())
            ini.WriteString(kAuthSection, key, o.*field);
        else
            ini.DeleteKey(kAuthSection, key);
    }
}

bool IsWebAddress(const std::string& address) {
    return address.starts_with("https://") || address.starts_with("http://");
}

std::string CheckOAuth(const TAccountSettings& s, bool keyring) {
    const TOAuthConfig& o = s.OAuth;
    if (!o.Enabled()) return "";
    if (o.AuthorizationUrl.empty() || o.TokenUrl.empty() || o.ClientId.empty())
        return kOAuthIncomplete;
    if (!IsWebAddress(o.AuthorizationUrl) || !IsWebAddress(o.TokenUrl)) return kOAuthBadAddress;
    for (const auto& [key, field] : kOAuthKeys)
        if (HasControl(o.*field)) return "The OAuth 2.0 settings" + std::string(kLineBreak);
    if (SameText(s.Security, kSecurityNone)) return kOAuthClearText;
    if (!keyring) return kOAuthNoKeyring;
    return "";
}
} // namespace

TAccountSettings ReadAccountSettings(const std::string& fileName) {
    const TIniFile ini(fileName);
    const auto field = [&](const char* key) {
        return Bounded(ini, "POPClient", key, "", kServerMax);
    };
    TAccountSettings s;
    s.IniDescript = DescriptionOf(ini);
    s.Timeout = InRange(ini.ReadInteger("ProgSet", "Timeout", kDefaultTimeout), kMinTimeout,
                        kMaxTimeout, kDefaultTimeout);
    // -1: no dial-up; an entry the phone book lacks is handled where the entry is chosen.
    s.RASService = InRange(ini.ReadInteger("RASSet", "RASService", 0), -1, INT_MAX, 0);
    s.MailMaxSize = InRange(ini.ReadInteger("RASSet", "MailMaxSize", kDefaultMailMaxSize), 0,
                            INT_MAX, kDefaultMailMaxSize);
    s.Server = field("Server");
    s.UserName = field("UserName");
    s.Security = Trim(ini.ReadString("POPClient", "Security", ""));
    // An automatic account may leave the port to the search (0: none given).
    const bool automatic = SameText(s.Security, kSecurityAuto);
    const int noPort = automatic ? 0 : kDefaultPort;
    s.DefPort = InRange(ini.ReadInteger("POPClient", "DefPort", noPort), automatic ? 0 : 1,
                        kMaxPort, noPort);
    s.MailAddress = field("MailAddress");
    s.MailName = field("MailName");
    s.CertFingerprint = Trim(ini.ReadString("POPClient", "CertFingerprint", ""));
    s.Deliver = Trim(ini.ReadString("Deliver", "Target", ""));
    s.OAuth = ReadOAuth(ini);
    // A password in the keyring is taken whole; when the keyring cannot give it, the user is
    // asked as for an account without one. One in the file is as long as its form allows.
    if (SameText(ini.ReadString("POPClient", "PasswordStore", ""), kPasswordInKeyring)) {
        s.Password = PasswordStore().Lookup(KeyringKey(fileName)).value_or("");
    } else {
        const std::string stored = ini.ReadString("POPClient", "Password", "");
        s.Password = IsPlainPasswordFile(fileName) ? stored : UnscramblePassword(stored);
    }
    return s;
}

std::string CheckAccountSettings(const TAccountSettings& s, bool keyring) {
    if (Trim(s.IniDescript).empty()) return kNoDescription;
    if (Trim(s.Server).empty()) return kNoServer;
    if (s.IniDescript.size() > kDescriptMax) return kLongDescription;
    const std::pair<const char*, const std::string*> fields[] = {{"The server name", &s.Server},
                                                                 {"The user name", &s.UserName},
                                                                 {"The address", &s.MailAddress},
                                                                 {"The name", &s.MailName}};
    for (const auto& [what, value] : fields)
        if (value->size() > kServerMax) return what + std::string(kLongField);
    for (const auto& [what, value] : fields)
        if (HasControl(*value)) return what + std::string(kLineBreak);
    if (HasControl(s.IniDescript)) return "The description" + std::string(kLineBreak);
    if (HasControl(s.Password)) return "The password" + std::string(kLineBreak);
    const int lowest = SameText(s.Security, kSecurityAuto) ? 0 : 1;
    if (s.DefPort < lowest || s.DefPort > kMaxPort) return kBadPort;
    if (s.Timeout < kMinTimeout || s.Timeout > kMaxTimeout) return kBadTimeout;
    if (s.MailMaxSize < 0) return kBadMaxSize;
    if (!keyring && s.Password.size() > kPasswordMax) return kLongPassword;
    if (HasControl(s.Deliver)) return "The delivery target" + std::string(kLineBreak);
    const std::string oauth = CheckOAuth(s, keyring);
    if (!oauth.empty()) return oauth;
    return CheckDeliveryTarget(s.Deliver);
}

bool WriteAccountFile(const std::string& fileName, const TAccountSettings& s, std::string& error) {
    TIniFile ini(fileName);
    ini.SetPrivate(true);
    ini.BeginUpdate();
    ini.WriteString("ProgSet", "IniDescript", s.IniDescript);
    ini.WriteInteger("ProgSet", "Timeout", s.Timeout);
    ini.WriteInteger("RASSet", "RASService", s.RASService);
    ini.WriteInteger("RASSet", "MailMaxSize", s.MailMaxSize);
    ini.WriteString("POPClient", "Server", s.Server);
    ini.WriteString("POPClient", "UserName", s.UserName);
    // No port: an automatic account's search tries the standard ones.
    if (s.DefPort == 0)
        ini.DeleteKey("POPClient", "DefPort");
    else
        ini.WriteInteger("POPClient", "DefPort", s.DefPort);
    // Without the key the port decides, as in files made elsewhere.
    if (s.Security.empty())
        ini.DeleteKey("POPClient", "Security");
    else
        ini.WriteString("POPClient", "Security", s.Security);
    ini.WriteString("POPClient", "MailAddress", s.MailAddress);
    ini.WriteString("POPClient", "MailName", s.MailName);
    // Without the key collected mail goes to the post office, as it always has.
    if (s.Deliver.empty() || s.Deliver == "files")
        ini.DeleteKey("Deliver", "Target");
    else
        ini.WriteString("Deliver", "Target", s.Deliver);
    WriteOAuth(ini, s.OAuth);

    TPasswordStore& keyring = PasswordStore();
    const std::string key = KeyringKey(fileName);
    const bool plain = IsPlainPasswordFile(fileName);
    bool inKeyring = false;
    if (!plain && !s.Password.empty() && !s.OAuth.Enabled() && keyring.Available()) {
        std::string why;
        inKeyring = keyring.Store(
            key, kLabelPrefix + s.IniDescript + " (" + s.UserName + "@" + s.Server + ")",
            s.Password, why);
    }
    if (s.OAuth.Enabled()) {
        // The sign-in's refresh token is in the keyring under a key of its own.
        ini.DeleteKey("POPClient", "PasswordStore");
        ini.DeleteKey("POPClient", "Password");
    } else if (inKeyring) {
        ini.WriteString("POPClient", "PasswordStore", kPasswordInKeyring);
        ini.DeleteKey("POPClient", "Password");
    } else {
        if (!plain && s.Password.size() > kPasswordMax) {
            error = kLongPassword;
            return false;
        }
        ini.WriteString("POPClient", "Password", plain ? s.Password : ScramblePassword(s.Password));
        ini.DeleteKey("POPClient", "PasswordStore");
    }
    if (!ini.EndUpdate()) {
        error = kCannotWrite + fileName;
        return false;
    }
    // A password in the file is for its owner's eyes only, also in a file made elsewhere.
    struct stat st {};
    if (StoresPasswordInFile(ini) && ::stat(fileName.c_str(), &st) == 0)
        ::chmod(fileName.c_str(), st.st_mode & 0700);
    // An earlier keyring entry of this file would outlive a password now kept in the file.
    if (!inKeyring && keyring.Available()) keyring.Remove(key);
    return true;
}

std::string NewAccountName(std::string_view description) {
    const std::string base = SafeName(description);
    const std::vector<std::string> listed = ListedNames();
    const auto taken = [&](const std::string& name) {
        // "Dummy" would be read with its password in plain text.
        return SameText(name, kDefaultStartAccount) || Listed(listed, name) ||
               fs::exists(FindFileNoCase(ProgDir(), name + ".Set"));
    };
    if (!taken(base)) return base;
    for (int n = 2;; ++n) {
        const std::string suffix = " " + std::to_string(n);
        const std::string name =
            TrimRight(base.substr(0, kNameMax - std::min(kNameMax, suffix.size()))) + suffix;
        if (!taken(name)) return name;
    }
}

std::string StartAccountName() {
    TRegistry reg;
    reg.OpenKey(kPostkeeperSetKey, false);
    return reg.ReadString("DFUIniName", kDefaultStartAccount);
}

void SetStartAccount(const std::string& name) {
    TRegistry reg;
    if (reg.OpenKey(kPostkeeperSetKey, true)) reg.WriteString("DFUIniName", name);
}

bool StartAccountExists() {
    return fs::exists(AccountFileName(StartAccountName()));
}

std::string CreateAccount(const TAccountSettings& s, std::string& error) {
    const std::string name = NewAccountName(s.IniDescript);
    if (!WriteAccountFile(ProgDir() + name + ".Set", s, error)) return "";
    std::vector<std::string> listed = ListedNames();
    if (!Listed(listed, name)) {
        listed.push_back(name);
        WriteListedNames(listed);
    }
    if (!StartAccountExists() || SameText(StartAccountName(), name)) SetStartAccount(name);
    return name;
}

bool RemoveAccount(const std::string& name, std::string& error) {
    const std::string file = AccountFileName(name);
    std::error_code ec;
    if (fs::exists(file) && !fs::remove(file, ec)) {
        error = kCannotRemove + ec.message();
        return false;
    }
    if (PasswordStore().Available()) {
        PasswordStore().Remove(KeyringKey(file));
        PasswordStore().Remove(RefreshTokenKey(KeyringKey(file)));
    }
    std::vector<std::string> listed = ListedNames();
    std::erase_if(listed, [&](const std::string& n) { return SameText(n, name); });
    WriteListedNames(listed);
    if (SameText(StartAccountName(), name)) {
        const auto remaining = std::find_if(listed.begin(), listed.end(), [](const std::string& n) {
            return fs::exists(AccountFileName(n));
        });
        if (remaining != listed.end()) SetStartAccount(*remaining);
    }
    return true;
}

std::vector<TAccountEntry> ListedAccounts() {
    ReadAccountNames();
    std::vector<TAccountEntry> accounts;
    for (int i = 0; i < SetList.Count(); ++i) {
        const std::string file = AccountFileName(SetList[i]);
        if (fs::exists(file)) accounts.push_back({SetList[i], file});
    }
    return accounts;
}

bool PasswordReadableByOthers(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !(st.st_mode & (S_IRGRP | S_IROTH))) return false;
    return StoresPasswordInFile(TIniFile(fileName));
}
