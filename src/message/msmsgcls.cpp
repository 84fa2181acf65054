#include "message/msmsgcls.h"

#include "base/StrUtils.h"
#include "message/msmimeutil.h"
#include "message/mspars.h"

#include <cstring>

const char* const kAttEncodingNames[3] = {"7 bit", "Base64", "Quoted-Printable"};

namespace {
TAddressEditor gAddressEditor;
} // namespace

void SetAddressEditor(TAddressEditor editor) {
    gAddressEditor = std::move(editor);
}

// --- TmsMailAddress -----------------------------------------------------------

void TmsMailAddress::SetName(std::string_view name) {
    FName = ShortText(name);
}

void TmsMailAddress::SetAddress(std::string_view address) {
    FAddress = ShortText(address);
}

void TmsMailAddress::Clear() {
    FName.clear();
    FAddress.clear();
}

void TmsMailAddress::Assign(const TmsMailAddress& source) {
    FName = source.FName;
    FAddress = source.FAddress;
}

bool TmsMailAddress::Edit() {
    if (!gAddressEditor) return false;
    std::string name = FName, address = FAddress;
    if (!gAddressEditor(name, address)) return false;
    SetName(name);
    SetAddress(address);
    return true;
}

// --- TmsAttItem ---------------------------------------------------------------

void TmsAttItem::SetFileName(std::string_view name) {
    FFileName = ShortText(name);
    if (name.empty()) return;
    SetContentType(ContentTypeOfFile(FFileName));
    const std::string type = UpperCase(FContentType);
    if (type == "TEXT/PLAIN" || type == "TEXT/RTF" || type == "TEXT/HTML")
        FEncoding = aeQuotedPrintable;
    else if (type == "MESSAGE/RFC822")
        FEncoding = aeSevenBit;
    else
        FEncoding = aeBase64;
}

void TmsAttItem::SetContentType(std::string_view contentType) {
    FContentType = ShortContentType(contentType);
}

void TmsAttItem::Assign(const TmsAttItem& source) {
    if (&source == this) return;
    Data.Clear();
    Data.WriteBuffer(source.Data.Memory(), int64_t(source.Data.View().size()));
    Data.SetPosition(0);
    FContentType = source.FContentType;
    FEncoding = source.FEncoding;
    FFileName = source.FFileName;
}

// --- TLineStream ----------------------------------------------------------------

const std::string TLineStream::kEndMarker(4, '\xff');

bool TmsHeaders::AddLine(std::string_view line) {
    if (Count() >= kMaxHeaderLines) return false;
    Add(std::string(line));
    return true;
}

void TLineStream::Reset() {
    FEof = false;
    FScanSize = std::string_view::npos;
    SetPosition(0);
}

bool TLineStream::ReadLine(std::string& line) {
    std::string_view view;
    if (!ReadLineView(view)) {
        line = kEndMarker;
        return false;
    }
    line.assign(view);
    return true;
}

void TLineStream::Restore(const TMark& mark) {
    SetPosition(mark.Position);
    FNextLF = mark.NextLF;
    FLineEnd = mark.LineEnd;
    FScanSize = mark.ScanSize;
    FEof = mark.Eof;
}

bool TLineStream::PeekLineView(std::string_view& line) {
    const TMark mark = Mark();
    const bool read = ReadLineView(line);
    Restore(mark);
    return read;
}

bool TLineStream::ReadLineView(std::string_view& line) {
    const std::string_view text = View();
    const std::size_t start = std::size_t(Position());
    if (start >= text.size()) {
        line = {};
        FEof = true;
        return false;
    }
    // The next LF is remembered across calls, so text with lone CRs is still read in
    // linear time; the CR search is bounded by that LF.
    const char* base = text.data() + start;
    if (FNextLF < start || FScanSize != text.size()) {
        FScanSize = text.size();
        const void* lf = std::memchr(base, '\n', text.size() - start);
        FNextLF = lf ? std::size_t(static_cast<const char*>(lf) - text.data()) : text.size();
        // The CRs right before the LF end the line with it: a server that puts a CR before
        // every LF of a message stored with CR LF sends CR CR LF.
        FLineEnd = FNextLF;
        if (FNextLF < text.size())
            while (FLineEnd > start && text[FLineEnd - 1] == '\r') --FLineEnd;
    }
    const void* cr = std::memchr(base, '\r', FNextLF - start);
    const char* stop = cr ? static_cast<const char*>(cr) : text.data() + FNextLF;
    const std::size_t length = std::size_t(stop - base);
    line = std::string_view(base, length);
    std::size_t next = start + length;
    if (next >= FLineEnd && FNextLF < text.size())
        next = FNextLF + 1;
    else if (next < text.size())
        next += 1; // a lone CR
    SetPosition(int64_t(next));
    return true;
}
