// The POP3 client (RFC 1939, USER/PASS log-in). It keeps no protocol state of its own: each
// operation sends its command for the message CurrentMessage selects and checks the status
// line; the caller keeps the commands in order. Header blocks and whole messages go to
// MailMessage, which parses them.
#pragma once

#include "net/Mssocket.h"

#include <cstdint>
#include <string>
#include <string_view>

class TmsMessage;
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

    void Login();
    void GetStatus();
    // The size in octets LIST reports, -1 when the answer has none.
    int64_t GetMessageSize();
    void RetrieveHeaders();
    void RetrieveMessage();
    void DeleteMessage();
    void Logout();

private:
    // Raises for a status other than success: EmsServerError with the server's line, or
    // EmsConnectionClosedError when the line is missing because the server hung up.
    void CheckStatus(int code);
    void Command(const std::string& line);
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
};

// Turns the raw multi-line answer in stream back into the data the server had: the closing
// "." line goes, and every line that starts with "." loses that first dot (the server adds
// it). Works in place and leaves the stream at position 0.
void RemoveDotStuffing(TMemoryStream& stream);
