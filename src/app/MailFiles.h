// What a transfer leaves in the post office: the mail files, the hand-over list for
// Postkeeper ("TransList.DAT") and the record of the messages already saved from the server.
#pragma once

#include "base/StringList.h"

#include <QDateTime>

#include <cstdint>
#include <map>
#include <string>

// The local time t in the 32-bit DOS file date-time format, as a signed decimal; "" when t
// cannot be put in that format (before 1980 or after 2107).
std::string DosDateTimeText(const QDateTime& t);
// "E" + the DOS date-time of t + ".EML", or "E00000000.EML" when t has no DOS form.
std::string MailFileName(const QDateTime& t);

// Makes every line end in CR LF (a lone LF or CR becomes CR LF); text already in that form
// is left as it is.
void MakeCrLf(std::string& text);

// The hand-over list: one full path per line, CR LF.
void ReadTransList(const std::string& path, TStringList& list);
// flush false: see WriteFileDurably.
void WriteTransList(const std::string& path, const TStringList& list, bool flush = true);

// The messages saved from the server, by unique id, with the mail file each went to. A
// message saved for Get stays here until the QUIT that deletes it has been answered, so a
// run that stopped in between deletes it next time instead of saving it twice; a message
// saved for Copy stays while it is on the server, so it is not saved again. An entry is
// written before its mail file takes its name and is confirmed once the file is there: an
// unconfirmed entry counts only when its file exists.
class TSavedIds {
public:
    enum TKind : char { skGet = 'G', skCopy = 'C' };
    struct TEntry {
        TKind Kind = skCopy;
        std::string Path;
        bool Confirmed = false;
    };

    explicit TSavedIds(std::string path) : FPath(std::move(path)) {}
    // Reads the record; a missing file is an empty record.
    void Load();
    // Writes the whole record anew, durably (flush false: see WriteFileDurably).
    void Save(bool flush = true) const;
    // Adds the entry of uidl at the end of the record file, flushed to the disk unless flush
    // is false; a later line wins when the record is read. Cheap enough for every message.
    void Append(const std::string& uidl, bool flush = true) const;
    const TEntry* Find(const std::string& uidl) const;
    // Sets an unconfirmed entry.
    void Set(const std::string& uidl, TKind kind, const std::string& path);
    void Confirm(const std::string& uidl);
    void ConfirmAll();
    void Remove(const std::string& uidl);
    const std::map<std::string, TEntry>& Entries() const { return FEntries; }

private:
    std::string FPath;
    std::map<std::string, TEntry> FEntries;
};
