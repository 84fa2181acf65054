// What the program knows of each listed account between checks: how many messages waited at
// its last check and when that was, why a check could not list it, and which messages that
// listing found (a listing announces only what differs from the one before). The window's own
// checks and the background checks both report here; the tray and the account menu show it.
#pragma once

#include "mailbox/MailRecords.h"

#include <QDateTime>
#include <QString>

#include <string>
#include <vector>

struct TWatchedAccount {
    std::string Name;
    // Among the listed accounts (SetAccounts); a record made for another name is not shown.
    bool Listed = false;
    // The account's description, 8-bit as its file holds it.
    std::string Descript;
    // When its last check ended; null until one has.
    QDateTime LastCheck;
    int Waiting = 0;
    // Why the last check could not list it; "" when it did.
    std::string State;
    // The identities of the messages its last listing found, in list order.
    std::vector<std::string> Found;
};

// What identifies a row's message across checks: the server's unique id, else its header
// block and size.
std::string RowIdentity(const TMailRow& row);

class TAccountWatch {
public:
    // The listed accounts, in list order, by name and description. What is known of each is
    // kept; a record of an account not listed (the window's start-up account without a place
    // in the list) is kept too, but not shown.
    struct TListed {
        std::string Name;
        std::string Descript;
    };
    void SetAccounts(const std::vector<TListed>& accounts);
    const std::vector<TWatchedAccount>& Accounts() const { return FAccounts; }
    int ListedCount() const;

    // The record of the named account (letter case ignored), made when missing.
    TWatchedAccount& Record(const std::string& name);
    const TWatchedAccount* Find(const std::string& name) const;

    // A check of the account listed rows. True when they are news: some messages, and not the
    // same ones its last listing found.
    bool NoteListing(const std::string& name, const std::vector<TMailRow>& rows);
    // A check of the account ended without a listing; state says why.
    void NoteFailure(const std::string& name, const std::string& state);

    // One line per listed account: "Work: 3 eMail, 14:05", "Home: no password stored,
    // 14:05", "Old: not checked yet".
    QString ToolTipLines() const;
    // What the account menu shows beside the account's name ("3 eMail"); "" before its first
    // check.
    static QString MenuCount(const TWatchedAccount& account);
    // The time of day of the account's last check, as the status shows it ("checked at 14:05").
    static QString CheckedAt(const TWatchedAccount& account);

private:
    std::vector<TWatchedAccount> FAccounts;
};
