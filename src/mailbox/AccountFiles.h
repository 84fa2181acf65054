// Reading, writing, naming, listing and removing account files, and which account the program
// starts with. The files are written in the layout ReadAccountSettings reads, so the program
// and a companion read them alike.
#pragma once

#include "mailbox/OAuthConfig.h"

#include <string>
#include <string_view>
#include <vector>

// Everything an account file holds that the account editor edits.
struct TAccountSettings {
    std::string IniDescript;
    std::string Server;
    int DefPort = 110;
    // [POPClient] "Security" as the file states it ("" when it does not: then the port
    // decides, see SecurityOf; "auto" for a new account) and "CertFingerprint"; read for the
    // connection test, and kept in the file as they are when it is written. An automatic
    // account's DefPort is 0 when no port was given.
    std::string Security;
    std::string CertFingerprint;
    // [Deliver] "Target": where collected mail goes: "" (or "files") for the post office's
    // mail files, "maildir:FOLDER", "mbox:FILE" or "mda:COMMAND".
    std::string Deliver;
    // [Authentication]: the password (no section) or an OAuth 2.0 sign-in.
    TOAuthConfig OAuth;
    std::string UserName;
    std::string Password;
    std::string MailAddress;
    std::string MailName;
    int Timeout = 60;
    int MailMaxSize = 100000;
    int RASService = -1; // -1: no dial-up
};

// The value of [POPClient] "PasswordStore" for an account whose password is in the keyring.
extern const char* const kPasswordInKeyring;

// A new account's settings: its security is found for it ("auto"), and without a port the
// standard ones are tried.
TAccountSettings NewAccountSettings();

// The settings of an account file, as the editor shows them and a check uses them. Missing
// keys, numbers out of their ranges and a missing file read as the defaults (the description
// "Empty", the port 110, dial-up entry 0); texts are cut to what the editor takes (see
// kDescriptMax, kServerMax). The password comes from the keyring when the file says it is
// there; otherwise it is unscrambled, except in DUMMY.SET, which holds it in plain text.
TAccountSettings ReadAccountSettings(const std::string& fileName);
// The description alone, read as ReadAccountSettings reads it (without asking the keyring).
std::string ReadIniDescript(const std::string& fileName);

// What is wrong with the settings for an account file, or "" when they can be written
// (texts longer than the program reads back, line breaks, a port out of range, a password
// too long to be stored without a keyring; an OAuth 2.0 account without its addresses and
// client id, without encryption or without a keyring).
std::string CheckAccountSettings(const TAccountSettings& s, bool keyring);

// Writes the account file in one step (mode 0600 for a new file). With a keyring available
// the password goes there and the file says so; otherwise it is stored scrambled. Keys the
// editor does not know are kept. False with the reason in error when the file could not be
// written.
bool WriteAccountFile(const std::string& fileName, const TAccountSettings& s, std::string& error);

// The keyring key of an account file's password.
std::string KeyringKey(const std::string& fileName);

// The file name (no folder, no extension) a new account with this description gets: unsafe
// characters replaced by "_", and a number added when the name is taken in the program
// folder or in the account list.
std::string NewAccountName(std::string_view description);

// Adds a new account: writes its file, lists it, and makes it the start-up account when the
// start-up account names no file. Returns the account's name, or "" with the reason in error.
std::string CreateAccount(const TAccountSettings& s, std::string& error);

// Removes an account: its file, its keyring entry and its place in the list, never its mail.
// When it was the start-up account, the first remaining account takes that place.
bool RemoveAccount(const std::string& name, std::string& error);

// The start-up account's name as stored ("Dummy" when none is), and setting it.
std::string StartAccountName();
void SetStartAccount(const std::string& name);
// True when the start-up account has a file.
bool StartAccountExists();

// The listed accounts whose files exist, in list order: name and file.
struct TAccountEntry {
    std::string Name;
    std::string FileName;
};
std::vector<TAccountEntry> ListedAccounts();

// True when the account file stores a password that others than its owner can read.
bool PasswordReadableByOthers(const std::string& fileName);
