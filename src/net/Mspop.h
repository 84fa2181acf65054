// The POP3 client (RFC 1939, USER/PASS log-in). It keeps no protocol state of its own: each
// operation sends its command for the message CurrentMessage selects and checks the status
// line; the caller keeps the commands in order. Header blocks and whole messages go to
// MailMessage, which parses them.
#pragma once

#include "base/Streams.h"
#include "net/MsSasl.h"
#include "net/Mssocket.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TmsMessage;

// The server refused the OAuth 2.0 access token; the message is its refusal. A fresh token may
// still be taken.
PV_DECLARE_EXCEPTION(EmsTokenRefusedError, EmsServerError);

// How the client proves who it is: USER and PASS, or an OAuth 2.0 access token through SASL.
enum TmsAuthentication { auPassword, auToken };

// An AUTH command with its initial response may hold this many octets (RFC 5034); a longer
// response goes on a line of its own after the server's "+" continuation.
inline constexpr std::size_t kMaxAuthCommand = 255;

// A header block (TOP) may hold this many bytes.
inline constexpr int64_t kMaxHeaderAnswer = 4 * 1024 * 1024;
// A message (RETR) may hold twice the size LIST gave plus this slack, or the ceiling when
// LIST gave none.
inline constexpr int64_t kMessageSlack = 1024 * 1024;
inline constexpr int64_t kMaxMessageAnswer = 512 * 1024 * 1024;
// The capability list; the lists of every message's size or id get as much again per message.
inline constexpr int64_t kMaxCapabilityAnswer = 64 * 1024;
inline constexpr int64_t kMaxNumberedLine = 128;
// The count STAT gives is the server's word: identities are kept for at most this many
// messages, so a hostile count cannot claim the machine's memory.
inline constexpr int kMaxTrackedMessages = 1000000;
// Commands sent ahead of their answers (PIPELINING) stay within this many bytes, far below
// what either side's socket buffers hold, so a server busy writing answers never blocks us.
inline constexpr int64_t kPipelineWindow = 2048;
// A message retrieved to a sink reaches it in pieces of at most this many bytes.
inline constexpr std::size_t kMessageChunk = 64 * 1024;

// Takes a retrieved message piece by piece, in order.
using TmsMessageSink = std::function<void(std::string_view piece)>;

// What tells one message on the server from another: its number in this session, its size
// in octets (-1 when not known) and its unique id ("" when the server gives none).
struct TmsMessageId {
    int Number = 0;
    int64_t Size = -1;
    std::string Uidl;
};

class TmsPOPClient : public TmsClientSocket {
public:
    TmsPOPClient();

    // Receives headers and messages; not owned (its owner clears it before freeing it).
    TmsMessage* MailMessage() const { return FMailMessage; }
    void SetMailMessage(TmsMessage* value) { FMailMessage = value; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(std::string_view value);
    const std::string& Password() const { return FPassword; }
    void SetPassword(std::string_view value);
    TmsAuthentication Authentication() const { return FAuthentication; }
    void SetAuthentication(TmsAuthentication value) { FAuthentication = value; }
    // The OAuth 2.0 access token auToken sends (kept whole; the protocol never shows it).
    const std::string& AccessToken() const { return FAccessToken; }
    void SetAccessToken(std::string_view value) { FAccessToken = value; }
    // The mechanism of the last token log-in (smNone before one).
    TmsSaslMechanism TokenMechanism() const { return FTokenMechanism; }
    TmsNotifyEvent OnRetrievingMessage;
    TmsNotifyEvent OnMessageRetrieved;

    int MessageCount() const { return FMessageCount; }
    int64_t MailboxSize() const { return FMailboxSize; }
    // 0-based; -1 for none. Setting it clamps the index to the messages there are.
    int CurrentMessage() const { return FCurrentMessage; }
    void SetCurrentMessage(int index);

    // 1 for "+...", -1 for "-...", 0 for anything else and for an empty line.
    int GetResponseCode(const std::string& line) override;

    // Connects, reads the greeting, protects the connection as Security says (STLS is
    // refused before USER when the server does not offer it), then logs in and asks STAT.
    // The capabilities are asked before USER (CAPA; after STLS the list asked once the
    // connection was protected is taken). UTF8, when offered, goes before USER; with
    // PIPELINING it travels with USER and PASS in one write, and after the log-in CAPA goes
    // again (the list may change with it) with STAT, and UIDL and LIST when ListAtLogin,
    // in one write. Without PIPELINING the same commands go one at a time. A server that
    // does not answer the first CAPA gets the older exchange: USER, PASS, CAPA, (UTF8), STAT.
    // A refused USER or PASS ends the log-in with the server's refusal, the connection in step.
    // With auToken the log-in is SASL instead of USER and PASS: OAUTHBEARER, else XOAUTH2, as
    // CAPA's SASL line offers them, only on an encrypted connection (otherwise nothing is sent
    // and the log-in fails with the reason). A refused token raises EmsTokenRefusedError after
    // the server's error challenge was answered, the connection in step for QUIT.
    void Login();
    // When set, a log-in on a server that answers CAPA also asks UIDL and LIST (with STAT,
    // in the same write under PIPELINING), so EnsureUidls and EnsureSizes ask nothing more.
    // Off by default: a log-in that only counts the messages needs neither.
    bool ListAtLogin() const { return FListAtLogin; }
    void SetListAtLogin(bool value) { FListAtLogin = value; }
    // The first part of Login: connects, reads the greeting and protects the connection as
    // Security says; nothing about the user is sent.
    void OpenSecured();
    // What a token log-in would find, without signing in: connects and protects as OpenSecured,
    // asks CAPA and returns the mechanism Login would use (smNone when none is offered).
    // Raises as Login on a connection without encryption.
    TmsSaslMechanism ProbeTokenSignIn();
    void GetStatus();
    // The size in octets LIST reports, -1 when the answer has none. Kept in MessageIds, as
    // the bound of the message's RETR answer.
    int64_t GetMessageSize();
    // The current message's size as LIST gave it, -1 when not known.
    int64_t KnownSize() const;
    // The bound of the current message's RETR answer.
    int64_t MessageLimit() const;
    void RetrieveHeaders();
    // RetrieveHeaders that also hands back the header block as the server had it (the
    // dot-stuffing undone); raw is filled before MailMessage parses it. A block over
    // kMaxHeaderAnswer comes back cut to that many bytes and the result is false: the rest
    // of the answer, up to MessageLimit, is read past and the session goes on.
    bool RetrieveHeaders(std::string& raw);
    // The messages (0-based indexes, in this order) whose headers the next RetrieveHeaders
    // calls ask for. With PIPELINING their TOP commands go out ahead of the answers, in
    // windows of kPipelineWindow bytes; without it nothing changes. A RetrieveHeaders for
    // another message (or any other retrieval), or a failure while answers are still due,
    // ends the plan: the connection is then out of step and is closed.
    void PlanHeaders(std::vector<int> indexes);
    // PlanHeaders for whole messages: the next retrievals (RetrieveMessage or
    // RetrieveMessageTo) of these messages, in this order, read answers to RETR commands
    // sent ahead under PIPELINING.
    void PlanMessages(std::vector<int> indexes);
    void RetrieveMessage();
    // RetrieveMessage that also hands back the message exactly as the server had it (the
    // dot-stuffing undone). The text is kept also when MailMessage cannot parse it: the
    // parse error is raised after raw is filled.
    void RetrieveMessage(std::string& raw);
    // RETR of the current message, handed to sink as it arrives, in pieces of at most
    // kMessageChunk bytes, so memory does not grow with the message: the dot-stuffing
    // undone, the closing line dropped and every line end made CR LF (see TmsMessageFlow),
    // which is the text RetrieveMessage gives in raw as a mail file keeps it. MailMessage is
    // neither filled nor needed. The same limit (MessageLimit), deadline and events as
    // RetrieveMessage. Returns raw.size() of RetrieveMessage: the bytes of the message as the
    // server had it (dot-stuffing undone, line ends as sent), the size to hold against LIST's.
    // A sink that raises leaves the rest of the answer unread: the connection is closed.
    int64_t RetrieveMessageTo(const TmsMessageSink& sink);
    void DeleteMessage();
    // DELE for each of the messages (0-based indexes, in this order). With PIPELINING the
    // commands go out together in windows of kPipelineWindow bytes, one write and one round
    // trip per window; without it one at a time. A refusal is raised once every answer of its
    // window is read (the connection stays in step), and no further DELE is sent.
    void DeleteMessages(const std::vector<int>& indexes);
    void Logout();

    // The identity of every message of this session, index = number - 1; sized at each
    // log-in (STAT), filled by the two calls below. This is the one list of identities the
    // program keeps.
    const std::vector<TmsMessageId>& MessageIds() const { return FMessageIds; }
    // "LIST" without a number: the size of every message. A server that refuses it is asked
    // "LIST n" for each message instead. Returns false, and leaves the sizes as they were,
    // when it refuses that too for every message (LastResponse then holds its refusal).
    bool RetrieveSizes();
    // "UIDL" without a number: the unique id of every message. Returns false, and leaves the
    // ids empty, when the server does not offer the command. An id that is not printable,
    // too long, or shared by two messages tells nothing apart and stays empty.
    bool RetrieveUidls();
    // The answers of this session's RetrieveSizes and RetrieveUidls, asked for only when
    // they have not been asked yet (the check and a transfer in one session share them).
    bool EnsureSizes();
    bool EnsureUidls();
    // RetrieveUidls, then RetrieveSizes; with PIPELINING both commands go out together.
    void RetrieveUidlsAndSizes(bool& uidls, bool& sizes);

    // What the server answered to CAPA after the log-in, one capability per entry (its
    // arguments included); empty when it does not know CAPA.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    // True when the server answered CAPA at the last log-in (even with an empty list).
    bool CapaAnswered() const { return FCapaAnswered; }
    bool HasCapability(std::string_view name) const;
    // True when the server offered UTF8 and took the command at the last log-in: it then
    // sends header blocks in raw UTF-8 as they were stored, rather than rewritten for an
    // older client.
    bool Utf8() const { return FUtf8; }

private:
    // Raises for a status other than success: EmsServerError with the server's line, or
    // EmsConnectionClosedError when the line is missing because the server hung up.
    void CheckStatus(int code);
    void Command(const std::string& line);
    // Sends commands (each ending in CR LF) in one write; the protocol shows each line.
    void SendCommands(const std::string& batch);
    // Takes the count and size from the STAT answer in LastResponse.
    void TakeStatus();
    // The status line of a command the server may refuse: true for +OK, false for -ERR;
    // a closed connection raises.
    bool ReadOptionalAnswer();
    // CAPA: false when the server does not know it; otherwise the list goes to
    // FCapabilities.
    bool ReadCapabilities();
    // The answer of CAPA, its command sent.
    bool ReadCapabilityAnswer();
    void LogCapabilities();
    // CAPA; true when the server offers STLS (false also when it does not know CAPA).
    bool OffersStls();
    // The log-in after a first CAPA the server did not answer, and after one it did.
    void LoginWithoutCapa();
    void LoginWithCapa();
    void LoginWithToken();
    // The SASL exchange of one token mechanism.
    void Authenticate(TmsSaslMechanism mechanism);
    // Sends a line whose contents the protocol shows as shown.
    void SendSecret(const std::string& line, std::string_view shown);
    // After the log-in: CAPA and STAT (with UIDL and LIST when ListAtLogin), in one write under
    // PIPELINING.
    void StartTransaction(bool pipelining);
    // Sends commands (lines without their CR LF) in one write when together, else each once
    // the answer before it is read; read(i) reads the answer of commands[i]. A failure with
    // answers still due leaves the connection out of step: it is closed.
    template <class F>
    void Exchange(const std::vector<std::string>& commands, bool together, F read);
    void StartPlan(const char* command, const char* suffix, std::vector<int> indexes);
    void EndPlan();
    // Sends the command for the current message, or takes the one the plan sent, and reads
    // its answer with read.
    template <class F> void Ask(const char* command, const char* suffix, F read);
    // Sends the planned commands until the window is full.
    void SendPlanned();
    bool ReadHeaderAnswer(std::string& raw);
    // The answer of RETR, its command sent: the status line, then the message to stream.
    void ReadMessageAnswer(TStream& stream);
    // The answers of UIDL and LIST, their commands sent.
    bool ReadUidls();
    bool ReadSizes();
    // "LIST n" for every message, for a server that refused LIST without a number.
    bool SizesOneByOne();
    void NegotiateStls();
    // MailMessage; raises when none is assigned (rather than crash).
    TmsMessage& Target() const;
    // CurrentMessage + 1, the message number on the server.
    std::string MessageNumber() const;
    void ResizeIds();
    // Reads a multi-line answer of "number value" lines and hands each to take.
    template <class F> void ReadNumberedLines(F take);

    TmsMessage* FMailMessage = nullptr;
    std::string FUserName;
    std::string FPassword;
    TmsAuthentication FAuthentication = auPassword;
    std::string FAccessToken;
    TmsSaslMechanism FTokenMechanism = smNone;
    int FMessageCount = 0;
    int64_t FMailboxSize = 0;
    int FCurrentMessage = -1;
    std::vector<TmsMessageId> FMessageIds;
    std::vector<std::string> FCapabilities;
    bool FCapaAnswered = false;
    bool FUtf8 = false;
    bool FListAtLogin = false;
    // -1 not asked in this session, 0 refused, 1 answered.
    int FSizesAnswer = -1;
    int FUidlsAnswer = -1;
    // The planned requests (FPlanCommand + number + FPlanSuffix): FPlan[FPlanRead..FPlanSent)
    // are sent and unanswered.
    const char* FPlanCommand = "";
    const char* FPlanSuffix = "";
    std::vector<int> FPlan;
    std::size_t FPlanRead = 0;
    std::size_t FPlanSent = 0;
    int64_t FBytesInFlight = 0;
    std::vector<int64_t> FSentBytes;
};

// Errors of the connection itself (a server error line, a lost or timed-out connection, a
// cancel); anything else raised while an answer is read comes from reading its contents,
// and the connection is still in step.
bool IsConnectionError(const std::exception& e);

// A unique id as the server may give it: 1 to 70 printable characters without blanks.
bool IsUniqueId(std::string_view text);

// Fills message from a header block as TOP gives it (dot-stuffing undone): the header lines,
// the blank line and the body line, of which the first kMaxHeaderLines are kept. The same
// header block always gives the same message.
void FillFromHeaderBlock(TmsMessage& message, std::string_view block);

// Turns a RETR answer, written to it in pieces of any size as it arrives, into the message as
// a mail file keeps it: every line that starts with "." loses that first dot, the closing "."
// line goes, and every line end becomes CR LF (an LF alone, a CR alone, and a run of CRs
// before an LF are each one line end). The result goes to the sink in pieces of at most
// kMessageChunk bytes. Only writes count; reading and seeking find nothing.
class TmsMessageFlow : public TStream {
public:
    explicit TmsMessageFlow(const TmsMessageSink& sink);
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    void SetSize(int64_t) override {}
    // The answer has ended: what is held back goes to the sink, the closing line does not.
    void Finish();
    // The bytes of the message with the dot-stuffing undone and line ends as they came.
    int64_t RawSize() const { return FRawSize; }
    // True once the sink raised.
    bool SinkFailed() const { return FSinkFailed; }

private:
    // One byte of the answer, the slow way (line ends and line starts).
    void Step(char c);
    // One byte of the message, dot-stuffing undone.
    void Take(char c);
    void Put(const char* data, std::size_t size);
    void Flush();

    const TmsMessageSink& FSink;
    std::string FOut;
    int64_t FRawSize = 0;
    // The CRs of the message not yet followed by anything.
    int64_t FCrRun = 0;
    bool FLineStart = true;
    // A line began with a dot (dropped); then 1: a CR after it is held, 2: CR LF is held.
    bool FAfterDot = false;
    int FHeld = 0;
    bool FSinkFailed = false;
};

// Turns the raw multi-line answer in stream back into the data the server had: the closing
// "." line goes, and every line that starts with "." loses that first dot (the server adds
// it). Works in place and leaves the stream at position 0.
void RemoveDotStuffing(TMemoryStream& stream);
