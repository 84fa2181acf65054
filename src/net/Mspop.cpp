#include "net/Mspop.h"

#include "base/StrUtils.h"
#include "base/Streams.h"
#include "message/msmsg.h"
#include "message/mspars.h"
#include "message/msuucode.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace {
const char* const kUser = "USER ";
const char* const kPass = "PASS ";
const char* const kStat = "STAT";
const char* const kList = "LIST ";
const char* const kTop = "TOP ";
const char* const kTopLines = " 1";
const char* const kRetr = "RETR ";
const char* const kDele = "DELE ";
const char* const kQuit = "QUIT";
const char* const kCapa = "CAPA";
const char* const kStls = "STLS";
const char* const kNoStls = "Server offers no STLS; the password was not sent";
const char* const kListAll = "LIST";
const char* const kUidlAll = "UIDL";
constexpr std::size_t kUidlMax = 70;
const char* const kClosedByServer = "Connection closed by the server";
const char* const kEmptyAnswer = "Empty answer from the server";
const char* const kNoMailMessage = "No message object to receive the mail";
const char* const kCapabilities = "Capabilities: ";
const char* const kPipelining = "PIPELINING";
const char* const kUtf8 = "UTF8";
const char* const kOutOfPlan = "Answer asked for out of the planned order";
const char* const kAuth = "AUTH ";
const char* const kHidden = "*Hidden*";
const char* const kTokenNeedsTls =
    "OAuth 2.0 sign-in needs an encrypted connection (TLS or STLS); the token was not sent";
const char* const kNoTokenMechanism =
    "Server offers no OAuth 2.0 sign-in (SASL XOAUTH2 or OAUTHBEARER); the token was not sent";
const char* const kChallengeUnreadable = "Server's reason unreadable";
const char* const kServerReason = "Server's reason: ";
const char* const kNotFinished = "Server did not end the sign-in";

constexpr int kDefaultPop3Port = 110;
} // namespace

TmsPOPClient::TmsPOPClient() {
    FDefaultPort = kDefaultPop3Port;
    SetPort(kDefaultPop3Port);
}

void TmsPOPClient::SetUserName(std::string_view value) {
    FUserName = ShortText(value);
}
void TmsPOPClient::SetPassword(std::string_view value) {
    FPassword = ShortText(value);
}

void TmsPOPClient::SetCurrentMessage(int index) {
    if (FMessageCount == 0) {
        FCurrentMessage = -1;
    } else if (index < FMessageCount) {
        FCurrentMessage = index < 0 ? 0 : index;
    } else {
        FCurrentMessage = FMessageCount - 1;
    }
}

int TmsPOPClient::GetResponseCode(const std::string& line) {
    if (line.empty()) return 0;
    if (line[0] == '+') return 1;
    if (line[0] == '-') return -1;
    return 0;
}

void TmsPOPClient::CheckStatus(int code) {
    if (code == 1) return;
    if (LastResponse.empty()) {
        if (CloseSignalled()) throw EmsConnectionClosedError(kClosedByServer);
        throw EmsServerError(kEmptyAnswer);
    }
    throw EmsServerError(LastResponse);
}

void TmsPOPClient::Command(const std::string& line) {
    SendLine(line);
    CheckStatus(ReadResponse(LastResponse));
}

void TmsPOPClient::SendCommands(const std::string& batch) {
    SendBuffer(batch.data(), int64_t(batch.size()));
    for (std::size_t start = 0, end; (end = batch.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        LogSent(std::string_view(batch).substr(start, end - start));
}

template <class F>
void TmsPOPClient::Exchange(const std::vector<std::string>& commands, bool together, F read) {
    if (!together) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            SendLine(commands[i]);
            read(i);
        }
        return;
    }
    std::string batch;
    for (const std::string& command : commands) batch.append(command).append("\r\n");
    SendCommands(batch);
    std::size_t i = 0;
    try {
        for (; i < commands.size(); ++i) read(i);
    } catch (...) {
        if (i + 1 < commands.size() && IsConnected()) Disconnect();
        throw;
    }
}

void TmsPOPClient::DeleteMessages(const std::vector<int>& indexes) {
    const bool pipelining = HasCapability(kPipelining);
    std::size_t next = 0;
    while (next < indexes.size()) {
        std::string batch;
        std::size_t end = next;
        do {
            const std::string line = kDele + std::to_string(indexes[end] + 1) + "\r\n";
            // The first command always goes, whatever the window.
            if (end > next && int64_t(batch.size() + line.size()) > kPipelineWindow) break;
            batch += line;
        } while (++end < indexes.size() && pipelining);
        SendCommands(batch);
        // Every answer of the window is read before a refusal among them is raised.
        std::string refusal;
        for (; next < end; ++next) {
            if (ReadResponse(LastResponse) == 1) continue;
            if (LastResponse.empty()) CheckStatus(0);
            if (refusal.empty()) refusal = LastResponse;
        }
        if (!refusal.empty()) {
            LastResponse = refusal;
            CheckStatus(-1);
        }
    }
}

std::string TmsPOPClient::MessageNumber() const {
    return std::to_string(FCurrentMessage + 1);
}

bool TmsPOPClient::ReadOptionalAnswer() {
    if (ReadResponse(LastResponse) == 1) return true;
    // A closed connection is a failure; a refusal only means the server does not offer it.
    if (LastResponse.empty()) CheckStatus(0);
    return false;
}

bool TmsPOPClient::ReadCapabilities() {
    SendLine(kCapa);
    return ReadCapabilityAnswer();
}

bool TmsPOPClient::ReadCapabilityAnswer() {
    FCapabilities.clear();
    if (!ReadOptionalAnswer()) return false;
    TMemoryStream stream;
    ReadBlock(stream, -1, kMaxCapabilityAnswer);
    RemoveDotStuffing(stream);
    std::string_view list(stream.Memory(), std::size_t(stream.Size()));
    while (!list.empty()) {
        std::size_t end = list.find('\n');
        std::string_view line = TrimView(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (!line.empty()) FCapabilities.emplace_back(line);
    }
    return true;
}

bool TmsPOPClient::HasCapability(std::string_view name) const {
    return std::any_of(FCapabilities.begin(), FCapabilities.end(), [name](const std::string& c) {
        return SameText(std::string_view(c).substr(0, c.find(' ')), name);
    });
}

bool TmsPOPClient::OffersStls() {
    return ReadCapabilities() && HasCapability(kStls);
}

void TmsPOPClient::NegotiateStls() {
    if (!OffersStls()) throw EmsServerError(kNoStls);
    Command(kStls);
    StartTls(Host(), CertFingerprint());
    // What the server offers may differ once the connection is protected; it is asked again
    // and nothing from before counts (RFC 2595).
    FCapaAnswered = ReadCapabilities();
}

void TmsPOPClient::LogCapabilities() {
    std::string line = kCapabilities;
    for (const std::string& c : FCapabilities) line.append(c).append(" ");
    AddToLog(TrimView(line));
}

void TmsPOPClient::Login() {
    FCapabilities.clear();
    FCapaAnswered = false;
    EndPlan();
    FUtf8 = false;
    OpenSecured();
    // Asked in the AUTHORIZATION state (RFC 2449), so the log-in can use what is offered.
    if (Security() != secStartTls) FCapaAnswered = ReadCapabilities();
    if (FAuthentication == auToken) {
        LoginWithToken();
    } else if (FCapaAnswered) {
        LoginWithCapa();
    } else {
        LoginWithoutCapa();
    }
    if (FMessageCount > 0) SetCurrentMessage(0);
}

void TmsPOPClient::LoginWithoutCapa() {
    Command(kUser + FUserName);
    Command(kPass + FPassword);
    // A server older than CAPA in the AUTHORIZATION state may still answer it now.
    FCapaAnswered = ReadCapabilities();
    if (FCapaAnswered) LogCapabilities();
    std::vector<std::string> commands;
    // Header blocks as stored, in raw UTF-8, which the rows and the decoder read; refused,
    // the session goes on as it would without.
    if (HasCapability(kUtf8)) commands.emplace_back(kUtf8);
    commands.emplace_back(kStat);
    FCurrentMessage = -1;
    Exchange(commands, HasCapability(kPipelining), [&](std::size_t i) {
        if (i + 1 < commands.size()) {
            FUtf8 = ReadOptionalAnswer();
            return;
        }
        CheckStatus(ReadResponse(LastResponse));
        TakeStatus();
    });
}

void TmsPOPClient::LoginWithCapa() {
    const bool pipelining = HasCapability(kPipelining);
    std::vector<std::string> commands;
    // Valid only before the log-in (RFC 6856); the user name and password may then be UTF-8.
    if (HasCapability(kUtf8)) commands.emplace_back(kUtf8);
    commands.push_back(kUser + FUserName);
    commands.push_back(kPass + FPassword);
    const std::size_t user = commands.size() - 2;
    // With USER and PASS sent together, the answer to PASS is read before USER's refusal is
    // raised: the connection stays in step for QUIT.
    std::string refusal;
    Exchange(commands, pipelining, [&](std::size_t i) {
        if (i < user) {
            FUtf8 = ReadOptionalAnswer();
        } else if (i == user) {
            if (ReadOptionalAnswer()) return;
            refusal = LastResponse;
            if (!pipelining) CheckStatus(-1);
        } else {
            const int code = ReadResponse(LastResponse);
            if (!refusal.empty()) LastResponse = refusal;
            CheckStatus(refusal.empty() ? code : -1);
        }
    });
    StartTransaction(pipelining);
}

void TmsPOPClient::StartTransaction(bool pipelining) {
    // What the server offers may change with the log-in (RFC 2449): this list is the one that
    // counts. Under PIPELINING it costs no round trip of its own.
    std::vector<std::string> commands = {kCapa, kStat};
    if (FListAtLogin) {
        commands.emplace_back(kUidlAll);
        commands.emplace_back(kListAll);
    }
    FCurrentMessage = -1;
    Exchange(commands, pipelining, [&](std::size_t i) {
        switch (i) {
        case 0:
            FCapaAnswered = ReadCapabilityAnswer();
            if (FCapaAnswered) LogCapabilities();
            break;
        case 1:
            CheckStatus(ReadResponse(LastResponse));
            TakeStatus();
            break;
        case 2:
            ReadUidls();
            break;
        default:
            ReadSizes();
        }
    });
}

namespace {
// A "+" line that asks for more (a SASL continuation), not "+OK".
bool IsContinuation(const std::string& line) {
    return line == "+" || line.rfind("+ ", 0) == 0;
}
} // namespace

TmsSaslMechanism TmsPOPClient::ProbeTokenSignIn() {
    FCapabilities.clear();
    FCapaAnswered = false;
    OpenSecured();
    if (Security() != secStartTls) FCapaAnswered = ReadCapabilities();
    if (!Encrypted()) throw EmsServerError(kTokenNeedsTls);
    return ChooseTokenMechanism(FCapabilities);
}

void TmsPOPClient::LoginWithToken() {
    FTokenMechanism = smNone;
    if (!Encrypted()) throw EmsServerError(kTokenNeedsTls);
    const TmsSaslMechanism mechanism = ChooseTokenMechanism(FCapabilities);
    if (mechanism == smNone) throw EmsServerError(kNoTokenMechanism);
    if (HasCapability(kUtf8)) {
        SendLine(kUtf8);
        FUtf8 = ReadOptionalAnswer();
    }
    Authenticate(mechanism);
    FTokenMechanism = mechanism;
    StartTransaction(HasCapability(kPipelining));
}

void TmsPOPClient::Authenticate(TmsSaslMechanism mechanism) {
    const std::string command = kAuth + std::string(SaslMechanismName(mechanism));
    const std::string response =
        Base64EncodeChunk(TokenInitialResponse(mechanism, FUserName, Host(), Port(), FAccessToken));
    if (command.size() + 1 + response.size() <= kMaxAuthCommand) {
        SendSecret(command + " " + response, command + " " + kHidden);
    } else {
        SendLine(command);
        const int code = ReadResponse(LastResponse);
        if (!IsContinuation(LastResponse)) CheckStatus(code == 1 ? -1 : code);
        SendSecret(response, kHidden);
    }
    int code = ReadResponse(LastResponse);
    if (IsContinuation(LastResponse)) {
        // The error challenge: a JSON status; the server ends the exchange once answered.
        try {
            AddToLog(kServerReason + Base64DecodeLine(TrimView(LastResponse.substr(1))));
        } catch (const std::exception&) {
            AddToLog(kChallengeUnreadable);
        }
        SendLine(TokenErrorReply(mechanism));
        code = ReadResponse(LastResponse);
        if (IsContinuation(LastResponse)) {
            Disconnect();
            throw EmsServerError(kNotFinished);
        }
        if (code == 1) return;
    } else if (code == 1) {
        return;
    }
    if (LastResponse.empty()) CheckStatus(0);
    throw EmsTokenRefusedError(LastResponse);
}

void TmsPOPClient::SendSecret(const std::string& line, std::string_view shown) {
    const std::string wire = line + "\r\n";
    SendBuffer(wire.data(), int64_t(wire.size()));
    AddToLog(shown);
}

void TmsPOPClient::OpenSecured() {
    Connect();
    CheckStatus(ReadMultiLineResponse());
    if (Security() == secStartTls) NegotiateStls();
}

void TmsPOPClient::GetStatus() {
    FCurrentMessage = -1;
    Command(kStat);
    TakeStatus();
}

void TmsPOPClient::TakeStatus() {
    LastResponse.erase(0, 4);
    std::size_t blank = LastResponse.find(' ');
    if (blank == std::string::npos) {
        // "+OK 5": a count without a size still counts; a missing count is no number.
        FMessageCount = StrToInt(LastResponse);
        FMailboxSize = 0;
        ResizeIds();
        return;
    }
    FMessageCount = StrToInt(std::string_view(LastResponse).substr(0, blank));
    LastResponse.erase(0, blank + 1);
    blank = LastResponse.find(' ');
    FMailboxSize = StrToInt64(std::string_view(LastResponse).substr(0, blank));
    ResizeIds();
}

int64_t TmsPOPClient::GetMessageSize() {
    Command(kList + MessageNumber());
    const int64_t size = GetWordAsInt64(LastResponse, 2);
    const std::size_t index = std::size_t(FCurrentMessage);
    if (FCurrentMessage >= 0 && index < FMessageIds.size()) FMessageIds[index].Size = size;
    return size;
}

int64_t TmsPOPClient::KnownSize() const {
    const std::size_t index = std::size_t(FCurrentMessage);
    return FCurrentMessage < 0 || index >= FMessageIds.size() ? -1 : FMessageIds[index].Size;
}

int64_t TmsPOPClient::MessageLimit() const {
    const int64_t size = KnownSize();
    return size < 0 ? kMaxMessageAnswer : std::min(2 * size + kMessageSlack, kMaxMessageAnswer);
}

TmsMessage& TmsPOPClient::Target() const {
    if (!FMailMessage) throw Exception(kNoMailMessage);
    return *FMailMessage;
}

void TmsPOPClient::RetrieveHeaders() {
    std::string raw;
    RetrieveHeaders(raw);
}

bool TmsPOPClient::RetrieveHeaders(std::string& raw) {
    TmsMessage& message = Target();
    message.Clear();
    raw.clear();
    bool whole = false;
    Ask(kTop, kTopLines, [&] { whole = ReadHeaderAnswer(raw); });
    FillFromHeaderBlock(message, raw);
    return whole;
}

template <class F> void TmsPOPClient::Ask(const char* command, const char* suffix, F read) {
    if (FPlanRead < FPlan.size()) {
        const bool inFlight = FPlanRead < FPlanSent;
        if (FPlan[FPlanRead] != FCurrentMessage || std::string_view(command) != FPlanCommand) {
            EndPlan();
            // Answers still due would be taken for the answers of later commands.
            if (inFlight) {
                Disconnect();
                throw EmsServerError(kOutOfPlan);
            }
        } else {
            try {
                SendPlanned();
                read();
            } catch (...) {
                const bool due = FPlanRead + 1 < FPlanSent;
                EndPlan();
                if (due && IsConnected()) Disconnect();
                throw;
            }
            FBytesInFlight -= FSentBytes[FPlanRead];
            if (++FPlanRead == FPlan.size()) EndPlan();
            return;
        }
    }
    SendLine(command + MessageNumber() + suffix);
    read();
}

bool TmsPOPClient::ReadHeaderAnswer(std::string& raw) {
    CheckStatus(ReadResponse(LastResponse));
    TMemoryStream stream;
    // A TOP answer is no longer than its message: what passes the header limit is read past
    // within the message's own bound, so one heavy message does not end the session.
    const bool whole = ReadBlock(stream, KnownSize(), std::max(MessageLimit(), kMaxHeaderAnswer),
                                 kMaxHeaderAnswer);
    RemoveDotStuffing(stream);
    raw.assign(stream.Memory(), std::size_t(stream.Size()));
    return whole;
}

void TmsPOPClient::PlanHeaders(std::vector<int> indexes) {
    StartPlan(kTop, kTopLines, std::move(indexes));
}

void TmsPOPClient::PlanMessages(std::vector<int> indexes) {
    StartPlan(kRetr, "", std::move(indexes));
}

void TmsPOPClient::StartPlan(const char* command, const char* suffix, std::vector<int> indexes) {
    if (FPlanRead < FPlanSent) throw Exception(kOutOfPlan);
    EndPlan();
    if (!HasCapability(kPipelining)) return;
    FPlanCommand = command;
    FPlanSuffix = suffix;
    FPlan = std::move(indexes);
    FSentBytes.assign(FPlan.size(), 0);
}

void TmsPOPClient::EndPlan() {
    FPlan.clear();
    FPlanRead = FPlanSent = 0;
    FBytesInFlight = 0;
}

void TmsPOPClient::SendPlanned() {
    // Refilled once half the window has been answered, so a long plan goes out in a few
    // large writes rather than one per answer.
    if (FPlanSent > FPlanRead && FBytesInFlight > kPipelineWindow / 2) return;
    std::string batch;
    while (FPlanSent < FPlan.size()) {
        const std::string line = FPlanCommand + std::to_string(FPlan[FPlanSent] + 1) + FPlanSuffix;
        const int64_t bytes = int64_t(line.size()) + 2;
        // The first command always goes, whatever the window.
        if (FPlanSent > FPlanRead && FBytesInFlight + bytes > kPipelineWindow) break;
        batch.append(line).append("\r\n");
        FSentBytes[FPlanSent++] = bytes;
        FBytesInFlight += bytes;
    }
    if (!batch.empty()) SendCommands(batch);
}

void TmsPOPClient::RetrieveMessage() {
    std::string raw;
    RetrieveMessage(raw);
}

void TmsPOPClient::RetrieveMessage(std::string& raw) {
    TmsMessage& message = Target();
    message.Clear();
    raw.clear();
    if (OnRetrievingMessage) OnRetrievingMessage(this);
    {
        TMemoryStream stream;
        Ask(kRetr, "", [&] { ReadMessageAnswer(stream); });
        RemoveDotStuffing(stream);
        raw.assign(stream.Memory(), std::size_t(stream.Size()));
        message.LoadFromRetrievedStream(stream);
    }
    if (OnMessageRetrieved) OnMessageRetrieved(this);
}

int64_t TmsPOPClient::RetrieveMessageTo(const TmsMessageSink& sink) {
    if (OnRetrievingMessage) OnRetrievingMessage(this);
    TmsMessageFlow flow(sink);
    try {
        Ask(kRetr, "", [&] { ReadMessageAnswer(flow); });
        flow.Finish();
    } catch (...) {
        if (flow.SinkFailed() && IsConnected()) Disconnect();
        throw;
    }
    if (OnMessageRetrieved) OnMessageRetrieved(this);
    return flow.RawSize();
}

void TmsPOPClient::ReadMessageAnswer(TStream& stream) {
    CheckStatus(ReadResponse(LastResponse));
    int64_t expectedSize = GetWordAsInt64(LastResponse, 1);
    // A status line without the size: the size LIST gave is what is expected (its deadline
    // and its progress).
    if (expectedSize <= 0) expectedSize = KnownSize();
    ReadBlock(stream, expectedSize, MessageLimit());
}

void TmsPOPClient::DeleteMessage() {
    Command(kDele + MessageNumber());
}

void TmsPOPClient::ResizeIds() {
    FSizesAnswer = FUidlsAnswer = -1;
    FMessageIds.assign(std::size_t(std::clamp(FMessageCount, 0, kMaxTrackedMessages)),
                       TmsMessageId());
    for (std::size_t i = 0; i < FMessageIds.size(); ++i) FMessageIds[i].Number = int(i) + 1;
}

template <class F> void TmsPOPClient::ReadNumberedLines(F take) {
    TMemoryStream stream;
    ReadBlock(stream, -1, kMaxCapabilityAnswer + kMaxNumberedLine * int64_t(FMessageIds.size()));
    RemoveDotStuffing(stream);
    std::string_view text(stream.Memory(), std::size_t(stream.Size()));
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) continue;
        const int64_t number = StrToInt64Def(line.substr(0, blank), 0);
        // Lines for numbers outside this session's count are the server's mistake: ignored.
        if (number < 1 || number > int64_t(FMessageIds.size())) continue;
        std::string_view value = line.substr(blank + 1);
        value = value.substr(0, value.find(' '));
        take(FMessageIds[std::size_t(number - 1)], value);
    }
}

bool TmsPOPClient::RetrieveSizes() {
    SendLine(kListAll);
    return ReadSizes();
}

bool TmsPOPClient::ReadSizes() {
    if (ReadOptionalAnswer()) {
        ReadNumberedLines(
            [](TmsMessageId& id, std::string_view value) { id.Size = StrToInt64Def(value, -1); });
    } else if (!SizesOneByOne()) {
        FSizesAnswer = 0;
        return false;
    }
    FSizesAnswer = 1;
    return true;
}

bool TmsPOPClient::SizesOneByOne() {
    // LIST without a number is optional for a server; LIST with one is not. A message it
    // refuses keeps its size unknown; refused for all, the server gives no sizes at all.
    bool any = FMessageIds.empty();
    std::string refusal = LastResponse;
    for (TmsMessageId& id : FMessageIds) {
        SendLine(kList + std::to_string(id.Number));
        if (ReadOptionalAnswer()) {
            id.Size = GetWordAsInt64(LastResponse, 2);
            any = true;
        } else {
            refusal = LastResponse;
        }
    }
    if (!any) LastResponse = refusal;
    return any;
}

bool TmsPOPClient::EnsureSizes() {
    return FSizesAnswer < 0 ? RetrieveSizes() : FSizesAnswer == 1;
}

bool TmsPOPClient::EnsureUidls() {
    return FUidlsAnswer < 0 ? RetrieveUidls() : FUidlsAnswer == 1;
}

bool TmsPOPClient::RetrieveUidls() {
    SendLine(kUidlAll);
    return ReadUidls();
}

void TmsPOPClient::RetrieveUidlsAndSizes(bool& uidls, bool& sizes) {
    // Both answers are short lines per message: with PIPELINING they go out together, one
    // round trip.
    Exchange({kUidlAll, kListAll}, HasCapability(kPipelining), [&](std::size_t i) {
        if (i == 0) {
            uidls = ReadUidls();
        } else {
            sizes = ReadSizes();
        }
    });
}

bool TmsPOPClient::ReadUidls() {
    for (TmsMessageId& id : FMessageIds) id.Uidl.clear();
    if (!ReadOptionalAnswer()) {
        FUidlsAnswer = 0;
        return false;
    }
    ReadNumberedLines([](TmsMessageId& id, std::string_view value) {
        if (IsUniqueId(value)) id.Uidl = value;
    });
    // Two messages with one id: the id finds neither of them for sure. Counted first, then
    // cleared, so the counting never looks at an id already cleared.
    std::unordered_map<std::string_view, int> uses;
    uses.reserve(FMessageIds.size());
    for (const TmsMessageId& id : FMessageIds)
        if (!id.Uidl.empty()) ++uses[id.Uidl];
    std::vector<std::size_t> shared;
    for (std::size_t i = 0; i < FMessageIds.size(); ++i)
        if (!FMessageIds[i].Uidl.empty() && uses[FMessageIds[i].Uidl] > 1) shared.push_back(i);
    for (std::size_t i : shared) FMessageIds[i].Uidl.clear();
    FUidlsAnswer = 1;
    return true;
}

void TmsPOPClient::Logout() {
    Command(kQuit);
    Disconnect();
}

bool IsUniqueId(std::string_view text) {
    return !text.empty() && text.size() <= kUidlMax &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

bool IsConnectionError(const std::exception& e) {
    return dynamic_cast<const EmsServerError*>(&e) ||
           dynamic_cast<const EmsConnectionClosedError*>(&e) ||
           dynamic_cast<const EmsTimedOutError*>(&e) || dynamic_cast<const EmsCanceledError*>(&e) ||
           dynamic_cast<const EWinsockError*>(&e);
}

void FillFromHeaderBlock(TmsMessage& message, std::string_view block) {
    message.Clear();
    TLineStream text;
    text.WriteString(block);
    text.Reset();
    // Of a header block over the limit, the row shows what the lines that fit say.
    TmsHeaders headers;
    std::string_view line;
    while (text.ReadLineView(line) && headers.AddLine(line)) {
    }
    message.ProcessHeaders(headers);
}

void RemoveDotStuffing(TMemoryStream& stream) {
    char* data = stream.Memory();
    std::size_t size = std::size_t(stream.Size());
    std::string_view raw(data, size);
    if (raw == ".\r\n") {
        size = 0;
    } else if (raw.ends_with("\r\n.\r\n")) {
        size -= 3;
    }
    // Copy line by line, skipping the first byte of every line that starts with a dot.
    std::size_t in = 0;
    std::size_t out = 0;
    while (in < size) {
        if (data[in] == '.') ++in;
        const void* lf = std::memchr(data + in, '\n', size - in);
        std::size_t end = lf ? std::size_t(static_cast<const char*>(lf) - data) + 1 : size;
        if (out != in) std::memmove(data + out, data + in, end - in);
        out += end - in;
        in = end;
    }
    stream.SetSize(int64_t(out));
    stream.SetPosition(0);
}

TmsMessageFlow::TmsMessageFlow(const TmsMessageSink& sink) : FSink(sink) {
    FOut.reserve(kMessageChunk);
}

int64_t TmsMessageFlow::Write(const void* buffer, int64_t count) {
    const char* p = static_cast<const char*>(buffer);
    const char* const end = p + count;
    while (p < end) {
        // Inside a line nothing waits: the bytes up to the next line end go on as they are.
        if (!FLineStart && !FAfterDot && FHeld == 0 && FCrRun == 0) {
            const char* q = p;
            while (q < end && *q != '\r' && *q != '\n') ++q;
            if (q > p) {
                Put(p, std::size_t(q - p));
                FRawSize += q - p;
                p = q;
                continue;
            }
        }
        Step(*p++);
    }
    return count;
}

void TmsMessageFlow::Step(char c) {
    if (FHeld == 1) {
        FHeld = 0;
        if (c == '\n') {
            FHeld = 2;
            return;
        }
        Take('\r');
    } else if (FHeld == 2) {
        // A line of a dot alone, and more after it: not the closing line.
        FHeld = 0;
        Take('\r');
        Take('\n');
    }
    if (FLineStart) {
        FLineStart = false;
        if (c == '.') {
            FAfterDot = true;
            return;
        }
    }
    if (FAfterDot) {
        FAfterDot = false;
        if (c == '\r') {
            FHeld = 1;
            return;
        }
    }
    Take(c);
}

void TmsMessageFlow::Take(char c) {
    ++FRawSize;
    if (c == '\r') {
        ++FCrRun;
        return;
    }
    // A run of CRs before an LF is one line end; any other CR is one.
    if (c == '\n') {
        FCrRun = 0;
        FLineStart = true;
        Put("\r\n", 2);
        return;
    }
    for (; FCrRun > 0; --FCrRun) Put("\r\n", 2);
    Put(&c, 1);
}

void TmsMessageFlow::Put(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t take = std::min(size, kMessageChunk - FOut.size());
        FOut.append(data, take);
        data += take;
        size -= take;
        if (FOut.size() == kMessageChunk) Flush();
    }
}

void TmsMessageFlow::Flush() {
    if (FOut.empty()) return;
    try {
        FSink(FOut);
    } catch (...) {
        FSinkFailed = true;
        throw;
    }
    FOut.clear();
}

void TmsMessageFlow::Finish() {
    // CR LF held after a line's dot is the closing line's; a CR alone there is the message's.
    if (FHeld == 1) Take('\r');
    FHeld = 0;
    FAfterDot = false;
    for (; FCrRun > 0; --FCrRun) Put("\r\n", 2);
    Flush();
}
