// Decodes arbitrary bytes as a message, encodes the result and decodes that again. Besides
// crashes, leaks and undefined behaviour it checks that the saved file reads back with the
// same attachments, byte for byte (7-bit data up to its line breaks, which are written as
// CR LF).
#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "base/Streams.h"
#include "message/msmimeutil.h"
#include "message/msmsg.h"
#include "message/mspars.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
std::string WithCRLF(std::string_view text) {
    std::string out;
    AppendWithCRLF(text, out);
    return out;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "round trip: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input;
    input.WriteBuffer(data, int64_t(size));
    input.SetPosition(0);
    TmsMessage first;
    first.LoadFromStream(input);

    TMemoryStream saved;
    first.SaveToStream(saved);
    TmsMessage second;
    second.LoadFromStream(saved);

    Check(second.Attachments().Count() == first.Attachments().Count(), "attachment count");
    for (int i = 0; i < first.Attachments().Count(); ++i) {
        const TmsAttItem& a = first.Attachments().Items(i);
        const TmsAttItem& b = second.Attachments().Items(i);
        // Names are written without a folder, the names that mark alternatives and HTML or
        // RTF bodies are not written, and names are read back trimmed: such names may change.
        const std::string name = BareLowerName(a.FileName());
        const bool marker =
            name.rfind("_alt.", 0) == 0 || name == "_htmbody.htm" || name == "_rtfbody.rtf";
        // A media type that holds the letters "name" hides the name parameter after it.
        const bool hidden = FindText(GetMediaType(a.ContentType()), "name") != std::string::npos;
        if (BareFileName(a.FileName()) == a.FileName() && !marker && !hidden &&
            Trim(name) == name && name.find('"') == std::string::npos)
            Check(a.FileName() == b.FileName(), "attachment name");
        if (a.Encoding() == aeSevenBit)
            Check(WithCRLF(a.Data.View()) == WithCRLF(b.Data.View()), "7-bit attachment data");
        else
            Check(a.Data.View() == b.Data.View(), "attachment data");
    }
    Check(first.Subject() == second.Subject(), "subject");
    return 0;
}
