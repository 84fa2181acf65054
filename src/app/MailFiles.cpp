#include "app/MailFiles.h"

#include "platform/DurableFile.h"

namespace {
const char* const kNoDate = "00000000";
} // namespace

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

void MakeCrLf(std::string& text) {
    bool clean = true;
    for (std::size_t i = 0; clean && i < text.size(); ++i) {
        if (text[i] == '\r')
            clean = i + 1 < text.size() && text[i + 1] == '\n' && ++i;
        else if (text[i] == '\n')
            clean = false;
    }
    if (clean) return;
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out.append("\r\n");
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out.push_back(c);
        }
    }
    text.swap(out);
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
    ForEachLine(ReadWholeFile(path), [&](std::string_view line) { list.Add(std::string(line)); });
}

void WriteTransList(const std::string& path, const TStringList& list, bool flush) {
    std::string text;
    for (int i = 0; i < list.Count(); ++i) text.append(list[i]).append("\r\n");
    WriteFileDurably(path, text, flush);
}

void TSavedIds::Load() {
    FEntries.clear();
    ForEachLine(ReadWholeFile(FPath), [&](std::string_view line) {
        // kind TAB uidl TAB path; the kind in lower case while unconfirmed
        const std::size_t a = line.find('\t');
        const std::size_t b = a == std::string_view::npos ? a : line.find('\t', a + 1);
        if (a != 1 || b == std::string_view::npos) return;
        const char k = line[0];
        const TKind kind = k == skGet || k == 'g' ? skGet : skCopy;
        FEntries[std::string(line.substr(a + 1, b - a - 1))] = {
            kind, std::string(line.substr(b + 1)), k == skGet || k == skCopy};
    });
}

namespace {
std::string EntryLine(const std::string& uidl, const TSavedIds::TEntry& entry) {
    const char kind = entry.Confirmed ? char(entry.Kind) : char(entry.Kind + ('a' - 'A'));
    return kind + ("\t" + uidl + "\t" + entry.Path + "\r\n");
}
} // namespace

void TSavedIds::Save(bool flush) const {
    std::string text;
    for (const auto& [uidl, entry] : FEntries) text += EntryLine(uidl, entry);
    WriteFileDurably(FPath, text, flush);
}

void TSavedIds::Append(const std::string& uidl, bool flush) const {
    const auto it = FEntries.find(uidl);
    if (it != FEntries.end()) AppendToFile(FPath, EntryLine(uidl, it->second), flush);
}

const TSavedIds::TEntry* TSavedIds::Find(const std::string& uidl) const {
    const auto it = FEntries.find(uidl);
    return it == FEntries.end() ? nullptr : &it->second;
}

void TSavedIds::Set(const std::string& uidl, TKind kind, const std::string& path) {
    FEntries[uidl] = {kind, path, false};
}

void TSavedIds::ConfirmAll() {
    for (auto& [uidl, entry] : FEntries) entry.Confirmed = true;
}

void TSavedIds::Confirm(const std::string& uidl) {
    const auto it = FEntries.find(uidl);
    if (it != FEntries.end()) it->second.Confirmed = true;
}

void TSavedIds::Remove(const std::string& uidl) {
    FEntries.erase(uidl);
}
