// The POP3 client (RFC 1939, USER/PASS log-in). It keeps no protocol state of its own: each
// operation sends its command for the message CurrentMessage selects and checks the status
// line; the caller keeps the commands in order. Header blocks and whole messages go to
// MailMessage, which parses them.
#pragma once

#include "net/Mssocket.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TmsMessage;

// A header block (TOP) may hold this many bytes.
inline constexpr int64_t kMaxHeaderAnswer = 4 * 1024 * 1024;
// A message (RETR) may hold twice the size LIST gave plus this slack, or the ceiling when
// LIST gave none.
inline constexpr int64_t kMessageSlack = 1024 * 1024;
inline constexpr int64_t kMaxMessageAnswer = 512 * 1024 * 1024;
// The capability list.
inline constexpr int64_t kMaxCapabilityAnswer = 64 * 1024;
class TMemoryStream;

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
    // refused before USER when the server does not offer it), then logs in.
    void Login();
    void GetStatus();
    // The size in octets LIST reports, -1 when the answer has none. Kept for the message, as
    // the bound of its RETR answer.
    int64_t GetMessageSize();
    // The bound of the current message's RETR answer.
    int64_t MessageLimit() const;
    void RetrieveHeaders();
    void RetrieveMessage();
    void DeleteMessage();
    void Logout();

private:
    // Raises for a status other than success: EmsServerError with the server's line, or
    // EmsConnectionClosedError when the line is missing because the server hung up.
    void CheckStatus(int code);
    void Command(const std::string& line);
    // CAPA; true when the server offers STLS (false also when it does not know CAPA).
    bool OffersStls();
    void NegotiateStls();
    // MailMessage; raises when none is assigned (rather than crash).
    TmsMessage& Target() const;
    // CurrentMessage + 1, the message number on the server.
    std::string MessageNumber() const;

    TmsMessage* FMailMessage = nullptr;
    std::string FUserName;
    std::string FPassword;
    int FMessageCount = 0;
    int64_t FMailboxSize = 0;
    int FCurrentMessage = -1;
    // LIST sizes by message index, -1 where none is known.
    std::vector<int64_t> FListedSizes;
};

// Turns the raw multi-line answer in stream back into the data the server had: the closing
// "." line goes, and every line that starts with "." loses that first dot (the server adds
// it). Works in place and leaves the stream at position 0.
void RemoveDotStuffing(TMemoryStream& stream);
