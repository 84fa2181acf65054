#include "StringList.h"

#include "Exceptions.h"
#include "StrUtils.h"
#include "Streams.h"

#include <algorithm>

const std::string& TStringList::operator[](int index) const {
    if (index < 0 || index >= Count()) RaiseListIndexError(index);
    return FItems[std::size_t(index)];
}

std::string& TStringList::operator[](int index) {
    if (index < 0 || index >= Count()) RaiseListIndexError(index);
    return FItems[std::size_t(index)];
}

void TStringList::Put(int index, std::string s) {
    (*this)[index] = std::move(s);
}

bool TStringList::Find(std::string_view s, int& index) const {
    auto it = std::lower_bound(
        FItems.begin(), FItems.end(), s,
        [](const std::string& a, std::string_view b) { return CompareText(a, b) < 0; });
    index = int(it - FItems.begin());
    return it != FItems.end() && CompareText(*it, s) == 0;
}

int TStringList::Add(std::string s) {
    if (!FSorted) {
        FItems.push_back(std::move(s));
        return Count() - 1;
    }
    int index;
    if (Find(s, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError) throw EListError("String list does not allow duplicates");
    }
    FItems.insert(FItems.begin() + index, std::move(s));
    return index;
}

void TStringList::Insert(int index, std::string s) {
    if (FSorted) throw EListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) RaiseListIndexError(index);
    FItems.insert(FItems.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) RaiseListIndexError(index);
    FItems.erase(FItems.begin() + index);
}

void TStringList::AddStrings(const TStringList& other) {
    if (!FSorted) {
        FItems.insert(FItems.end(), other.FItems.begin(), other.FItems.end());
        return;
    }
    for (const auto& s : other.FItems) Add(s);
}

int TStringList::IndexOf(std::string_view s) const {
    if (FSorted) {
        int index;
        return Find(s, index) ? index : -1;
    }
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (SameText(FItems[i], s)) return int(i);
    return -1;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted == FSorted) return;
    FSorted = sorted;
    if (!sorted) return;
    std::stable_sort(FItems.begin(), FItems.end(), [](const std::string& a, const std::string& b) {
        return CompareText(a, b) < 0;
    });
    if (FDuplicates == dupIgnore) {
        auto last = std::unique(
            FItems.begin(), FItems.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) == 0; });
        FItems.erase(last, FItems.end());
    }
}

std::string TStringList::Text() const {
    std::size_t total = 0;
    for (const auto& s : FItems) total += s.size() + 2;
    std::string r;
    r.reserve(total);
    for (const auto& s : FItems) {
        r += s;
        r += "\r\n";
    }
    return r;
}

void SplitLines(std::string_view text, std::vector<std::string>& lines) {
    std::size_t start = 0;
    const std::size_t n = text.size();
    while (start < n) {
        std::size_t i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
        lines.emplace_back(text.substr(start, i - start));
        if (i < n && text[i] == '\r') {
            ++i;
            if (i < n && text[i] == '\n') ++i;
        } else if (i < n) {
            ++i;
        }
        start = i;
    }
}

void TStringList::SetText(std::string_view text) {
    FItems.clear();
    if (!FSorted) {
        SplitLines(text, FItems);
        return;
    }
    std::vector<std::string> lines;
    SplitLines(text, lines);
    for (auto& s : lines) Add(std::move(s));
}

void TStringList::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string text(std::size_t(std::max<int64_t>(0, size)), '\0');
    text.resize(std::size_t(stream.Read(text.data(), int64_t(text.size()))));
    SetText(text);
}

void TStringList::SaveToStream(TStream& stream) const {
    stream.WriteString(Text());
}

void TStringList::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

void TStringList::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}
