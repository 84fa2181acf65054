// Binding to RAS by name, the choice of provider, the RAS record rules and the simulator's
// script.
#include "DialTestSupport.h"

#include "base/Exceptions.h"
#include "dialup/DialUp.h"
#include "dialup/RasBinding.h"
#include "dialup/RasConfig.h"
#include "dialup/RasEmpty.h"
#include "dialup/RasErrors.h"
#include "dialup/RasSimulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {
// A library that exports exactly the given names.
class TExportsOnly : public TRasEmpty {
public:
    explicit TExportsOnly(std::set<std::string, std::less<>> names) : FNames(std::move(names)) {}
    bool Exports(std::string_view name) const override { return FNames.count(name) != 0; }

private:
    std::set<std::string, std::less<>> FNames;
};

// Loads "rasapi32.dll" and "rnaph.dll" from the given libraries (nullptr: missing).
class TTwoLibraries {
public:
    TTwoLibraries(std::shared_ptr<TRasLibrary> ras, std::shared_ptr<TRasLibrary> fallback) {
        SetRasLoader([=](const std::string& f) -> std::shared_ptr<TRasLibrary> {
            if (f == "rasapi32.dll") return ras;
            if (f == "rnaph.dll") return fallback;
            return nullptr;
        });
    }
    ~TTwoLibraries() { SetRasLoader(nullptr); }
};

std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message;
    }
    return "(nothing raised)";
}
} // namespace

TEST(RasBinding, WithoutRasEveryOperationRaisesTheOpeningError) {
    TRasInstall none(nullptr);
    TDialUp dialUp;
    dialUp.SetEntry("Office");
    EXPECT_EQ(Raised([&] { dialUp.GetEntries(); }), "Error opening rasapi.dll");
    EXPECT_EQ(Raised([&] { dialUp.GetConnections(); }), "Error opening rasapi.dll");
    EXPECT_EQ(Raised([&] { dialUp.GetActiveConnection(); }), "Error opening rasapi.dll");
    EXPECT_EQ(Raised([&] { dialUp.Dial(); }), "Error opening rasapi.dll");
    EXPECT_EQ(Raised([&] { dialUp.HangUp(); }), "Error opening rasapi.dll");
    EXPECT_FALSE(RasLoaded());
}

TEST(RasBinding, LookUpRulesAndFallBack) {
    {
        // The primary library answers "X" with "XA", and also a name that already ends in A.
        auto ras = std::make_shared<TRasEmpty>();
        TTwoLibraries libs(ras, nullptr);
        EXPECT_EQ(&GetRasProc("RasEnumConnections"), ras.get());
        EXPECT_EQ(&GetRasProc("RasDialA"), ras.get());
        EXPECT_EQ(&GetRasProc("RasGetProjectionInfo"), ras.get());
        EXPECT_EQ(Raised([] { GetRasProc("RasGetCountryInfo"); }),
                  "Function RasGetCountryInfo not found!");
    }
    {
        // Missing in the primary, no fall-back library.
        TTwoLibraries libs(std::make_shared<TExportsOnly>(std::set<std::string, std::less<>>{}),
                           nullptr);
        EXPECT_EQ(Raised([] { GetRasProc("RasDialA"); }), "Error opening rnaph.dll");
        EXPECT_FALSE(RasLoaded());
    }
    {
        // The fall-back library takes over for good: names are then looked up unchanged.
        auto ras = std::make_shared<TExportsOnly>(std::set<std::string, std::less<>>{"RasHangUpA"});
        auto rnaph = std::make_shared<TExportsOnly>(
            std::set<std::string, std::less<>>{"RasEnumConnections", "RasDial"});
        TTwoLibraries libs(ras, rnaph);
        EXPECT_EQ(&GetRasProc("RasEnumConnections"), rnaph.get());
        EXPECT_EQ(&GetRasProc("RasDial"), rnaph.get());
        EXPECT_EQ(Raised([] { GetRasProc("RasHangUpA"); }), "Function RasHangUpA not found!");
        EXPECT_EQ(Raised([] { GetRasProc("RasEnumConnectionsA"); }),
                  "Function RasEnumConnectionsA not found!");
    }
}

TEST(RasBinding, ConfiguredProvider) {
    QDBusConnection noBus(QStringLiteral("pv-no-such-bus"));
    EXPECT_EQ(CreateConfiguredRas("none", noBus), nullptr);
    EXPECT_EQ(CreateConfiguredRas("sim:/nonexistent/script.ini", noBus), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<TRasEmpty>(CreateConfiguredRas("", noBus)), nullptr);

    const std::string script = PV_TEST_DATA_DIR "/dialup/demo-phonebook.ini";
    EXPECT_NE(std::dynamic_pointer_cast<TRasSimulator>(CreateConfiguredRas("sim:" + script, noBus)),
              nullptr);

    // The program's loader reads POSTVIGIL_RAS at the first look-up.
    setenv(kRasEnvironment, ("sim:" + script).c_str(), 1);
    SetRasLoader(ConfiguredRasLoader());
    TDialUp dialUp;
    EXPECT_EQ(dialUp.GetEntries(), 0);
    EXPECT_EQ(dialUp.Entries(), (TStringList{"Office VPN", "Mobile", "Home ISDN", "Provider"}));
    EXPECT_TRUE(dialUp.GetActiveConnection());

    setenv(kRasEnvironment, "none", 1);
    SetRasLoader(ConfiguredRasLoader());
    EXPECT_EQ(Raised([&] { dialUp.GetEntries(); }), "Error opening rasapi.dll");
    // Decided once: the next look-up does not try again.
    EXPECT_EQ(Raised([&] { dialUp.GetConnections(); }), "Error opening rasapi.dll");
    unsetenv(kRasEnvironment);
    // Without an installed loader nothing is loaded, whatever the system has.
    SetRasLoader(nullptr);
    EXPECT_EQ(Raised([&] { dialUp.GetEntries(); }), "Error opening rasapi.dll");
}

TEST(RasRecords, SizesAndBuffersFollowTheRasRules) {
    TRasSimulator sim(Script("[A]\nOnline=1\n"));
    TRasEntryNameA entries[2] = {};
    uint32_t bytes = sizeof(entries), count = 0;
    entries[0].dwSize = 100; // not the record's size
    EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, entries, &bytes, &count), ERROR_INVALID_SIZE);
    entries[0].dwSize = sizeof(TRasEntryNameA);
    bytes = 10; // room for less than one record
    EXPECT_EQ(sim.RasEnumEntriesA(nullptr, nullptr, entries, &bytes, &count), ERROR_INVALID_SIZE);

    TRasConnStatusA status = {};
    status.dwSize = 158;
    EXPECT_EQ(sim.RasGetConnectStatusA(1, &status), ERROR_INVALID_SIZE);

    TRasPppIpA ip = {};
    ip.dwSize = sizeof(ip);
    uint32_t ipSize = sizeof(ip);
    EXPECT_EQ(sim.RasGetProjectionInfoA(1, 0x8023, &ip, &ipSize), ERROR_INVALID_PARAMETER);
    ipSize = 24; // the size before the server address was added
    EXPECT_EQ(sim.RasGetProjectionInfoA(1, RASP_PppIp, &ip, &ipSize), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ipSize, sizeof(TRasPppIpA));

    char text[8];
    EXPECT_EQ(sim.RasGetErrorStringA(ERROR_LINE_BUSY, text, sizeof(text)), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(sim.RasHangUpA(0), ERROR_INVALID_HANDLE);
}

TEST(RasRecords, EveryErrorTextFitsTheComponentsBuffer) {
    for (uint32_t error = 0; error < 1000; ++error) {
        const std::string text = RasErrorText(error);
        EXPECT_FALSE(text.empty());
        EXPECT_LT(text.size(), 100u) << error;
    }
    EXPECT_EQ(RasErrorText(ERROR_AUTHENTICATION_FAILURE),
              "Access denied: user name or password not accepted.");
    EXPECT_EQ(RasErrorText(4711), "Dial-up error 4711");
}

TEST(RasSimScript, ReadsEntriesAndNamesTheLineOfAFault) {
    const TRasSimScript s = Script("; phone book\n"
                                   "[Office VPN]\n"
                                   "  User = alice \n"
                                   "Password=secret\nPhone=555-0100\nDomain=OFFICE\n"
                                   "DeviceType=vpn\nDeviceName=tun0\n"
                                   "ClientIP=10.8.0.2\nServerIP=10.8.0.1\n"
                                   "Steps=0@200  5@300 8192\n"
                                   "Error=691\nDialError=633\nDropAfter=5000\nOnline=1\n"
                                   "[Home]\n");
    ASSERT_EQ(s.Entries.size(), 2u);
    const TRasSimEntry& e = s.Entries[0];
    EXPECT_EQ(e.Name, "Office VPN");
    EXPECT_EQ(e.UserName, "alice");
    EXPECT_EQ(e.Password, "secret");
    EXPECT_EQ(e.PhoneNumber, "555-0100");
    EXPECT_EQ(e.Domain, "OFFICE");
    EXPECT_EQ(e.DeviceType, "vpn");
    EXPECT_EQ(e.DeviceName, "tun0");
    EXPECT_EQ(e.ClientIP, "10.8.0.2");
    EXPECT_EQ(e.ServerIP, "10.8.0.1");
    ASSERT_EQ(e.Steps.size(), 3u);
    EXPECT_EQ(e.Steps[1].State, 5);
    EXPECT_EQ(e.Steps[1].DelayMs, 300);
    EXPECT_EQ(e.Steps[2].State, RASCS_Connected);
    EXPECT_EQ(e.Steps[2].DelayMs, 0);
    EXPECT_EQ(e.Error, 691u);
    EXPECT_EQ(e.DialError, 633u);
    EXPECT_EQ(e.DropAfterMs, 5000);
    EXPECT_TRUE(e.Online);
    // An entry without keys connects through the usual steps.
    EXPECT_EQ(s.Entries[1].Steps.back().State, RASCS_Connected);
    EXPECT_FALSE(s.Entries[1].Online);

    auto fault = [](const std::string& text) {
        try {
            Script(text);
        } catch (const EConvertError& e) {
            return e.Message;
        }
        return std::string("(accepted)");
    };
    EXPECT_EQ(fault("[A]\nColour=blue\n"), "RAS simulator script, line 2: unknown key \"Colour\"");
    EXPECT_EQ(fault("User=x\n"), "RAS simulator script, line 1: a key before the first [entry]");
    EXPECT_EQ(fault("[A]\n[a]\n"), "RAS simulator script, line 2: entry \"a\" twice");
    EXPECT_EQ(fault("[A]\nSteps=0@-5\n"), "RAS simulator script, line 2: negative delay");
    EXPECT_NE(fault("[A]\nError=many\n").find("line 2"), std::string::npos);
    EXPECT_EQ(fault("[A\n"), "RAS simulator script, line 1: bad section header");
}
