// The header blocks the encoder writes for messages and articles.
//
// A field that the message model still holds unchanged (the result of reading the original
// line equals the model's value) keeps its original line, with its encoded words, folding and
// comments. Only a field whose value differs from its line, or that has none, is written anew.
#include "message/msmimeencoder.h"

#include "base/StrUtils.h"
#include "message/mspars.h"

#include <memory>

namespace {
// Characters that make a display name need double quotes in an address field.
const char* const kAddressSpecials = "()<>[]:;@\\,.\"";
const char* const kLabelPadding = "          ";
constexpr std::size_t kLabelWidth = 10;

bool SameAddress(const TmsMailAddress& a, const TmsMailAddress& b) {
    return a.Name() == b.Name() && a.Address() == b.Address();
}

bool SameAddresses(const TmsAddressList& a, const TmsAddressList& b) {
    if (a.Count() != b.Count()) return false;
    for (int i = 0; i < a.Count(); ++i)
        if (!SameAddress(a.Items(i), b.Items(i))) return false;
    return true;
}

// What the model would read from the header lines as they stand; null when they cannot be
// read, in which case every field is written anew.
template <class T> std::unique_ptr<T> ReadBack(const TmsHeaders& headers) {
    auto original = std::make_unique<T>();
    try {
        original->ProcessHeaders(headers);
    } catch (const std::exception&) {
        return nullptr;
    }
    return original;
}
} // namespace

bool TmsCustomEncoder::EncodeWords() const {
    return FMessage.CharSet() == csISO2022jp && FMessage.Encoding() == meMIME;
}

std::string TmsCustomEncoder::DisplayName(const std::string& name) const {
    if (EncodeWords() && !name.empty() && name[0] == '\x1b') return EncodeHeaderText(name);
    const std::string encoded = EncodeHeaderUnicode(name);
    if (encoded != name) return encoded; // encoded words stand outside quotes
    const bool enclosed = name.size() >= 2 && name.front() == '"' && name.back() == '"';
    if (enclosed || name.find_first_of(kAddressSpecials) == std::string::npos) return name;
    // Inside the quotes a double quote or a backslash stands behind a backslash.
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string TmsCustomEncoder::SubjectField(const std::string& subject) const {
    if (EncodeWords() && subject[0] == '\x1b') return EncodeHeaderText(subject);
    return EncodeHeaderUnicode(subject);
}

// --- TmsMessageEncoder -------------------------------------------------------------------------

void TmsMessageEncoder::WriteAddressField(std::string_view fieldName, const TmsAddressList& list) {
    std::string label(fieldName);
    if (label.empty() || label.back() != ':') label += ':';
    if (label.size() < kLabelWidth) label.append(kLabelWidth - label.size(), ' ');
    for (int i = 0; i < list.Count(); ++i) {
        const TmsMailAddress& address = list.Items(i);
        std::string line = i == 0 ? label : kLabelPadding;
        line += DisplayName(address.Name()) + " <" + address.Address() + ">";
        if (i + 1 < list.Count()) line += ',';
        WriteLine(line);
    }
}

void TmsMessageEncoder::WriteHeaders() {
    const auto& message = static_cast<const TmsMessage&>(FMessage);
    const auto original = ReadBack<TmsMessage>(FHeaders);
    const bool keepFrom = original && SameAddress(original->Sender(), message.Sender());
    const bool keepTo = original && SameAddresses(original->Recipients(), message.Recipients());
    const bool keepCC = original && SameAddresses(original->CC(), message.CC());
    const bool keepBCC = original && SameAddresses(original->BCC(), message.BCC());
    const bool keepReceipt = original && original->ReturnReceipt() == message.ReturnReceipt();
    const bool keepPriority = original && original->Priority() == message.Priority();
    const bool keepSubject = original && original->Subject() == message.Subject();
    std::vector<std::string_view> rewritten;
    if (!keepFrom) rewritten.push_back("From");
    if (!keepTo) rewritten.push_back("To");
    if (!keepCC) rewritten.push_back("CC");
    // No BCC field is ever composed; one that came with the message stays.
    if (!keepBCC) rewritten.push_back("BCC");
    if (!keepReceipt) rewritten.push_back("Return-Receipt-To");
    if (!keepPriority) rewritten.push_back("X-Priority");
    if (!keepSubject) rewritten.push_back("Subject");
    RemoveComposedHeaders(std::move(rewritten));

    const TmsMailAddress& sender = message.Sender();
    if (!keepFrom && !(sender.Name().empty() && sender.Address().empty()))
        WriteLine("From:     " + DisplayName(sender.Name()) + " <" + sender.Address() + ">");
    if (!keepTo) WriteAddressField("To", message.Recipients());
    if (!keepCC) WriteAddressField("CC", message.CC());
    if (!keepReceipt && message.ReturnReceipt())
        WriteLine("Return-Receipt-To: <" + sender.Address() + ">");
    if (!keepPriority && message.Priority() == ptLow) WriteLine("X-Priority: 5");
    if (!keepPriority && message.Priority() == ptHigh) WriteLine("X-Priority: 1");
    WriteRemainingHeaders();
    if (!keepSubject && !message.Subject().empty())
        WriteLine("Subject: " + SubjectField(message.Subject()));
    if (message.Encoding() == meMIME) WriteLine("Mime-Version: 1.0");
}

// --- TmsArticleEncoder -------------------------------------------------------------------------

void TmsArticleEncoder::WriteHeaders() {
    const auto& article = static_cast<const TmsArticle&>(FMessage);
    const auto original = ReadBack<TmsArticle>(FHeaders);
    const bool keepFrom = original && SameAddress(original->Sender(), article.Sender());
    const bool keepGroups = original && original->NewsGroups() == article.NewsGroups();
    const bool keepSubject = original && original->Subject() == article.Subject();
    std::vector<std::string_view> rewritten;
    if (!keepFrom) rewritten.push_back("From");
    if (!keepGroups) rewritten.push_back("Newsgroups");
    if (!keepSubject) rewritten.push_back("Subject");
    RemoveComposedHeaders(std::move(rewritten));

    const TmsMailAddress& sender = article.Sender();
    if (!keepFrom && !(sender.Name().empty() && sender.Address().empty())) {
        const std::string name =
            EncodeWords() ? EncodeHeaderText(sender.Name()) : EncodeHeaderUnicode(sender.Name());
        WriteLine("From:     " + name + " <" + sender.Address() + ">");
    }
    if (!keepGroups && !article.NewsGroups().empty())
        WriteLine("Newsgroups: " + article.NewsGroups());
    WriteRemainingHeaders();
    if (!keepSubject && !article.Subject().empty())
        WriteLine("Subject:  " + SubjectField(article.Subject()));
    if (article.Encoding() == meMIME) WriteLine("Mime-Version: 1.0");
}
