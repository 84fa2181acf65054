// TDialUp against the simulator: phone book, dialling both ways, hanging up, the
// connection reports and the state texts.
#include "DialTestSupport.h"

#include "base/Exceptions.h"
#include "dialup/DialUp.h"
#include "dialup/RasSimulator.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QThread>

#include <gtest/gtest.h>

namespace {
using Lines = std::vector<std::string>;

const std::string kDenied = "Access denied: user name or password not accepted.";

// A component and a simulator playing script, installed as RAS for the test.
struct TSimDial {
    explicit TSimDial(const std::string& script, TClock& clock = Clock())
        : Sim(std::make_shared<TRasSimulator>(Script(script), clock)), Install(Sim), Dialer(clock),
          Events(Dialer) {}

    bool WaitForEvent(const std::string& prefix) { return Events.WaitForLast(prefix); }
    bool LinkExists(THRasConn handle) {
        TRasConnStatusA status = {};
        status.dwSize = sizeof(status);
        return Sim->RasGetConnectStatusA(handle, &status) == 0;
    }

    std::shared_ptr<TRasSimulator> Sim;
    TRasInstall Install;
    TDialUp Dialer;
    TDialRecorder Events;
};

std::string Utf8(const std::string& ansi) {
    QStringDecoder decode("windows-1252");
    return QString(decode(QByteArray::fromStdString(ansi))).toStdString();
}

std::string Ansi(const char* utf8) {
    QStringEncoder encode("windows-1252");
    return QByteArray(encode(QString::fromUtf8(utf8))).toStdString();
}
} // namespace

TEST(DialUp, StateTextsInThreeLanguages) {
    TSimDial t("[A]\n");
    TDialUp& d = t.Dialer;
    EXPECT_EQ(d.StateText(RASCS_Connected, 0), "Connected");
    EXPECT_EQ(d.StateText(9999, 0), "") << "a state outside the table has no text";
    EXPECT_EQ(d.StateText(RASCS_Connected, 691), kDenied) << "an error gives the RAS text";

    // The non-ASCII texts must be Windows-1252 bytes, exactly these letters.
    d.SetLanguage(Czech);
    const std::pair<int32_t, const char*> german[] = {
        {RASCS_OpenPort, "Öffne Port"},
        {RASCS_PortOpened, "Port geöffnet"},
        {RASCS_ConnectDevice, "Verbinde Gerät"},
        {RASCS_AllDevicesConnected, "Alle Geräte verbunden"},
        {RASCS_AuthCallback, "Beglaubigungsrückruf"},
        {RASCS_AuthChangePassword, "Erkennung: ändere Passwort"},
        {RASCS_ReAuthenticate, "Erkennung: Rück-Authentikation"},
        {RASCS_PrepareForCallback, "Rückrufvorbereitung"},
        {RASCS_WaitForCallback, "Warte auf Rückruf"},
        {RASCS_CallbackComplete, "Rückruf komplett"},
        {RASCS_CallbackSetByCaller, "Rückfrage durch Aufrufer"},
        {RASCS_Disconnected, "Verbindung getrennt"}};
    for (const auto& [state, text] : german) EXPECT_EQ(Utf8(d.StateText(state, 0)), text);

    d.SetLanguage(Portuguese);
    const std::pair<int32_t, const char*> portuguese[] = {
        {RASCS_Authenticate, "Iniciando autenticaçao"},
        {RASCS_AuthNotify, "Autenticaçao: enviando"},
        {RASCS_AuthLinkSpeed, "Autenticaçao: Velocidade da linha"},
        {RASCS_StartAuthentication, "Autenticaçao iniciada"},
        {RASCS_PasswordExpired, "Senha inválida"},
        {RASCS_Connected, "Conectado"}};
    for (const auto& [state, text] : portuguese) EXPECT_EQ(Utf8(d.StateText(state, 0)), text);
    EXPECT_EQ(d.StateText(RASCS_DeviceConnected, 0), "Componente conenctado");
}

TEST(DialUp, PhoneBookInOrderAndTooManyEntries) {
    {
        TSimDial t("[Office]\n[Home]\n[" + Ansi("Büro") + "]\n");
        EXPECT_EQ(t.Dialer.GetEntries(), 0);
        EXPECT_EQ(t.Dialer.Entries(), (TStringList{"Office", "Home", Ansi("Büro")}));
        EXPECT_EQ(t.Events.Lines, (Lines{"Entry Office", "Entry Home", "Entry " + Ansi("Büro")}));
    }
    std::string big;
    for (int i = 0; i < 101; ++i) big += "[E" + std::to_string(i) + "]\nOnline=1\n";
    TSimDial t(big);
    EXPECT_EQ(t.Dialer.GetEntries(), int(ERROR_BUFFER_TOO_SMALL));
    EXPECT_TRUE(t.Dialer.Entries().Empty());
    EXPECT_EQ(t.Dialer.GetConnections(), 0);
    EXPECT_TRUE(t.Events.Lines.empty());
}

TEST(DialUp, AsyncDialReportsEachStepOnTheGuiThreadThenHangsUp) {
    TSimDial t("[Office]\nDeviceType=isdn\nDeviceName=ISDN line 1\n"
               "Steps=0@0 2@0 5@0 14@0 8192@0\n");
    TDialUp& d = t.Dialer;
    d.SetLanguage(Portuguese);
    d.SetEntry("Office");
    std::vector<bool> onGuiThread;
    auto record = d.OnAsyncEvent;
    d.OnAsyncEvent = [&](TDialUp* s, int32_t state, int32_t error, const std::string& text) {
        onGuiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
        record(s, state, error, text);
    };

    ASSERT_EQ(d.Dial(), 0);
    EXPECT_NE(d.DialHandle(), 0);
    EXPECT_EQ(d.ConnectionHandle(), d.DialHandle());
    ASSERT_TRUE(t.WaitForEvent("Async 8192"));
    EXPECT_EQ(t.Events.Lines,
              (Lines{"Dialing", "Async 0 0 Abrindo a porta", "Async 2 0 Conectando componente",
                     "Async 5 0 Iniciando autentica\347ao", "Async 14 0 Autenticado",
                     "Async 8192 0 Conectado"}));
    EXPECT_EQ(onGuiThread, std::vector<bool>(5, true));

    t.Events.Lines.clear();
    EXPECT_EQ(d.GetConnections(), 1);
    EXPECT_EQ(t.Events.Lines, (Lines{"Active Office | isdn | ISDN line 1 | 8192 | Conectado"}));

    const THRasConn handle = d.DialHandle();
    t.Events.Lines.clear();
    EXPECT_EQ(d.HangUp(), 0);
    EXPECT_EQ(t.Events.Lines, (Lines{"NotConnected 0 "}));
    EXPECT_EQ(d.DialHandle(), 0);
    EXPECT_FALSE(t.LinkExists(handle));
    EXPECT_EQ(d.GetConnections(), 0);
}

TEST(DialUp, HangUpWithoutADialIsRefusedSilently) {
    TSimDial t("[Office]\nOnline=1\n");
    EXPECT_EQ(t.Dialer.HangUp(), int(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(t.Events.Lines.empty());
    EXPECT_EQ(t.Dialer.GetConnections(), 1) << "someone else's connection stays up";
}

TEST(DialUp, SecondDialHangsUpTheFirstBeforeDialing) {
    TManualClock clock;
    TSimDial t("[Office]\nSteps=0@0 8192@0\n", clock);
    t.Dialer.SetEntry("Office");
    ASSERT_EQ(t.Dialer.Dial(), 0);
    ASSERT_TRUE(t.WaitForEvent("Async 8192"));
    const THRasConn first = t.Dialer.DialHandle();

    t.Events.Lines.clear();
    ASSERT_EQ(t.Dialer.Dial(), 0);
    ASSERT_GE(t.Events.Lines.size(), 2u);
    EXPECT_EQ(t.Events.Lines[0], "NotConnected 0 ");
    EXPECT_EQ(t.Events.Lines[1], "Dialing");
    EXPECT_FALSE(t.LinkExists(first));
    EXPECT_EQ(clock.Pauses.size(), 1u) << "one status query after the hang-up finds the link gone";
    ASSERT_TRUE(t.WaitForEvent("Async 8192"));
}

TEST(DialUp, EmptyOrUnknownEntryDialsNothing) {
    TSimDial t("[Office]\n");
    const std::string failed = "Error 623 GetEntryDialParams failed";
    // An empty phone book leaves Entry empty: nothing is dialled.
    EXPECT_EQ(t.Dialer.Dial(), int(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    t.Dialer.SetEntry("Nowhere");
    EXPECT_EQ(t.Dialer.Dial(), int(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    EXPECT_EQ(t.Events.Lines, (Lines{failed, failed}));
    EXPECT_EQ(t.Dialer.DialHandle(), 0);
}

TEST(DialUp, SyncDial) {
    TManualClock clock;
    {
        TSimDial t("[Office]\nSteps=0@100 8192@200\n", clock);
        t.Dialer.SetDialMode(dmSync);
        t.Dialer.SetEntry("office");
        EXPECT_EQ(t.Dialer.Dial(), 0);
        EXPECT_EQ(t.Events.Lines, (Lines{"Dialing", "Connect"}));
        EXPECT_NE(t.Dialer.DialHandle(), 0);
        EXPECT_EQ(t.Dialer.ConnectionHandle(), 0);
        EXPECT_EQ(t.Dialer.GetConnections(), 1);
    }
    {
        // A failure after RAS gave a handle: the handle is hung up first, then the error.
        TSimDial t("[Office]\nSteps=0@0 5@0\nError=691\n", clock);
        t.Dialer.SetDialMode(dmSync);
        t.Dialer.SetEntry("Office");
        EXPECT_EQ(t.Dialer.Dial(), 691);
        EXPECT_EQ(t.Events.Lines,
                  (Lines{"Dialing", "NotConnected 0 ", "NotConnected 691 " + kDenied}));
        EXPECT_EQ(t.Dialer.DialHandle(), 0);
        EXPECT_EQ(t.Dialer.GetConnections(), 0);
    }
}

TEST(DialUp, FailedAsyncDialGivesItsConnectionBack) {
    {
        // The error arrives as a progress report; the component then hangs up.
        TSimDial t("[Office]\nSteps=0@0 5@0\nError=691\n");
        t.Dialer.SetEntry("Office");
        ASSERT_EQ(t.Dialer.Dial(), 0);
        const THRasConn handle = t.Dialer.DialHandle();
        ASSERT_TRUE(t.WaitForEvent("NotConnected"));
        EXPECT_EQ(t.Events.Lines, (Lines{"Dialing", "Async 0 0 Opening port",
                                         "Async 5 691 " + kDenied, "NotConnected 0 "}));
        EXPECT_FALSE(t.LinkExists(handle));
        EXPECT_EQ(t.Dialer.DialHandle(), 0);
    }
    {
        // The dial fails at once.
        TSimDial t("[Office]\nDialError=633\n");
        t.Dialer.SetEntry("Office");
        EXPECT_EQ(t.Dialer.Dial(), 633);
        EXPECT_EQ(t.Events.Lines,
                  (Lines{"Dialing", "Error 633 The port is in use or not configured for dialling.",
                         "NotConnected 0 "}));
        EXPECT_EQ(t.Sim->PendingReports(), 0);
        EXPECT_EQ(t.Dialer.DialHandle(), 0);
    }
}

TEST(DialUp, LinkDroppedByTheOtherSideIsReported) {
    TManualClock clock;
    TSimDial t("[Office]\nSteps=0@0 8192@0\nDropAfter=60000\n", clock);
    t.Dialer.SetEntry("Office");
    ASSERT_EQ(t.Dialer.Dial(), 0);
    ASSERT_TRUE(t.WaitForEvent("Async 8192"));
    clock.Advance(60000);
    ASSERT_TRUE(t.WaitForEvent("NotConnected"));
    EXPECT_EQ(t.Events.Count("Async 8193 629 The connection was closed by the remote end."), 1);
    EXPECT_EQ(t.Dialer.GetConnections(), 0);
}

// An IPv6 link's addresses show whole in the status text; the first, narrow record still gets
// what fits.
TEST(DialUp, Ipv6AddressesShowWhole) {
    const std::string client = "2001:db8:1234:5678:9abc:def0:1234:5678";
    TSimDial t("[Tunnel]\nOnline=1\nDeviceType=vpn\nDeviceName=tun0\nClientIP=" + client +
               "\nServerIP=fe80::1\n");
    EXPECT_TRUE(t.Dialer.GetActiveConnection());
    EXPECT_EQ(t.Events.Lines,
              (Lines{"Active Tunnel | vpn | tun0 | 8192 | Connected" + client + " \367 fe80::1"}));

    TRasPppIpA narrow = {};
    narrow.dwSize = sizeof(narrow);
    uint32_t size = sizeof(narrow);
    ASSERT_EQ(t.Sim->RasGetProjectionInfoA(t.Dialer.ConnectionHandle(), RASP_PppIp, &narrow, &size),
              0u);
    EXPECT_EQ(RasFieldText(narrow.szIpAddress), client.substr(0, RAS_MaxIpAddress));
}

TEST(DialUp, ActiveConnectionIsTheFirstWithAnIpAddress) {
    const std::string book = "[NoIp]\nOnline=1\nClientIP=\n"
                             "[Second]\nOnline=1\nDeviceType=vpn\nDeviceName=tun0\n"
                             "ClientIP=10.8.0.2\nServerIP=10.8.0.1\n"
                             "[Third]\nOnline=1\nClientIP=10.9.0.2\n"
                             "[Mine]\nSteps=8192@0\n";
    TSimDial t(book);
    t.Dialer.SetLanguage(Portuguese); // this search always speaks English or German
    EXPECT_TRUE(t.Dialer.GetActiveConnection());
    EXPECT_EQ(t.Events.Lines,
              (Lines{"Active Second | vpn | tun0 | 8192 | Connected10.8.0.2 \367 10.8.0.1"}));
    EXPECT_EQ(t.Dialer.ConnectionHandle(), 2);

    t.Events.Lines.clear();
    t.Dialer.SetLanguage(Czech);
    EXPECT_TRUE(t.Dialer.GetActiveConnection());
    EXPECT_EQ(t.Events.Lines,
              (Lines{"Active Second | vpn | tun0 | 8192 | Verbunden10.8.0.2 \367 10.8.0.1"}));

    // While the component holds a dial of its own it does not look.
    t.Events.Lines.clear();
    t.Dialer.SetEntry("Mine");
    ASSERT_EQ(t.Dialer.Dial(), 0);
    t.Events.Lines.clear();
    EXPECT_FALSE(t.Dialer.GetActiveConnection());
    EXPECT_TRUE(t.Events.Lines.empty());
    ASSERT_TRUE(t.WaitForEvent("Async 8192"));

    TSimDial none("[Offline]\nClientIP=10.0.0.1\n[NoIp]\nOnline=1\nClientIP=\n");
    EXPECT_FALSE(none.Dialer.GetActiveConnection());
    EXPECT_TRUE(none.Events.Lines.empty());
}

TEST(DialUp, GetConnectionsReportsEveryOpenLink) {
    TSimDial t("[A]\nOnline=1\n[B]\n[C]\nOnline=1\nDeviceType=vpn\n");
    EXPECT_EQ(t.Dialer.GetConnections(), 2);
    EXPECT_EQ(t.Events.Lines, (Lines{"Active A | modem | Simulated modem | 8192 | Connected",
                                     "Active C | vpn | Simulated modem | 8192 | Connected"}));
    EXPECT_EQ(t.Dialer.ConnectionHandle(), 2);
}
