#include "mailbox/Settings.h"

#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "mailbox/AccountFiles.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char* const kPostvigilKey = "Software\\Tessmar\\Postkeeper\\Postvigil";
const char* const kPostkeeperSetKey = "Software\\Tessmar\\Postkeeper\\SET";
const char* const kCheckAssKey = "Software\\Tessmar\\Postkeeper\\CheckAss";

namespace {
const char* const kWorkingFolders[] = {"eMails", "eMails\\Sent", "eMails\\Attachments\\",
                                       "eMails\\Postoffice"};
constexpr int kScrambleOffset = 52863;
constexpr std::size_t kScrambleBuffer = 36; // length byte + 35 characters
constexpr int kRetrvModeFromFile = 5;
constexpr int kMaxAccountNames = 10000;
} // namespace

TClientRec ClientRec;
int MailMaxSize = kDefaultMailMaxSize;
int RasIndex = -1;
int RetrvMode = kRetrvModeFromFile;
bool AutoStart = false;
bool AutoConnect = true;
bool PVMinimized = false;
bool ShowInfos = true;
bool HeaderCache = true;
bool Notify = true;
bool CheckAllAccounts = true;
std::string MailProgram;
bool ExternOnline = false;
bool UserOnline = false;
std::string CurSetName;
std::string StartSetName;
TStringList SetList;
TStringList ProgramLog;

void InitMainUnit() {
    ClientRec = TClientRec();
    MailMaxSize = kDefaultMailMaxSize;
    RasIndex = -1;
    RetrvMode = kRetrvModeFromFile;
    AutoStart = false;
    AutoConnect = true;
    PVMinimized = false;
    ShowInfos = true;
    HeaderCache = true;
    Notify = true;
    CheckAllAccounts = true;
    MailProgram.clear();
    ExternOnline = false;
    UserOnline = false;
    CurSetName.clear();
    StartSetName.clear();
    ProgramLog.Clear();
    SetList.Clear();
    SetList.SetDuplicates(dupIgnore);
    SetList.SetSorted(true);
    // A folder that cannot be created is not reported here; saving into it fails later.
    for (const char* folder : kWorkingFolders) ForceDirectories(ProgDir() + NativeRelative(folder));
}

std::string PostofficeDir() {
    return ProgDir() + NativeRelative("eMails\\Postoffice");
}

std::string ProtocolFile() {
    return ProgDir() + "PostvigilLog.TXT";
}

std::string AccountFileName(std::string_view name) {
    return FindFileNoCase(ProgDir(), std::string(name) + ".Set");
}

void LoadSettings() {
    TRegistry reg;
    reg.OpenKey(kPostvigilKey, false);
    // An interval above the dialog's maximum may be set elsewhere; a negative one may not.
    ClientRec.Interval = InRange(reg.ReadInteger("Interval", 0), 0, INT_MAX, 0);
    ClientRec.CheckEmedit = reg.ReadBool("CheckEmedit", false);
    ClientRec.FollowAct = InRange(reg.ReadInteger("FollowAct", faOpenPostvigil), faIndividual,
                                  faOpenPostkeeper, faOpenPostvigil);
    AutoStart = reg.ReadBool("AutoStart", false);
    PVMinimized = reg.ReadBool("PVMinimized", false);
    AutoConnect = reg.ReadBool("AutoConnect", true);
    ShowInfos = reg.ReadBool("ShowInfos", true);
    HeaderCache = reg.ReadBool("HeaderCache", true);
    Notify = reg.ReadBool("Notify", true);
    CheckAllAccounts = reg.ReadBool("CheckAllAccounts", true);
    MailProgram = reg.ReadString("MailProgram", "");
}

void SaveSettings() {
    TRegistry reg;
    if (!reg.OpenKey(kPostvigilKey, true)) return;
    reg.WriteInteger("Interval", ClientRec.Interval);
    reg.WriteBool("CheckEmedit", ClientRec.CheckEmedit);
    reg.WriteInteger("FollowAct", ClientRec.FollowAct);
    reg.WriteBool("AutoStart", AutoStart);
    reg.WriteBool("PVMinimized", PVMinimized);
    reg.WriteBool("AutoConnect", AutoConnect);
    reg.WriteBool("ShowInfos", ShowInfos);
    reg.WriteBool("Notify", Notify);
    // On by default: written once it has been turned off, and kept in step from then on.
    if (!CheckAllAccounts || reg.ValueExists("CheckAllAccounts"))
        reg.WriteBool("CheckAllAccounts", CheckAllAccounts);
    reg.WriteString("MailProgram", MailProgram);
}

void FillClientRec(TClientRec& rec, const TAccountSettings& s) {
    rec.IniDescript = s.IniDescript;
    rec.Timeout = s.Timeout;
    rec.RASService = s.RASService;
    rec.Server = s.Server;
    rec.UserName = s.UserName;
    rec.Password = s.Password;
    rec.DefPort = s.DefPort;
    rec.MailAddress = s.MailAddress;
    rec.MailName = s.MailName;
    rec.Security = SecurityOf(s.Security, s.DefPort);
    rec.SecuritySearch = SameText(s.Security, kSecurityAuto) ? ssFind
                         : s.Security.empty()                ? ssFindOrByPort
                                                             : ssStated;
    rec.CertFingerprint = s.CertFingerprint;
    rec.Deliver = s.Deliver;
    rec.OAuth = s.OAuth;
    rec.NoRAS = s.RASService == -1;
}

void ReadClientFile(const std::string& fileName) {
    const TAccountSettings s = ReadAccountSettings(fileName);
    FillClientRec(ClientRec, s);
    RasIndex = s.RASService;
    MailMaxSize = s.MailMaxSize;
    // The registry's mode, when it is no mode, leaves it to the file.
    if (RetrvMode < tmGet || RetrvMode > tmNeutral)
        RetrvMode = InRange(TIniFile(fileName).ReadInteger("ProgSet", "RetrvMode", tmCopy), tmGet,
                            tmNeutral, tmCopy);
}

std::string SecurityOf(std::string_view stated, int port) {
    const std::string value = LowerCase(Trim(stated));
    if (value.empty()) return port == kImplicitTlsPort ? kSecurityTls : kSecurityNone;
    if (value == kSecurityStartTls || value == kSecurityNone || value == kSecurityAuto)
        return value;
    // A value we do not know (a typo) must not send the password in clear text: it means the
    // strictest setting, and a server without TLS then fails to connect.
    return kSecurityTls;
}

TmsSecurity SecurityValue(std::string_view security) {
    if (security == kSecurityStartTls) return secStartTls;
    if (security == kSecurityNone) return secNone;
    return secTls;
}

const char* SecurityName(TmsSecurity security) {
    return security == secStartTls ? kSecurityStartTls
           : security == secNone   ? kSecurityNone
                                   : kSecurityTls;
}

bool StoreSecurity(const std::string& fileName, TmsSecurity security, int port) {
    TIniFile ini(fileName);
    ini.BeginUpdate();
    ini.WriteString("POPClient", "Security", SecurityName(security));
    ini.WriteInteger("POPClient", "DefPort", port);
    return ini.EndUpdate();
}

bool StoreCertFingerprint(const std::string& fileName, const std::string& fingerprint) {
    return TIniFile(fileName).WriteString("POPClient", "CertFingerprint", fingerprint);
}

std::string ScramblePassword(std::string_view password) {
    unsigned char buffer[kScrambleBuffer];
    const std::size_t length = std::min(password.size(), kScrambleBuffer - 1);
    buffer[0] = static_cast<unsigned char>(length);
    std::memset(buffer + 1, ' ', kScrambleBuffer - 1);
    std::memcpy(buffer + 1, password.data(), length);
    std::string out;
    char group[8];
    for (std::size_t i = 0; i < kScrambleBuffer; i += 2) {
        // Each 16-bit word is written so that the five digits minus the offset give it back.
        const int word = buffer[i] | (buffer[i + 1] << 8);
        const int value = word + kScrambleOffset <= 99999 ? word : word - 65536;
        std::snprintf(group, sizeof group, "%05d", value + kScrambleOffset);
        out += group;
    }
    return out;
}

std::string UnscramblePassword(std::string_view text) {
    // Nothing stored is no password, not the blanks an all-default buffer would give.
    if (text.empty()) return {};
    unsigned char buffer[kScrambleBuffer];
    buffer[0] = kScrambleBuffer - 1;
    std::memset(buffer + 1, ' ', kScrambleBuffer - 1);
    // Groups of five digits, each one 16-bit word of the buffer; groups past the buffer's
    // end are ignored.
    for (std::size_t group = 0; group * 5 < text.size() && group * 2 < kScrambleBuffer; ++group) {
        // A group that is not a number contributes 0.
        const int value = StrToIntDef(text.substr(group * 5, 5), kScrambleOffset) - kScrambleOffset;
        buffer[group * 2] = static_cast<unsigned char>(value & 0xff);
        buffer[group * 2 + 1] = static_cast<unsigned char>((value >> 8) & 0xff);
    }
    const std::size_t length = std::min<std::size_t>(buffer[0], kScrambleBuffer - 1);
    return std::string(reinterpret_cast<const char*>(buffer + 1), length);
}

void ReadAccountNames() {
    SetList.Clear();
    TRegistry reg;
    if (!reg.OpenKey(kCheckAssKey, false)) return;
    // The count comes from another program's data; a wild one must not stall the start.
    const int count = std::min(reg.ReadInteger("@", -1), kMaxAccountNames);
    for (int i = 0; i < count; ++i) SetList.Add(reg.ReadString(std::to_string(i)));
}

bool ApplyDialEntry(TDialUp& dial) {
    const int entries = dial.Entries().Count();
    if (RasIndex < 0 || RasIndex > entries - 1) RasIndex = 0;
    if (ClientRec.NoRAS) {
        RasIndex = -1;
        AutoConnect = false;
    }
    const bool noEntry = !ClientRec.NoRAS && entries == 0;
    if (noEntry) RasIndex = -1;
    dial.SetEntry(RasIndex >= 0 ? dial.Entries()[RasIndex] : "");
    return noEntry;
}
