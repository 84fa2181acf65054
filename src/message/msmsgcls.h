// Building blocks of the message model: addresses, attachments, header lines and the
// line reader the decoder reads raw message text through.
#pragma once

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/StringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TmsMsgEncoding { meMIME, meUU };
enum TmsCharSet { csUSASCII, csISO8859, csISO2022jp };
enum TmsPriority { ptLow, ptNormal, ptHigh };
enum TmsAttEncoding : uint8_t { aeSevenBit, aeBase64, aeQuotedPrintable };

// Display names of the attachment encodings, in enumeration order.
extern const char* const kAttEncodingNames[3];

class TmsMailAddress;
// Shows the "Address" dialog for name and address; returns true on OK. Installed by the
// application; with none installed Edit does nothing and returns false.
using TAddressEditor = std::function<bool(std::string& name, std::string& address)>;
void SetAddressEditor(TAddressEditor editor);

class TmsMailAddress {
public:
    virtual ~TmsMailAddress() = default;

    const std::string& Name() const { return FName; }
    void SetName(std::string_view name);
    const std::string& Address() const { return FAddress; }
    void SetAddress(std::string_view address);

    void Clear();
    void Assign(const TmsMailAddress& source);
    virtual bool Edit();

private:
    std::string FName;
    std::string FAddress;
};

// An ordered list that owns its items.
template <class T> class TmsOwnedList {
public:
    int Count() const { return int(FItems.size()); }
    // Index-checked; raises EListError out of range.
    T& Items(int index) const {
        if (index < 0 || index >= Count()) RaiseListIndexError(index);
        return *FItems[std::size_t(index)];
    }
    T* Add(std::unique_ptr<T> item) {
        FItems.push_back(std::move(item));
        return FItems.back().get();
    }
    T* Add() { return Add(std::make_unique<T>()); }
    void Delete(int index) {
        Items(index);
        FItems.erase(FItems.begin() + index);
    }
    // Frees the items from the last to the first.
    void Clear() {
        while (!FItems.empty()) FItems.pop_back();
    }
    // Clears, then appends a copy of every item of source.
    void Assign(const TmsOwnedList& source) {
        if (&source == this) return;
        Clear();
        for (const auto& item : source.FItems) Add()->Assign(*item);
    }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<T>> FItems;
};

class TmsAddressList : public TmsOwnedList<TmsMailAddress> {};

class TmsAttItem {
public:
    TMemoryStream Data;

    const std::string& FileName() const { return FFileName; }
    // Sets the file name and, when it is not empty, the content type of its extension and
    // the encoding that suits that type.
    void SetFileName(std::string_view name);
    const std::string& ContentType() const { return FContentType; }
    void SetContentType(std::string_view contentType);
    TmsAttEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TmsAttEncoding encoding) { FEncoding = encoding; }

    // Copies the whole data, the content type, the encoding and the file name as it is.
    void Assign(const TmsAttItem& source);

private:
    std::string FFileName;
    std::string FContentType;
    TmsAttEncoding FEncoding = aeSevenBit;
};

class TmsAttList : public TmsOwnedList<TmsAttItem> {};

// A header block keeps at most this many lines, continuation lines included. Real mail has
// a few dozen, a long recipient list some thousands; the lines after the limit are read past,
// so a block of a million tiny fields costs no more memory than its bytes.
inline constexpr int kMaxHeaderLines = 10000;

// Raw header lines in their order; continuation lines are entries of their own.
class TmsHeaders : public TStringList {
public:
    // Appends line while the block holds fewer than kMaxHeaderLines lines; false once full.
    bool AddLine(std::string_view line);
};

// Reads the text it holds line by line. Lines end at CR LF, a lone CR or a lone LF and come
// back without their line ends; a run of CRs before an LF ends one line (CR CR LF); every byte, NUL
// included, is kept, and a line may be of any length. When the text is exhausted ReadLine returns
// the end marker (four bytes 0xFF) and sets Eof.
class TLineStream : public TMemoryStream {
public:
    static const std::string kEndMarker;

    // Back to the start; clears Eof and AtEnd.
    void Reset();
    // Stores the next line in line (reusing its buffer) and returns true, or stores the end
    // marker, sets Eof and returns false.
    bool ReadLine(std::string& line);
    // The same without a copy: line views the stream's own text and stays valid until the
    // stream is written to. At the end line is empty.
    bool ReadLineView(std::string_view& line);
    bool Eof() const { return FEof; }
    // True once the last line has been handed out.
    bool AtEnd() { return Position() >= Size(); }

    // A reading position to come back to (with what the reader knows about the text after it).
    struct TMark {
        int64_t Position;
        std::size_t NextLF;
        std::size_t LineEnd;
        std::size_t ScanSize;
        bool Eof;
    };
    TMark Mark() { return {Position(), FNextLF, FLineEnd, FScanSize, FEof}; }
    void Restore(const TMark& mark);
    // The next line without reading it; false at the end.
    bool PeekLineView(std::string_view& line);

private:
    bool FEof = false;
    // Position of the next LF at or after the last scan start, valid for FScanSize bytes.
    std::size_t FNextLF = 0;
    // Where the line end at FNextLF starts: the first of the CRs right before it.
    std::size_t FLineEnd = 0;
    std::size_t FScanSize = std::string_view::npos;
};

// Raised by CheckRequired.
PV_DECLARE_EXCEPTION(EMessageError, Exception);
