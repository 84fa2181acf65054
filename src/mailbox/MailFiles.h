// What a transfer leaves in the post office: the mail files, the hand-over list for
// Postkeeper ("TransList.DAT") and the record of the messages already saved from the server.
#pragma once

#include "base/StringList.h"

#include <QDateTime>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Now on the program's clock, as a local date-time.
QDateTime ClockNow();
// The local time t in the 32-bit DOS file date-time format, as a signed decimal; "" when t
// cannot be put in that format (before 1980 or after 2107).
std::string DosDateTimeText(const QDateTime& t);
// "E" + the DOS date-time of t + ".EML", or "E00000000.EML" when t has no DOS form.
std::string MailFileName(const QDateTime& t);

// The hand-over list: one full path per line, CR LF.
void ReadTransList(const std::string& path, TStringList& list);
// flush false: see WriteFileDurably.
void WriteTransList(const std::string& path, const TStringList& list, bool flush = true);

// The messages of one account (server, port, user) saved from its server, by unique id and
// size, with the mail file each went to. A message saved for Get stays here until the QUIT
// that deletes it has been answered, so a run that stopped in between deletes it next time
// instead of saving it twice; a message saved for Copy stays while it is on the server, so it
// is not saved again. An entry is written before its mail file takes its name and is
// confirmed once the file is on the disk. An entry spares a retrieval only while its file is
// there with the size it was written with: a file the user threw away is saved again. Each
// account has a file of its own, so accounts whose servers number alike never meet.
class TSavedIds {
public:
    enum TKind : char { skGet = 'G', skCopy = 'C' };
    struct TEntry {
        TKind Kind = skCopy;
        // The size the server gave (-1 when it gave none) and the size of the mail file.
        int64_t Size = -1;
        int64_t FileSize = -1;
        std::string Path;
        bool Confirmed = false;
    };

    // server: "host:port".
    TSavedIds(std::string path, std::string server, std::string user);
    // The record file of an account in folder.
    static std::string FileFor(const std::string& folder, std::string_view server,
                               std::string_view user);
    // Reads the record; a missing file, or one of another account, is an empty record.
    void Load();
    // Writes the whole record anew, durably (flush false: see WriteFileDurably).
    void Save(bool flush = true);
    // Adds the entry of uidl at the end of the record file, flushed to the disk unless flush
    // is false; a later line wins when the record is read. Cheap enough for every message.
    void Append(const std::string& uidl, bool flush = true);
    // The entry of uidl when it was saved with this size; nullptr otherwise.
    const TEntry* Find(const std::string& uidl, int64_t size) const;
    // Sets an unconfirmed entry.
    void Set(const std::string& uidl, const TEntry& entry);
    void SetKind(const std::string& uidl, TKind kind);
    void Confirm(const std::string& uidl);
    void Remove(const std::string& uidl);
    const std::map<std::string, TEntry>& Entries() const { return FEntries; }

private:
    std::string Header() const;

    std::string FPath;
    std::string FServer;
    std::string FUser;
    std::map<std::string, TEntry> FEntries;
    // The file on the disk is this account's and can be appended to.
    bool FOnDisk = false;
};
