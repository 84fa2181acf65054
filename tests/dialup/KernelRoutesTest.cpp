// A machine without a connection manager: online when the kernel has a default route.
#include "DialTestSupport.h"

#include "dialup/DialUp.h"
#include "dialup/KernelRoutes.h"
#include "dialup/OnLine.h"
#include "dialup/RasEmpty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {
namespace fs = std::filesystem;

const char kIpv4Header[] = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
                           "\tWindow\tIRTT\n";

struct KernelRoutes : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/pv-routes-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Table(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
};
} // namespace

TEST_F(KernelRoutes, DefaultRoutesThatAreUpOnePerInterface) {
    const std::string v4 =
        Table("route", std::string(kIpv4Header) +
                           // default via 192.168.1.1 on wlan0
                           "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                           // the local network: not a default route
                           "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
                           // a default route that is down
                           "eth0\t00000000\t0100000A\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"
                           // a second one on the same interface
                           "wlan0\t00000000\t0201A8C0\t0003\t0\t0\t900\t00000000\t0\t0\t0\n"
                           "garbage line\n");
    const std::string v6 =
        Table("ipv6_route",
              // default via fe80::1 on eth1
              "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
              "fe800000000000000000000000000001 00000400 00000002 00000000 00000003     eth1\n"
              // the kernel's unreachable default on lo
              "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
              "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n"
              // a /64 on eth1: not a default route
              "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
              "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth1\n");
    EXPECT_EQ(DefaultRoutes(v4, v6),
              (std::vector<TDefaultRoute>{{"wlan0", "192.168.1.1"}, {"eth1", "fe80::1"}}));
    // Tables that cannot be read, or an empty one: offline.
    EXPECT_TRUE(DefaultRoutes((dir / "missing").string(), (dir / "missing6").string()).empty());
    EXPECT_TRUE(DefaultRoutes(Table("empty", kIpv4Header), (dir / "missing6").string()).empty());
}

TEST_F(KernelRoutes, WithoutConnectionManagerADefaultRouteIsOnlineAndNothingIsDialled) {
    const std::string v4 =
        Table("route", std::string(kIpv4Header) +
                           "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n");
    const std::string none = (dir / "missing6").string();
    TRasInstall install(std::make_shared<TRasEmpty>(v4, none));
    TDialUp dialUp;
    TDialRecorder events(dialUp);
    EXPECT_EQ(dialUp.GetEntries(), 0);
    EXPECT_TRUE(dialUp.Entries().Empty());
    EXPECT_EQ(dialUp.GetConnections(), 1);
    EXPECT_EQ(events.Lines, (std::vector<std::string>{
                                "Active wlan0 | default route | wlan0 | 8192 | Connected"}));
    EXPECT_EQ(dialUp.HangUp(), int(ERROR_INVALID_HANDLE));

    TOnLineDetect detector;
    int changes = 0;
    detector.OnChange = [&](TOnLineDetect*) { ++changes; };
    detector.Poll();
    EXPECT_TRUE(detector.IsOnline());
    EXPECT_EQ(changes, 1);
    // The route goes: offline at the next poll.
    Table("route", kIpv4Header);
    detector.Poll();
    EXPECT_FALSE(detector.IsOnline());
    EXPECT_EQ(changes, 2);
}
