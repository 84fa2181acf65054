// TStringList: an ordered list of byte strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList {
public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : FItems(lines) {}
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;
    TStringList(TStringList&&) noexcept = default;
    TStringList& operator=(TStringList&&) noexcept = default;

    int Count() const { return int(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    // Index-checked access; an index out of range raises EListError.
    const std::string& operator[](int index) const;
    std::string& operator[](int index);
    const std::string& Strings(int index) const { return (*this)[index]; }
    void Put(int index, std::string s);

    // Appends (or, when Sorted, inserts in order; a duplicate is then handled by
    // Duplicates). Returns the index of the line.
    int Add(std::string s);
    void Insert(int index, std::string s);
    void Delete(int index);
    void Clear() { FItems.clear(); }
    void AddStrings(const TStringList& other);
    void Assign(const TStringList& other) { FItems = other.FItems; }
    // Index of the first line equal to s without regard to case, or -1.
    int IndexOf(std::string_view s) const;

    bool Sorted() const { return FSorted; }
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates d) { FDuplicates = d; }

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the lines: CR LF, a lone CR and a lone LF each end a line; a final line end
    // makes no extra empty line.
    void SetText(std::string_view text);
    void LoadFromStream(TStream& stream); // from the stream's position to its end
    void SaveToStream(TStream& stream) const;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    // Direct access for code that moves lines in and out in bulk.
    std::vector<std::string>& Items() { return FItems; }
    const std::vector<std::string>& Items() const { return FItems; }
    auto begin() { return FItems.begin(); }
    auto end() { return FItems.end(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

    bool operator==(const TStringList& other) const { return FItems == other.FItems; }

private:
    bool Find(std::string_view s, int& index) const;

    std::vector<std::string> FItems;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
};

// Splits text into lines at CR LF, lone CR and lone LF and appends them to lines.
void SplitLines(std::string_view text, std::vector<std::string>& lines);
