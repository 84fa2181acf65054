// TDialUp: lists the RAS phone book, dials an entry synchronously or asynchronously with
// progress events, enumerates the open connections, finds one that carries an IP address,
// and hangs up the connection it dialled itself.
//
// Everything runs on the GUI thread except the provider's progress reports of an
// asynchronous dial; they come through a one-slot mailbox and a 1 ms dispatch timer.
#pragma once

#include "base/Clock.h"
#include "base/StringList.h"
#include "dialup/RasApi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QTimer;
class TDialMailbox;

enum TDialMode { dmAsync, dmSync };
// Selects the table of state texts; Czech shows the German texts.
enum TLanguage { English, Czech, Portuguese };

class TDialUp {
public:
    using TStandartEv = std::function<void(TDialUp* Sender)>;
    using TOnEntryGet = std::function<void(TDialUp* Sender, const std::string& EntryName)>;
    using TOnNotConn =
        std::function<void(TDialUp* Sender, int32_t ErrorCode, const std::string& ErrorMessage)>;
    using TOnError = TOnNotConn;
    using TOnAsyncEvent = std::function<void(TDialUp* Sender, int32_t State, int32_t Error,
                                             const std::string& MessageText)>;
    using TOnActiveConn =
        std::function<void(TDialUp* Sender, int32_t Handle, const TRasConnStatusA& Status,
                           const std::string& StatusString, const std::string& EntryName,
                           const std::string& DeviceType, const std::string& DeviceName)>;

    explicit TDialUp(TClock& clock = InstalledClock());
    virtual ~TDialUp();
    TDialUp(const TDialUp&) = delete;
    TDialUp& operator=(const TDialUp&) = delete;

    TDialMode DialMode() const { return FDialMode; }
    void SetDialMode(TDialMode mode) { FDialMode = mode; }
    const TStringList& Entries() const { return FEntries; }
    const std::string& Entry() const { return FEntry; }
    void SetEntry(std::string entry) { FEntry = std::move(entry); }
    TLanguage Language() const { return FLanguage; }
    void SetLanguage(TLanguage language) { FLanguage = language; }
    // Link statistics of the dial-up adapters: published but never filled.
    const std::string& ServerIP() const { return FServerIP; }
    const std::string& ClientIP() const { return FClientIP; }
    const TStringList& DUNA() const { return FDUNA; }
    const std::string& DUNA_Key() const { return FDUNA_Key; }
    void SetDUNA_Key(std::string key) { FDUNA_Key = std::move(key); }
    uint32_t BytesXmit() const { return FBytesXmit; }
    uint32_t BytesRecv() const { return FBytesRecv; }
    uint32_t ConnectionSpeed() const { return FConnectionSpeed; }
    // The handle of the last dial, and of the connection this component regards as its own.
    THRasConn DialHandle() const { return FDialHandle; }
    THRasConn ConnectionHandle() const { return FConnHandle; }

    TOnEntryGet OnEntryGet;
    TStandartEv OnDialing;
    TStandartEv OnConnect;
    TOnNotConn OnNotConnected;
    TOnAsyncEvent OnAsyncEvent;
    TOnError OnError;
    TOnActiveConn OnActiveConnection;

    // Fills Entries from the phone book; 0 or the RAS error (Entries then empty).
    int GetEntries();
    // Dials Entry; 0 when connected (dmSync) or started (dmAsync), else the RAS error.
    int Dial();
    // Hangs up the connection this component dialled.
    int HangUp();
    int HangUpConnection(THRasConn Handle);
    // Reports every open connection through OnActiveConnection; returns their number.
    int GetConnections();
    // Looks for an open connection with an IP address and reports it; raises Exception with
    // the RAS error number when RAS fails.
    bool GetActiveConnection();
    std::string StateText(int32_t State, int32_t Error);
    // Reads the adapter statistics; there are none on this system, so DUNA stays as it is.
    bool ReadAdapters();

protected:
    // Dispatch timer: hands the pending progress report to OnAsyncEvent.
    virtual void DispatchAsyncEvent();

private:
    enum TTextColumn { tcEnglish, tcGerman, tcPortuguese };
    std::string StateTextIn(int32_t state, int32_t error, TTextColumn column);
    std::string ErrorText(uint32_t error);

    TClock& FClock;
    TDialMode FDialMode = dmAsync;
    TStringList FEntries;
    std::string FEntry;
    TLanguage FLanguage = English;
    std::string FServerIP, FClientIP, FDUNA_Key;
    TStringList FDUNA;
    uint32_t FBytesXmit = 0, FBytesRecv = 0, FConnectionSpeed = 0;

    std::unique_ptr<QTimer> FDispatchTimer;
    std::shared_ptr<TDialMailbox> FMailbox;
    THRasConn FDialHandle = 0; // what RasDialA returned for the last dial
    THRasConn FConnHandle = 0; // the connection this component regards as its own
};
