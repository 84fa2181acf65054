// The command-line modes as a user meets them: what they print, what they refuse and why.
#include "CheckCycleFixture.h"
#include "app/AccountCli.h"
#include "app/CheckMode.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "dialup/RasConfig.h"
#include "mailbox/AccountFiles.h"
#include "platform/Paths.h"

#include <sstream>
#include <sys/stat.h>

namespace {
struct CommandLine : CheckCycle {
    // The tests that need a phone book set their own; the program's comes back after.
    pvtest::TScopedSeam<TRasLoader> rasLoader{SetRasLoader, nullptr, ConfiguredRasLoader()};
    // The server has two messages; the second one's header cannot be had.
    void ListingFailsAtTheSecondMessage() {
        LogIn(2);
        Header(1, "Subject: first", "+OK 1 10");
        server.Expect("TOP 2 1").Say("-ERR no such message").Expect("QUIT").Say("+OK");
    }
};
} // namespace

TEST_F(CommandLine, HeadlessRunsPrintWhatTheRunFoundNotStartUpErrorsOrTheServersCount) {
    // No dial-up service at all: the window notes it on its status bar at start, and an
    // empty mailbox leaves it there.
    SetRasLoader([](const std::string&) -> std::shared_ptr<TRasLibrary> { return nullptr; });
    PopAccount();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCollect(out, err, -1), 0) << err.str();
    EXPECT_EQ(out.str().find("rasapi"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("Error"), std::string::npos) << out.str();
    EXPECT_EQ(server.Failure(), "");

    // A listing that fails part way: the count STAT gave is no result.
    for (bool collect : {false, true}) {
        SCOPED_TRACE(collect ? "--collect" : "--check");
        server.NextConnection();
        ListingFailsAtTheSecondMessage();
        out.str("");
        err.str("");
        EXPECT_EQ(collect ? RunHeadlessCollect(out, err, tmCopy) : RunHeadlessCheck(out, err), 1);
        EXPECT_EQ(out.str().find("ready for collecting"), std::string::npos) << out.str();
        const std::string text = out.str();
        EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1),
                  "Error when calling list, see protocol\n");
        EXPECT_NE(err.str().find("no such message"), std::string::npos) << err.str();
        // Where to look.
        EXPECT_NE(err.str().find("The protocol: " + ProgDir() + "PostvigilLog.TXT\n"),
                  std::string::npos)
            << err.str();
        EXPECT_EQ(server.Failure(), "");
    }
}

TEST_F(CommandLine, CollectSkipsMessagesOverTheSizeToConfirmUnlessMaxSizeSaysOtherwise) {
    Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=5\n[RASSet]\nRASService=-1\n"
                     "MailMaxSize=100\n[POPClient]\nSecurity=none\nServer=127.0.0.1\nDefPort=" +
                         std::to_string(server.Port()) + "\nUserName=bob\nPassword=secret\n");
    const std::string big = "Subject: big\r\n\r\n" + std::string(200, 'x') + "\r\n";
    const std::string size = std::to_string(big.size());
    auto listed = [&] {
        LogIn(1, "+OK\r\n1 u1\r\n.\r\n");
        Header(1, "Subject: big", "+OK 1 " + size);
        server.Expect("LIST").SayRaw("+OK\r\n1 " + size + "\r\n.\r\n");
    };
    listed();
    server.Expect("QUIT").Say("+OK").NextConnection();
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCollect(out, err, tmCopy), 1);
    EXPECT_EQ(err.str(), "eMail 1 was not collected: larger than the size to confirm\n"
                         "Messages larger than 100 bytes are skipped; postvigil --collect "
                         "--max-size BYTES collects them (0 for no limit)\n");

    // --max-size 0: no limit for this run.
    listed();
    server.Expect("RETR 1").Say("+OK").SayRaw(big + ".\r\n").Expect("QUIT").Say("+OK");
    std::ostringstream out2, err2;
    EXPECT_EQ(RunHeadlessCollect(out2, err2, tmCopy, 0), 0) << err2.str();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_NE(out2.str().find(".EML\n"), std::string::npos) << out2.str();
}

TEST_F(CommandLine, AnAccountThatCannotBeCheckedIsNamedWithWhatIsWrong) {
    std::ostringstream out, err;
    // Nothing at all yet.
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_EQ(err.str().rfind("No account yet", 0), 0u) << err.str();

    // The start-up account's file is gone, another account is there.
    Account("Home", "[ProgSet]\nIniDescript=Home\n[POPClient]\nServer=h\nUserName=u\n");
    Registry(kCheckAssKey, "@", "1");
    Registry(kCheckAssKey, "0", "Home");
    Registry(kPostkeeperSetKey, "DFUIniName", "Work");
    err.str("");
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_EQ(err.str().rfind("The start-up account \"Work\" has no account file (" +
                                  (home / "Work.Set").string() + ")",
                              0),
              0u)
        << err.str();
    EXPECT_NE(err.str().find("make it the start-up account"), std::string::npos);

    // A file that is no account file: not mistaken for an account without a password.
    Registry(kPostkeeperSetKey, "DFUIniName", "Dummy");
    Account("Dummy", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR garbage", 24));
    err.str("");
    EXPECT_EQ(RunHeadlessCollect(out, err, -1), 1);
    EXPECT_EQ(err.str().rfind("The account file " + (home / "Dummy.Set").string() +
                                  " cannot be read (it names no POP3 server)",
                              0),
              0u)
        << err.str();
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(CommandLine, EveryModeRefusesWhatItDoesNotTake) {
    using V = std::vector<std::string>;
    const auto refusal = [](const V& args) {
        const TCommandLine c = ParseCommandLine(args);
        return c.Mode == mdUnknown ? c.Refusal : "accepted";
    };
    EXPECT_EQ(refusal({"--check", "extra"}), "Unknown option for --check: extra");
    EXPECT_EQ(refusal({"--collect", "extra"}), "Unknown option for --collect: extra");
    EXPECT_EQ(refusal({"--collect", "--mode", "get", "extra"}),
              "Unknown option for --collect: extra");
    EXPECT_EQ(refusal({"--collect", "--mode"}), "--mode needs get, copy, delete or neutral");
    EXPECT_EQ(refusal({"--collect", "--mode", "move"}),
              "--mode needs get, copy, delete or neutral");
    EXPECT_EQ(refusal({"--list-accounts", "x"}), "Unknown option for --list-accounts: x");
    EXPECT_EQ(refusal({"--demo", "x"}), "Unknown option for --demo: x");
    EXPECT_EQ(refusal({"--frobnicate"}), "Unknown option: --frobnicate");
    EXPECT_EQ(ParseCommandLine({}).Mode, mdWindow);
    EXPECT_EQ(ParseCommandLine({"--check"}).Mode, mdCheck);
    EXPECT_EQ(ParseCommandLine({"--collect"}).TransferMode, -1);
    const TCommandLine collect = ParseCommandLine({"--collect", "--mode", "Delete"});
    EXPECT_EQ(collect.Mode, mdCollect);
    EXPECT_EQ(collect.TransferMode, tmDelete);
    EXPECT_EQ(ParseCommandLine({"--add-account", "--server", "h"}).Mode, mdAddAccount);
    // --mode and --max-size in either order, each once.
    const TCommandLine sized = ParseCommandLine({"--collect", "--max-size", "0", "--mode", "get"});
    EXPECT_EQ(sized.Mode, mdCollect);
    EXPECT_EQ(sized.MaxSize, 0);
    EXPECT_EQ(sized.TransferMode, tmGet);
    EXPECT_EQ(ParseCommandLine({"--collect", "--max-size", "5000000"}).MaxSize, 5000000);
    EXPECT_EQ(ParseCommandLine({"--collect"}).MaxSize, -1);
    for (const char* bad : {"-1", "10k", "", "+5"})
        EXPECT_EQ(refusal({"--collect", "--max-size", bad}),
                  "--max-size needs a number of bytes (0 for no limit)")
            << bad;
    EXPECT_EQ(refusal({"--collect", "--max-size", "1", "--max-size", "2"}),
              "Unknown option for --collect: --max-size");
    const TCommandLine trust = ParseCommandLine({"--trust-certificate", "sha256:ab"});
    EXPECT_EQ(trust.Mode, mdTrustCertificate);
    EXPECT_EQ(trust.Fingerprint, "sha256:ab");
    EXPECT_EQ(refusal({"--trust-certificate"}),
              "--trust-certificate needs the fingerprint a refused check printed (sha256:...)");
    EXPECT_EQ(refusal({"--trust-certificate", "sha256:ab", "x"}),
              "Unknown option for --trust-certificate: x");
    // A fingerprint that is none is refused before anything is connected to.
    std::ostringstream trustOut, trustErr;
    EXPECT_EQ(RunTrustCertificate("sha256:abc", trustOut, trustErr), 2);
    EXPECT_EQ(trustErr.str(), "--trust-certificate needs a SHA-256 fingerprint: sha256: and 64 "
                              "hexadecimal digits\n");

    // An account without a password could never be checked without asking.
    std::istringstream empty("\n");
    std::ostringstream out, err;
    EXPECT_EQ(RunAddAccount({"--server", "h", "--user", "u"}, empty, out, err), 2);
    EXPECT_EQ(err.str(),
              "--add-account needs a password: give it as the first line of standard input\n");
    EXPECT_TRUE(ListedAccounts().empty());
    for (const auto& entry : fs::directory_iterator(home))
        EXPECT_NE(entry.path().extension(), ".Set") << entry.path();
}

TEST_F(CommandLine, AddAccountWithoutSecurityWritesNothingForAServerWithoutEncryption) {
    server.OfferNoSecurity();
    const std::string port = std::to_string(server.Port());
    std::istringstream in("pw\n");
    std::ostringstream out, err;
    EXPECT_EQ(RunAddAccount({"--server", "127.0.0.1", "--port", port, "--user", "u"}, in, out, err),
              1);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(err.str().rfind("No secure connection: TLS on port " + port + " failed (", 0), 0u)
        << err.str();
    EXPECT_NE(err.str().find("; STLS on port " + port + " failed (Server offers no STLS"),
              std::string::npos);
    EXPECT_NE(err.str().find("; no account was written. Choose --security none only"),
              std::string::npos);
    EXPECT_EQ(out.str(), "");
    EXPECT_TRUE(ListedAccounts().empty());

    // Clear text chosen by name: nothing is tried, the account is written as asked.
    std::istringstream again("pw\n");
    EXPECT_EQ(RunAddAccount(
                  {"--server", "127.0.0.1", "--port", port, "--user", "u", "--security", "none"},
                  again, out, err),
              0);
    EXPECT_EQ(server.Connections(), 2);
    ASSERT_EQ(ListedAccounts().size(), 1u);
    ReadClientFile(ListedAccounts()[0].FileName);
    EXPECT_EQ(ClientRec.Security, "none");
    EXPECT_EQ(ClientRec.SecuritySearch, ssStated);
}

TEST_F(CommandLine, TheDemoAccountFileIsItsOwnersAlone) {
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    const mode_t previous = umask(022);
    const auto demo = PrepareDemo();
    umask(previous);
    const std::string file = DemoFolder() + "/home/Demo.Set";
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(PasswordReadableByOthers(file));
}
