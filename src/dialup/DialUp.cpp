#include "dialup/DialUp.h"

#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "dialup/DialMailbox.h"
#include "dialup/RasBinding.h"
#include "dialup/RasProvider.h"

#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {
const char kGetEntryDialParamsFailed[] = "GetEntryDialParams failed";
const char kIpSeparator[] = " \367 "; // blank, division sign (Windows-1252), blank

// The RAS functions, by the names they are looked up under.
const std::string kRasDialA = "RasDialA";
const std::string kRasEnumConnectionsA = "RasEnumConnectionsA";
const std::string kRasEnumConnections = "RasEnumConnections";
const std::string kRasEnumEntriesA = "RasEnumEntriesA";
const std::string kRasGetConnectStatusA = "RasGetConnectStatusA";
const std::string kRasGetErrorStringA = "RasGetErrorStringA";
const std::string kRasHangUpA = "RasHangUpA";
const std::string kRasGetEntryDialParamsA = "RasGetEntryDialParamsA";
const std::string kRasGetProjectionInfo = "RasGetProjectionInfo";

constexpr int kMaxEntries = 100;
constexpr int kMaxConnections = 100;
constexpr int kMaxActiveSearch = 10;
constexpr uint32_t kErrorTextSize = 100;
constexpr int kHangUpPolls = 5;
constexpr int kHangUpPollMs = 10;

struct TStateTexts {
    int32_t State;
    const char* Text[3]; // English, German, Portuguese (Windows-1252)
};

// Non-ASCII letters are three-digit octal escapes of their Windows-1252 bytes.
const TStateTexts kStateTexts[] = {
    {RASCS_OpenPort, {"Opening port", "\326ffne Port", "Abrindo a porta"}},
    {RASCS_PortOpened, {"Port opened", "Port ge\366ffnet", "Porta aberta"}},
    {RASCS_ConnectDevice, {"Connecting device", "Verbinde Ger\344t", "Conectando componente"}},
    {RASCS_DeviceConnected, {"Device connected", "Ger\344t verbunden", "Componente conenctado"}},
    {RASCS_AllDevicesConnected,
     {"All devices connected", "Alle Ger\344te verbunden", "Todos componentes conectados"}},
    {RASCS_Authenticate, {"Start authenticating", "Starte Erkennung", "Iniciando autentica\347ao"}},
    {RASCS_AuthNotify, {"Authentication: notify", "Anfrage erkannt", "Autentica\347ao: enviando"}},
    {RASCS_AuthRetry,
     {"Authentication: retry", "Wiederhole Erkennung", "Autentica\347ao: Reenviando"}},
    {RASCS_AuthCallback,
     {"Authentication: callback", "Beglaubigungsr\374ckruf", "Autentica\347ao: Esperando"}},
    {RASCS_AuthChangePassword,
     {"Authentication: change password", "Erkennung: \344ndere Passwort",
      "Autentica\347ao: Senha incorreta"}},
    {RASCS_AuthProject,
     {"Authentication: projecting", "Erkennung: Projektierung", "Autentica\347ao: enviando"}},
    {RASCS_AuthLinkSpeed,
     {"Authentication: link speed", "Erkennung: Linkgeschwindigkeit",
      "Autentica\347ao: Velocidade da linha"}},
    {RASCS_AuthAck,
     {"Authentication: acknowledge", "Erkennung: erkannt", "Autentica\347ao: enviando"}},
    {RASCS_ReAuthenticate,
     {"Authentication: reauthenticate", "Erkennung: R\374ck-Authentikation",
      "Autentica\347ao: Re-Autenticando"}},
    {RASCS_Authenticated, {"Authenticated", "Anfrage anerkannt", "Autenticado"}},
    {RASCS_PrepareForCallback,
     {"Preparing for callback", "R\374ckrufvorbereitung", "Preparando para callback"}},
    {RASCS_WaitForModemReset,
     {"Waiting for modem reset", "Warte auf Modem Reset", "Esperando Reset do modem"}},
    {RASCS_WaitForCallback, {"Waiting for callback", "Warte auf R\374ckruf", "Esperando callback"}},
    {RASCS_Projected, {"Projected", "Projektiert", "Enviando"}},
    {RASCS_StartAuthentication,
     {"Start authentication", "Starte Erkennung", "Autentica\347ao iniciada"}},
    {RASCS_CallbackComplete, {"Callback complete", "R\374ckruf komplett", "Callback completo"}},
    {RASCS_LogonNetwork, {"Logging on network", "Loggon in Netzwerk", "Logando na rede"}},
    {RASCS_Interactive, {"Interactive", "Interaktiv", "Modo Interativo"}},
    {RASCS_RetryAuthentication, {"Retry Authentication", "Wiederhole Erkennung", "Re-autenticar"}},
    {RASCS_CallbackSetByCaller,
     {"Callback set by caller", "R\374ckfrage durch Aufrufer", "Callback foi conf. pelo destino"}},
    {RASCS_PasswordExpired, {"Password expired", "Passwort erwartet", "Senha inv\341lida"}},
    {RASCS_Connected, {"Connected", "Verbunden", "Conectado"}},
    {RASCS_Disconnected, {"Disconnected", "Verbindung getrennt", "Desconectado"}},
};

TRasConnStatusA EmptyStatus() {
    TRasConnStatusA status;
    std::memset(&status, 0, sizeof(status));
    status.dwSize = sizeof(status);
    return status;
}
} // namespace

TDialUp::TDialUp(TClock& clock) : FClock(clock), FDispatchTimer(std::make_unique<QTimer>()) {
    FDispatchTimer->setInterval(1);
    QObject::connect(FDispatchTimer.get(), &QTimer::timeout, [this] { DispatchAsyncEvent(); });
    // The provider's thread only posts the timer's start; the timer lives on this thread.
    FMailbox = std::make_shared<TDialMailbox>([timer = FDispatchTimer.get()] {
        QMetaObject::invokeMethod(timer, "start", Qt::QueuedConnection);
    });
    ReadAdapters();
}

TDialUp::~TDialUp() {
    // After this no report waits for us and the dispatch timer is never started again.
    AbandonAsyncDialer(FMailbox.get());
    FMailbox->Close();
}

std::string TDialUp::ErrorText(uint32_t error) {
    char text[kErrorTextSize] = {};
    GetRasProc(kRasGetErrorStringA).RasGetErrorStringA(error, text, kErrorTextSize);
    return RasFieldText(text);
}

std::string TDialUp::StateTextIn(int32_t state, int32_t error, TTextColumn column) {
    if (error != 0) return ErrorText(uint32_t(error));
    for (const TStateTexts& t : kStateTexts)
        if (t.State == state) return t.Text[column];
    return {};
}

std::string TDialUp::StateText(int32_t State, int32_t Error) {
    const TTextColumn column = FLanguage == Czech        ? tcGerman
                               : FLanguage == Portuguese ? tcPortuguese
                                                         : tcEnglish;
    return StateTextIn(State, Error, column);
}

bool TDialUp::ReadAdapters() {
    return false;
}

int TDialUp::GetEntries() {
    FEntries.Clear();
    TRasEntryNameA entries[kMaxEntries];
    entries[0].dwSize = sizeof(TRasEntryNameA);
    uint32_t byteCount = sizeof(entries);
    uint32_t count = 0;
    const uint32_t r =
        GetRasProc(kRasEnumEntriesA).RasEnumEntriesA(nullptr, nullptr, entries, &byteCount, &count);
    if (r != 0) return int(r);
    count = std::min<uint32_t>(count, kMaxEntries);
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = RasFieldText(entries[i].szEntryName);
        FEntries.Add(name);
        if (OnEntryGet) OnEntryGet(this, name);
    }
    return 0;
}

int TDialUp::Dial() {
    HangUp();

    TRasDialParamsA params;
    std::memset(&params, 0, sizeof(params));
    params.dwSize = sizeof(params);
    CopyRasField(params.szEntryName, FEntry);

    // No entry chosen (an empty phone book, say): dial nothing. RAS would take an empty
    // name for its default settings and dial whatever they hold.
    int32_t passwordSaved = 0;
    uint32_t r = FEntry.empty() ? ERROR_CANNOT_FIND_PHONEBOOK_ENTRY
                                : GetRasProc(kRasGetEntryDialParamsA)
                                      .RasGetEntryDialParamsA(nullptr, &params, &passwordSaved);
    if (r != 0) {
        if (OnError) OnError(this, int32_t(r), kGetEntryDialParamsFailed);
        return int(r);
    }

    FDialHandle = 0;
    FConnHandle = 0;
    THRasConn handle = 0;
    if (FDialMode == dmSync) {
        if (OnDialing) OnDialing(this);
        r = GetRasProc(kRasDialA).RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle);
        FDialHandle = handle;
        if (r == 0) {
            if (OnConnect) OnConnect(this);
            return 0;
        }
        if (handle != 0) HangUpConnection(handle);
        const std::string text = ErrorText(r);
        if (OnNotConnected) OnNotConnected(this, int32_t(r), text);
        return int(r);
    }

    SetAsyncDialer(FMailbox);
    if (OnDialing) OnDialing(this);
    r = GetRasProc(kRasDialA).RasDialA(nullptr, nullptr, &params, kRasNotifierType1,
                                       RasDialProgress, &handle);
    FDialHandle = handle;
    if (r != 0) {
        const std::string text = ErrorText(r);
        if (OnError) OnError(this, int32_t(r), text);
        // RAS keeps a failed connection's resources until it is hung up.
        if (FDialHandle != 0 && FDialHandle == handle) HangUpConnection(handle);
        return int(r);
    }
    FConnHandle = FDialHandle;
    return 0;
}

void TDialUp::DispatchAsyncEvent() {
    FDispatchTimer->stop();
    TDialReport report;
    if (!FMailbox->Peek(report)) return;
    // A report of a connection hung up since (an earlier dial) is dropped.
    const bool current = report.Handle != 0 && report.Handle == FDialHandle;
    try {
        if (current && OnAsyncEvent) {
            const std::string text = StateText(report.State, int32_t(report.Error));
            OnAsyncEvent(this, report.State, int32_t(report.Error), text);
        }
    } catch (...) {
        FMailbox->Free();
        throw;
    }
    FMailbox->Free();
    // A failed dial still holds its connection; give it back, unless the handler has
    // already hung up or dialled again.
    if (current && report.Error != 0 && FDialHandle == report.Handle) HangUp();
}

int TDialUp::HangUp() {
    return HangUpConnection(FDialHandle);
}

int TDialUp::HangUpConnection(THRasConn Handle) {
    const uint32_t r = GetRasProc(kRasHangUpA).RasHangUpA(Handle);
    if (r != 0) return int(r);
    FDialHandle = 0;
    FConnHandle = 0;
    if (OnNotConnected) OnNotConnected(this, 0, std::string());
    // Wait (briefly) until RAS has let go of the connection.
    for (int i = 0; i < kHangUpPolls; ++i) {
        FClock.Pause(kHangUpPollMs);
        TRasConnStatusA status = EmptyStatus();
        if (GetRasProc(kRasGetConnectStatusA).RasGetConnectStatusA(Handle, &status) ==
            ERROR_INVALID_HANDLE)
            break;
    }
    return 0;
}

int TDialUp::GetConnections() {
    TRasConnA connections[kMaxConnections];
    connections[0].dwSize = sizeof(TRasConnA);
    uint32_t byteCount = sizeof(connections);
    uint32_t count = 0;
    const uint32_t r =
        GetRasProc(kRasEnumConnectionsA).RasEnumConnectionsA(connections, &byteCount, &count);
    if (r != 0) return 0;
    count = std::min<uint32_t>(count, kMaxConnections);

    // One status record for all: a failed query leaves the previous connection's values.
    TRasConnStatusA status = EmptyStatus();
    for (uint32_t i = 0; i < count; ++i) {
        const TRasConnA& c = connections[i];
        if (GetRasProc(kRasGetConnectStatusA).RasGetConnectStatusA(c.hrasconn, &status) == 0)
            FConnHandle = c.hrasconn;
        const std::string text = StateText(status.rasconnstate, int32_t(status.dwError));
        if (OnActiveConnection)
            OnActiveConnection(this, c.hrasconn, status, text, RasFieldText(c.szEntryName),
                               RasFieldText(c.szDeviceType), RasFieldText(c.szDeviceName));
    }
    return int(count);
}

bool TDialUp::GetActiveConnection() {
    if (FDialHandle != 0) return false;

    TRasConnA connections[kMaxActiveSearch];
    connections[0].dwSize = sizeof(TRasConnA);
    uint32_t byteCount = sizeof(connections);
    uint32_t count = 0;
    uint32_t r =
        GetRasProc(kRasEnumConnections).RasEnumConnectionsA(connections, &byteCount, &count);
    if (r != 0) throw Exception(IntToStr(r));
    count = std::min<uint32_t>(count, kMaxActiveSearch);

    const TRasConnA* found = nullptr;
    // The wide record: an IPv6 address shows whole.
    TRasPppIpWideA ip;
    for (uint32_t i = 0; i < count && !found; ++i) {
        std::memset(&ip, 0, sizeof(ip));
        ip.dwSize = sizeof(ip);
        uint32_t ipSize = sizeof(ip);
        r = GetRasProc(kRasGetProjectionInfo)
                .RasGetProjectionInfoA(connections[i].hrasconn, RASP_PppIp, &ip, &ipSize);
        if (r != 0) throw Exception(IntToStr(r));
        if (ip.szIpAddress[0] != 0) found = &connections[i];
    }
    if (!found) return false;

    FConnHandle = found->hrasconn;
    TRasConnStatusA status = EmptyStatus();
    GetRasProc(kRasGetConnectStatusA).RasGetConnectStatusA(found->hrasconn, &status);
    const std::string text = StateTextIn(status.rasconnstate, int32_t(status.dwError),
                                         FLanguage == Czech ? tcGerman : tcEnglish) +
                             RasFieldText(ip.szIpAddress) + kIpSeparator +
                             RasFieldText(ip.szServerIpAddress);
    if (OnActiveConnection)
        OnActiveConnection(this, found->hrasconn, status, text, RasFieldText(found->szEntryName),
                           RasFieldText(found->szDeviceType), RasFieldText(found->szDeviceName));
    return true;
}
