// The NetworkManager provider against python3-dbusmock's NetworkManager stand-in on a
// private bus.
#include "DialTestSupport.h"
#include "NmMock.h"

#include "dialup/DialUp.h"
#include "dialup/NmState.h"
#include "dialup/OnLine.h"
#include "dialup/RasConfig.h"
#include "dialup/RasEmpty.h"
#include "dialup/RasNetworkManager.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
using Lines = std::vector<std::string>;
// Routing tables without a route: the machine's own must not decide a test.
const char kNoRoutes[] = "/dev/null";

class NetworkManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Mock.Problem().isEmpty()) << Mock.Problem().toStdString();
        Mock.AddDevice(QStringLiteral("eth0"));
        Vpn = Mock.AddProfile(QStringLiteral("Work VPN"), QStringLiteral("vpn"),
                              {{QStringLiteral("user-name"), QStringLiteral("alice")}});
        Mobile = Mock.AddProfile(QStringLiteral("mobile"), QStringLiteral("gsm"),
                                 {{QStringLiteral("username"), QStringLiteral("web")},
                                  {QStringLiteral("number"), QStringLiteral("*99#")}});
        Wifi = Mock.AddProfile(QStringLiteral("Home wifi"), QStringLiteral("802-11-wireless"));
        Nm = TRasNetworkManager::Create(Mock.Bus(), Clock, kNoRoutes, kNoRoutes);
        ASSERT_NE(Nm, nullptr);
        ASSERT_TRUE(WaitFor([&] { return Nm->Loaded(); }));
        Install = std::make_unique<TRasInstall>(Nm);
    }
    void TearDown() override {
        Install.reset();
        Nm.reset();
    }

    bool WaitForEvent(const std::string& prefix) { return Events.WaitForLast(prefix); }
    // Dials entry asynchronously and waits for the report that starts with prefix.
    bool DialAndWaitFor(const std::string& entry, const std::string& prefix) {
        Dialer.SetEntry(entry);
        return Dialer.Dial() == 0 && WaitForEvent(prefix);
    }
    int OpenConnections() {
        TDialUp probe;
        return probe.GetConnections();
    }

    TNmMock Mock;
    TManualClock Clock;
    QString Vpn, Mobile, Wifi;
    std::shared_ptr<TRasNetworkManager> Nm;
    std::unique_ptr<TRasInstall> Install;
    TDialUp Dialer{Clock};
    TDialRecorder Events{Dialer};
};

const std::string kOpening = "Async 0 0 Opening port";
const std::string kAuthenticating = "Async 5 0 Start authenticating";
const std::string kConnected = "Async 8192 0 Connected";
} // namespace

TEST_F(NetworkManager, PhoneBookIsTheOnDemandProfilesInNameOrder) {
    TDialUp dialUp;
    EXPECT_EQ(dialUp.GetEntries(), 0);
    EXPECT_EQ(dialUp.Entries(), (TStringList{"mobile", "Work VPN"}));

    TRasDialParamsA params = {};
    params.dwSize = sizeof(params);
    std::strcpy(params.szEntryName, "mobile");
    int32_t saved = 1;
    ASSERT_EQ(Nm->RasGetEntryDialParamsA(nullptr, &params, &saved), 0u);
    EXPECT_STREQ(params.szUserName, "web");
    EXPECT_STREQ(params.szPhoneNumber, "*99#");
    EXPECT_STREQ(params.szPassword, "");
    EXPECT_EQ(saved, 0);
    std::strcpy(params.szEntryName, "Home wifi");
    EXPECT_EQ(Nm->RasGetEntryDialParamsA(nullptr, &params, &saved),
              ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);

    // Profiles added and removed later show in the next listing.
    Mock.AddProfile(QStringLiteral("Backup line"), QStringLiteral("pppoe"));
    Mock.DeleteProfile(Mobile);
    ASSERT_TRUE(WaitFor([&] {
        dialUp.GetEntries();
        return dialUp.Entries().Count() == 2 && dialUp.Entries()[0] == "Backup line";
    }));
    EXPECT_EQ(dialUp.Entries(), (TStringList{"Backup line", "Work VPN"}));
}

TEST_F(NetworkManager, DialConnectsEnumeratesAndHangsUp) {
    ASSERT_TRUE(DialAndWaitFor("Work VPN", "Async 8192"));
    EXPECT_EQ(Events.Lines, (Lines{"Dialing", kOpening, kConnected}));
    ASSERT_EQ(Mock.ActiveConnections().size(), 1);

    Events.Lines.clear();
    EXPECT_EQ(Dialer.GetConnections(), 1);
    EXPECT_EQ(Events.Lines, (Lines{"Active Work VPN | vpn |  | 8192 | Connected"}));

    Events.Lines.clear();
    EXPECT_EQ(Dialer.HangUp(), 0);
    EXPECT_EQ(Events.Lines, (Lines{"NotConnected 0 "}));
    EXPECT_TRUE(Mock.ActiveConnections().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return OpenConnections() == 0; }));
    EXPECT_EQ(Events.Count("Async"), 0) << "no report after our own hang-up";
}

TEST_F(NetworkManager, ActivationProgressOpeningAuthenticatingConnected) {
    Mock.ScriptActivation(nmActivating);
    ASSERT_TRUE(DialAndWaitFor("mobile", "Async 5"));
    EXPECT_EQ(OpenConnections(), 0) << "a link still being set up is not open yet";

    Mock.SetActiveState(Mock.ActiveConnections().value(0), nmActivated);
    ASSERT_TRUE(WaitForEvent("Async 8192"));
    EXPECT_EQ(Events.Lines, (Lines{"Dialing", kOpening, kAuthenticating, kConnected}));
    EXPECT_EQ(OpenConnections(), 1);
}

TEST_F(NetworkManager, FailedActivationReportsTheReasonAndIsHungUp) {
    Mock.ScriptActivation(nmActivating);
    ASSERT_TRUE(DialAndWaitFor("Work VPN", "Async 5"));
    // The state first, its reason in a second signal: the report waits for the reason.
    const QString active = Mock.ActiveConnections().value(0);
    Mock.SetActiveState(active, nmDeactivated);
    const int loginFailed = 10;
    Mock.SetActiveState(active, nmDeactivated, loginFailed);
    ASSERT_TRUE(WaitForEvent("NotConnected"));
    EXPECT_EQ(Events.Lines, (Lines{"Dialing", kOpening, kAuthenticating,
                                   "Async 5 691 Access denied: user name or password not accepted.",
                                   "NotConnected 0 "}));
    EXPECT_EQ(Dialer.DialHandle(), 0);
}

TEST_F(NetworkManager, LinkDroppedAfterConnectingIsReported) {
    ASSERT_TRUE(DialAndWaitFor("Work VPN", "Async 8192"));
    Mock.Deactivate(Mock.ActiveConnections().value(0)); // someone else takes it down
    ASSERT_TRUE(WaitForEvent("NotConnected"));
    EXPECT_EQ(Events.Count("Async 8193 629"), 1);
}

TEST_F(NetworkManager, SyncDialWaitsForTheLink) {
    Mock.ScriptActivation(nmActivated);
    Dialer.SetDialMode(dmSync);
    Dialer.SetEntry("Work VPN");
    EXPECT_EQ(Dialer.Dial(), 0);
    EXPECT_EQ(Events.Lines, (Lines{"Dialing", "Connect"}));
}

// NetworkManager thinking until the test lets it answer: the dial, its cancellation, another
// provider's load and the look-ups the window makes all return at once; the answers are taken
// in later.
TEST_F(NetworkManager, SlowNetworkManagerNeverStallsTheEventLoop) {
    QTemporaryDir folder;
    const QString release = folder.filePath("answer");
    Mock.HoldActivation(release);
    TStallMeter meter;
    Dialer.SetEntry("Work VPN");
    ASSERT_EQ(Dialer.Dial(), 0);
    std::shared_ptr<TRasNetworkManager> second =
        TRasNetworkManager::Create(Mock.Bus(), Clock, kNoRoutes, kNoRoutes);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->PhoneBookPending());
    EXPECT_EQ(OpenConnections(), 0);
    EXPECT_FALSE(Dialer.GetActiveConnection());
    EXPECT_EQ(Dialer.HangUp(), 0) << "Cancel";
    QFile(release).open(QIODevice::WriteOnly);

    // The activation NetworkManager answers at last is taken down again.
    ASSERT_TRUE(WaitFor([&] {
        return second->Loaded() && Mock.LoggedCalls(QStringLiteral("DeactivateConnection")) == 1;
    }));
    EXPECT_TRUE(Mock.ActiveConnections().isEmpty());
    EXPECT_EQ(Events.Lines, (Lines{"Dialing", "NotConnected 0 "})) << "nothing after Cancel";
    EXPECT_LT(meter.LongestStallMs(), 50);
    std::printf("longest stall of the event loop: %lld ms\n",
                static_cast<long long>(meter.LongestStallMs()));
    std::fflush(stdout);
}

TEST_F(NetworkManager, UnknownProfileIsRefusedAtOnce) {
    Dialer.SetEntry("Home wifi"); // exists, but is not a dial-up entry
    EXPECT_EQ(Dialer.Dial(), int(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    EXPECT_EQ(Events.Lines, (Lines{"Error 623 GetEntryDialParams failed"}));
    EXPECT_TRUE(Mock.ActiveConnections().isEmpty());
}

TEST_F(NetworkManager, ActiveConnectionCarriesClientAndGatewayAddresses) {
    Mock.ScriptActivation(
        nmActivated, Mock.AddIp4Config(QStringLiteral("10.8.0.2"), QStringLiteral("10.8.0.1")));
    Mock.Activate(Vpn);
    // The addresses are read after the link is seen: it counts once they are in.
    ASSERT_TRUE(WaitFor([&] { return Dialer.GetActiveConnection(); }));
    EXPECT_EQ(Events.Lines,
              (Lines{"Active Work VPN | vpn |  | 8192 | Connected10.8.0.2 \367 10.8.0.1"}));
    EXPECT_EQ(Dialer.HangUp(), int(ERROR_INVALID_HANDLE)) << "someone else's link stays up";
    EXPECT_EQ(Mock.ActiveConnections().size(), 1);
}

TEST_F(NetworkManager, OnlineDetectorFollowsNetworkManager) {
    TOnLineDetect detector;
    int changes = 0;
    detector.OnChange = [&](TOnLineDetect*) { ++changes; };
    detector.SetInterval(1);

    // Wi-Fi is a network; it is not in the phone book.
    const QString wifi = Mock.Activate(Wifi);
    ASSERT_TRUE(WaitFor([&] { return changes == 1; }));
    EXPECT_EQ(detector.Connections(), TStringList{"Home wifi"});
    const QString vpn = Mock.Activate(Vpn);
    ASSERT_TRUE(WaitFor([&] { return changes == 2; }));
    EXPECT_EQ(detector.Connections(), (TStringList{"Home wifi", "Work VPN"}));

    Mock.Deactivate(vpn);
    Mock.Deactivate(wifi);
    ASSERT_TRUE(WaitFor([&] { return !detector.IsOnline(); }));
}

TEST_F(NetworkManager, ConnectedWifiIsOnlineWithoutAnyDial) {
    Mock.ScriptActivation(nmActivated, Mock.AddIp4Config(QStringLiteral("192.168.1.5"),
                                                         QStringLiteral("192.168.1.1")));
    Mock.Activate(Wifi);
    // Local links without the default route are no way out.
    const QString bridge =
        Mock.Activate(Mock.AddProfile(QStringLiteral("br0"), QStringLiteral("bridge")));
    ASSERT_TRUE(WaitFor([&] { return OpenConnections() == 2; }));
    Mock.SetActiveProperty(bridge, QStringLiteral("Default"), false);
    ASSERT_TRUE(WaitFor([&] { return OpenConnections() == 1; }));
    const int activations = Mock.LoggedCalls(QStringLiteral("ActivateConnection"));

    TOnLineDetect detector;
    detector.Poll();
    EXPECT_TRUE(detector.IsOnline());
    EXPECT_EQ(detector.Connections(), TStringList{"Home wifi"});
    // What the main window takes for someone else's connection at start.
    ASSERT_TRUE(WaitFor([&] { return Dialer.GetActiveConnection(); }));
    EXPECT_EQ(Events.Lines, (Lines{"Active Home wifi | 802-11-wireless |  | 8192 | "
                                   "Connected192.168.1.5 \367 192.168.1.1"}));
    EXPECT_EQ(Dialer.HangUp(), int(ERROR_INVALID_HANDLE)) << "someone else's link stays up";
    EXPECT_EQ(Mock.LoggedCalls(QStringLiteral("ActivateConnection")), activations);
    EXPECT_EQ(Mock.LoggedCalls(QStringLiteral("DeactivateConnection")), 0);
}

TEST_F(NetworkManager, PollingCostsNoBusTraffic) {
    Mock.Activate(Vpn);
    ASSERT_TRUE(WaitFor([&] { return OpenConnections() == 1; }));
    TDialUp dialUp;
    const int before = Mock.LoggedCalls();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(dialUp.GetConnections(), 1);
    EXPECT_EQ(Mock.LoggedCalls(), before);
}

// NetworkManager stopped mid-run: the kernel's default routes tell whether the machine is
// online, until NetworkManager is back.
TEST_F(NetworkManager, WithoutNetworkManagerTheRoutingTableAnswersUntilItIsBack) {
    QTemporaryDir dir;
    QFile table(dir.filePath(QStringLiteral("route")));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n");
    table.close();
    Install.reset();
    Nm = TRasNetworkManager::Create(Mock.Bus(), Clock, table.fileName().toStdString(), kNoRoutes);
    ASSERT_TRUE(WaitFor([&] { return Nm->Loaded(); }));
    Install = std::make_unique<TRasInstall>(Nm);
    auto open = [] {
        TOnLineDetect detector;
        detector.Poll();
        return detector.Connections();
    };

    Mock.Activate(Vpn);
    ASSERT_TRUE(WaitFor([&] { return open() == TStringList{"Work VPN"}; }));
    Mock.StopNetworkManager();
    ASSERT_TRUE(WaitFor([&] { return open() == TStringList{"wlan0"}; }));
    TDialUp dialUp;
    EXPECT_EQ(dialUp.GetEntries(), 0);
    EXPECT_TRUE(dialUp.Entries().Empty());

    ASSERT_TRUE(Mock.StartNetworkManager());
    ASSERT_TRUE(WaitFor([&] { return Nm->Loaded(); }));
    EXPECT_TRUE(open().Empty()) << "NetworkManager's word again: nothing is active";
}

TEST(NetworkManagerChoice, UsedWhenItAnswersElseTheEmptyPhoneBook) {
    {
        TNmMock mock;
        ASSERT_TRUE(mock.Problem().isEmpty()) << mock.Problem().toStdString();
        EXPECT_NE(
            std::dynamic_pointer_cast<TRasNetworkManager>(CreateConfiguredRas("", mock.Bus())),
            nullptr);
        EXPECT_EQ(CreateConfiguredRas("none", mock.Bus()), nullptr);
    }
    TNmMock busOnly(false);
    ASSERT_TRUE(busOnly.Problem().isEmpty()) << busOnly.Problem().toStdString();
    EXPECT_NE(std::dynamic_pointer_cast<TRasEmpty>(CreateConfiguredRas("", busOnly.Bus())),
              nullptr);
}
