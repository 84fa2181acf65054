#include "message/msmsgtext.h"

#include "base/Charset.h"
#include "base/StrUtils.h"

namespace {

TmsAddressText AddressText(const TmsMailAddress& address, std::string_view charset) {
    return {RawToUtf8(address.Name(), charset), RawToUtf8(address.Address(), charset)};
}

const TmsAddressList* AddressList(const TmsMessage& message, std::string_view field) {
    if (SameText(field, "To")) return &message.Recipients();
    if (SameText(field, "CC")) return &message.CC();
    if (SameText(field, "BCC")) return &message.BCC();
    return nullptr;
}

} // namespace

std::string HeaderCharset(const TStringList& headers) {
    return GetHeaderParam("charset", GetHeaderValue(headers, "Content-Type"));
}

std::string HeaderCharset(const TmsCustomMessage& message) {
    std::string charset = HeaderCharset(message.Headers());
    return charset.empty() ? BodyCharset(message) : charset;
}

std::string SubjectText(const TmsCustomMessage& message) {
    const std::string charset = HeaderCharset(message);
    if (HasHeader(message.Headers(), "Subject"))
        return GetHeaderText(message.Headers(), "Subject", charset);
    return RawToUtf8(message.Subject(), charset);
}

TmsAddressText SenderText(const TmsCustomMessage& message) {
    const std::string charset = HeaderCharset(message);
    std::vector<TmsAddressText> from;
    GetHeaderAddressesText(message.Headers(), "From", from, charset);
    if (from.empty()) return AddressText(message.Sender(), charset);
    return from.front();
}

std::string SenderDisplayText(const TmsCustomMessage& message) {
    TmsAddressText sender = SenderText(message);
    return sender.Name.empty() ? sender.Address : sender.Name;
}

std::vector<TmsAddressText> RecipientsText(const TmsMessage& message, const char* field) {
    const std::string charset = HeaderCharset(message);
    std::vector<TmsAddressText> items;
    if (HasHeader(message.Headers(), field)) {
        GetHeaderAddressesText(message.Headers(), field, items, charset);
    } else if (const TmsAddressList* list = AddressList(message, field)) {
        for (const auto& address : *list) items.push_back(AddressText(*address, charset));
    }
    return items;
}

std::string BodyCharset(const TmsCustomMessage& message) {
    if (!message.CharSetName().empty()) return message.CharSetName();
    return message.CharSet() == csISO2022jp ? "iso-2022-jp" : "";
}

std::string BodyLineText(const TmsCustomMessage& message, std::string_view line) {
    return CharsetToUtf8(BodyCharset(message), line);
}

std::string BodyText(const TmsCustomMessage& message) {
    const std::string charset = BodyCharset(message);
    std::string out;
    bool first = true;
    for (const auto& line : message.Body()) {
        if (!first) out += '\n';
        first = false;
        CharsetToUtf8Append(charset, line, out);
    }
    return out;
}

std::string HeaderLineText(std::string_view line, std::string_view charset) {
    return DecodeHeaderUnicode(line, charset);
}
