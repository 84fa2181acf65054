// The program's settings, the loaded account and the program-wide state of the main unit.
#pragma once

#include "base/StringList.h"
#include "mailbox/OAuthConfig.h"
#include "net/Mssocket.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

struct TAccountSettings;

enum TTransMode { tmGet, tmCopy, tmDelete, tmNeutral };
enum TFollowAct { faIndividual, faOpenPostvigil, faOpenPostkeeper };

// Capacities of the account record's bounded strings.
inline constexpr std::size_t kDescriptMax = 60;
inline constexpr std::size_t kServerMax = 40;
// A stored password carries at most 35 characters; all of them are kept.
inline constexpr std::size_t kPasswordMax = 35;

// The ranges the settings dialogs keep numbers in. A number read from an account file or the
// registry outside its range is no value they wrote: it reads as its default.
inline constexpr int kMinTimeout = 1;
inline constexpr int kMaxTimeout = 3600;
inline constexpr int kDefaultTimeout = 60;
inline constexpr int kMaxPort = 65535;
inline constexpr int kDefaultPort = 110;
inline constexpr int kImplicitTlsPort = 995;
inline constexpr int kDefaultMailMaxSize = 100000;

// value when it lies in [min, max], else def.
inline int InRange(int value, int min, int max, int def) {
    return value >= min && value <= max ? value : def;
}

// A wait of seconds as a timer's interval: milliseconds computed in 64 bits, held to what a
// timer takes.
inline int TimeoutMs(int64_t seconds) {
    return int(std::clamp<int64_t>(seconds * 1000, 0, INT_MAX));
}

// What a check does about the account's security before it logs in.
enum TSecuritySearch {
    // Security is stated: used as it is.
    ssStated,
    // "auto": TLS, else STLS, is found and stored; a server that offers neither is not used.
    ssFind,
    // No Security key (an account from before the search): TLS, else STLS, is looked for and
    // stored when found; otherwise the account goes on as its port says, as it always has.
    ssFindOrByPort
};

struct TClientRec {
    int RASService = 0;
    int Timeout = 0;
    std::string IniDescript;
    int Interval = 0;
    bool CheckEmedit = false;
    int FollowAct = 0;
    std::string Server;
    std::string UserName;
    std::string Password;
    int DefPort = 0;
    std::string MailAddress;
    std::string MailName;
    bool NoRAS = false;
    // How the connection is protected: "tls" (encrypted from the start), "starttls" (STLS
    // after the greeting), "none", or "auto" (to be found at the first check; the strictest
    // until then). An account file without the key gets "tls" on port 995 and "none" on any
    // other port.
    std::string Security;
    // Whether the first check looks for the security (see TSecuritySearch).
    TSecuritySearch SecuritySearch = ssStated;
    // "sha256:" + hex of a server certificate the user chose to trust for this account, or
    // empty.
    std::string CertFingerprint;
    // Where collected mail goes (see TAccountSettings::Deliver); "" for the post office.
    std::string Deliver;
    // The password, or an OAuth 2.0 sign-in (see TAccountSettings::OAuth).
    TOAuthConfig OAuth;
};

inline constexpr const char* kSecurityTls = "tls";
inline constexpr const char* kSecurityStartTls = "starttls";
inline constexpr const char* kSecurityNone = "none";
inline constexpr const char* kSecurityAuto = "auto";

// Registry keys.
extern const char* const kPostvigilKey;
extern const char* const kPostkeeperSetKey;
extern const char* const kCheckAssKey;

// Program-wide state.
extern TClientRec ClientRec;
extern int MailMaxSize;
extern int RasIndex;
extern int RetrvMode;
extern bool AutoStart;
extern bool AutoConnect;
extern bool PVMinimized;
extern bool ShowInfos;
// Checks list messages seen before from the header cache (registry only, no dialog).
extern bool HeaderCache;
// A timed or tray check that finds new mail says so in a desktop notification.
extern bool Notify;
// Timed and start-up checks also check every other listed account, in the background.
extern bool CheckAllAccounts;
// The user's mail program: a command line, or "" for the desktop's handler of mailto links.
extern std::string MailProgram;
extern bool ExternOnline;
extern bool UserOnline;
extern std::string CurSetName;
extern std::string StartSetName;
extern TStringList SetList;
extern TStringList ProgramLog;

// Resets the state above to its start values and creates the working folders below ProgDir()
// ("eMails", "eMails/Sent", "eMails/Attachments/", "eMails/Postoffice").
void InitMainUnit();
// ProgDir() + "eMails/Postoffice", without a trailing "/".
std::string PostofficeDir();
// The protocol file: what the last check or collect said and heard.
std::string ProtocolFile();
// The account file of an account name: ProgDir() + name + ".Set", found without regard to
// letter case.
std::string AccountFileName(std::string_view name);

void LoadSettings();
void SaveSettings();
// Fills an account record's account values (not the program's: Interval, CheckEmedit and
// FollowAct stay) from an account file's settings.
void FillClientRec(TClientRec& rec, const TAccountSettings& s);
// Fills ClientRec, MailMaxSize, RasIndex and (when the registry gives none) RetrvMode from an
// account file, read as ReadAccountSettings reads it.
void ReadClientFile(const std::string& fileName);
// The Security an account file states, or the one its port implies when it states none.
std::string SecurityOf(std::string_view stated, int port);
// The client's setting for a Security value as SecurityOf gives it ("auto": TLS, the strictest).
TmsSecurity SecurityValue(std::string_view security);
// The Security value of a client's setting.
const char* SecurityName(TmsSecurity security);
// Stores a found security and its port in the account file; false when it could not be written.
bool StoreSecurity(const std::string& fileName, TmsSecurity security, int port);
// Stores the trusted certificate's fingerprint in the account file; false when it could not be
// written.
bool StoreCertFingerprint(const std::string& fileName, const std::string& fingerprint);
std::string UnscramblePassword(std::string_view text);
// The stored form of a password (at most 35 characters are kept), as UnscramblePassword reads it.
std::string ScramblePassword(std::string_view password);
void ReadAccountNames();
// Gives dial the loaded account's phone-book entry from the phone book as it is now, keeping
// RasIndex and AutoConnect to what the account allows. True when the account has nothing to
// dial because the phone book is empty: it then goes without dial-up, the setting is kept.
bool ApplyDialEntry(class TDialUp& dial);
