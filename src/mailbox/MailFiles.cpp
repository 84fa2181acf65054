#include "mailbox/MailFiles.h"

#include "base/Clock.h"
#include "base/StrUtils.h"
#include "platform/DurableFile.h"

#include <utility>
#include <vector>

namespace {
const char* const kNoDate = "00000000";
} // namespace

QDateTime ClockNow() {
    return QDateTime::fromMSecsSinceEpoch(Clock().WallMs());
}

std::string DosDateTimeText(const QDateTime& t) {
    const QDate d = t.date();
    const QTime c = t.time();
    if (!t.isValid() || d.year() < 1980 || d.year() > 2107) return "";
    const uint32_t value = uint32_t(d.year() - 1980) << 25 | uint32_t(d.month()) << 21 |
                           uint32_t(d.day()) << 16 | uint32_t(c.hour()) << 11 |
                           uint32_t(c.minute()) << 5 | uint32_t(c.second() / 2);
    return std::to_string(int32_t(value));
}

std::string MailFileName(const QDateTime& t) {
    const std::string number = DosDateTimeText(t);
    return "E" + (number.empty() ? std::string(kNoDate) : number) + ".EML";
}

namespace {
// Lines of text ending in CR LF, LF or CR; empty lines are dropped.
template <class F> void ForEachLine(const std::string& text, F take) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) take(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
}
} // namespace

void ReadTransList(const std::string& path, TStringList& list) {
    list.Clear();
    std::string text = ReadWholeFile(path, false);
    // Every entry ends its line; a last one without its end is a save a crash interrupted.
    const std::size_t end = text.find_last_of('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    ForEachLine(text, [&](std::string_view line) { list.Add(std::string(line)); });
}

void WriteTransList(const std::string& path, const TStringList& list, bool flush) {
    std::string text;
    for (int i = 0; i < list.Count(); ++i) text.append(list[i]).append("\r\n");
    WriteFileDurably(path, text, flush);
}

namespace {
const char* const kRecordMagic = "Postvigil saved messages 2";
const char* const kRecordPrefix = "SavedIds-";
const char* const kRecordSuffix = ".DAT";

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

std::string EntryLine(const std::string& uidl, const TSavedIds::TEntry& entry) {
    const char kind = entry.Confirmed ? char(entry.Kind) : char(entry.Kind + ('a' - 'A'));
    return kind + ("\t" + uidl + "\t" + std::to_string(entry.Size) + "\t" +
                   std::to_string(entry.FileSize) + "\t" + entry.Path + "\r\n");
}
} // namespace

TSavedIds::TSavedIds(std::string path, std::string server, std::string user)
    : FPath(std::move(path)), FServer(std::move(server)), FUser(std::move(user)) {}

std::string TSavedIds::FileFor(const std::string& folder, std::string_view server,
                               std::string_view user) {
    std::string key(server);
    key.append("\n").append(user);
    return folder + "/" + kRecordPrefix + StableNameHash(key) + kRecordSuffix;
}

std::string TSavedIds::Header() const {
    return std::string(kRecordMagic) + "\t" + FServer + "\t" + FUser;
}

void TSavedIds::Load() {
    FEntries.clear();
    FOnDisk = false;
    bool first = true;
    const std::string header = Header();
    ForEachLine(ReadWholeFile(FPath, false), [&](std::string_view line) {
        if (std::exchange(first, false)) {
            FOnDisk = line == header;
            return;
        }
        if (!FOnDisk) return;
        // kind TAB uidl TAB size TAB file size TAB path; the kind in lower case while
        // unconfirmed
        const std::vector<std::string_view> f = SplitTabs(line);
        int64_t size = 0, fileSize = 0;
        if (f.size() != 5 || f[0].size() != 1 || f[1].empty() || !TryStrToInt64(f[2], size) ||
            !TryStrToInt64(f[3], fileSize) || f[4].empty())
            return;
        const char k = f[0][0];
        const TKind kind = k == skGet || k == 'g' ? skGet : skCopy;
        FEntries[std::string(f[1])] = {kind, size, fileSize, std::string(f[4]),
                                       k == skGet || k == skCopy};
    });
}

void TSavedIds::Save(bool flush) {
    std::string text = Header() + "\r\n";
    for (const auto& [uidl, entry] : FEntries) text += EntryLine(uidl, entry);
    WriteFileDurably(FPath, text, flush);
    FOnDisk = true;
}

void TSavedIds::Append(const std::string& uidl, bool flush) {
    const auto it = FEntries.find(uidl);
    if (it == FEntries.end()) return;
    if (!FOnDisk)
        Save(flush);
    else
        AppendToFile(FPath, EntryLine(uidl, it->second), flush);
}

const TSavedIds::TEntry* TSavedIds::Find(const std::string& uidl, int64_t size) const {
    const auto it = FEntries.find(uidl);
    return it == FEntries.end() || it->second.Size != size ? nullptr : &it->second;
}

void TSavedIds::Set(const std::string& uidl, const TEntry& entry) {
    TEntry& e = FEntries[uidl];
    e = entry;
    e.Confirmed = false;
}

void TSavedIds::SetKind(const std::string& uidl, TKind kind) {
    const auto it = FEntries.find(uidl);
    if (it != FEntries.end()) it->second.Kind = kind;
}

void TSavedIds::Confirm(const std::string& uidl) {
    const auto it = FEntries.find(uidl);
    if (it != FEntries.end()) it->second.Confirmed = true;
}

void TSavedIds::Remove(const std::string& uidl) {
    FEntries.erase(uidl);
}
