// postvigil --check and --collect as a user runs them, next to mpop on the same mailboxes in
// the same run (bench/run-engine.sh). One Dovecot (plain, and TLS on its pop3s port) serves:
// "three" (3 short messages), "headers" (1000 header blocks of about 900 bytes), "bulk"
// (1000 text messages of 20 to 180 kB, about 100 MB) and "big" (one message of 50 MB).
// The slow link is bench/delay_relay.py (10 ms each way), which also counts the client's
// turns. Every case reports the process's wall time, its CPU seconds and its peak memory
// (GNU time's maximum resident size of the child). After the cases, one collect of "bulk"
// by each program runs under strace to show what each flushes to the disk.
//
// PV_ENGINE_PROGRAM: the postvigil to run (default: the one built here).
// PV_ENGINE_STRACE=0: leaves out the strace runs.
#include "BenchMail.h"
#include "BenchProcess.h"
#include "TestApplication.h"
#include "TestCertificates.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {
constexpr int kLinkDelayMs = 10;
constexpr double kRoundTripS = 2 * kLinkDelayMs / 1000.0;
const char* const kPassword = "secret";
const char* const kMpop = "/usr/bin/mpop";
const char* const kGetmail = "/usr/bin/getmail";
const char* const kStrace = "/usr/bin/strace";

enum class TLink { Loopback, Slow, Tls };

const char* LinkName(TLink link) {
    return link == TLink::Loopback ? "loopback" : link == TLink::Slow ? "20ms" : "tls";
}

struct TRun {
    double Wall = 0;
    double Cpu = 0;
    double PeakMb = 0;
};

struct TSetting {
    pvtest::TTestCertificates Certificates;
    pvtest::TDovecotServer Dovecot;
    QProcess Relay;
    uint16_t RelayPort = 0;
    std::string Program = PV_POSTVIGIL;
    double BulkMb = 0;

    TSetting() {
        if (!Certificates.Error().empty()) {
            std::fprintf(stderr, "%s\n", Certificates.Error().c_str());
            std::exit(1);
        }
        if (const char* program = std::getenv("PV_ENGINE_PROGRAM")) Program = program;
        // TLS offered, not required: the plain cases stay plain (both programs are told so).
        Dovecot.EnableTls(Certificates.Certificate(), Certificates.Key(), true);
        for (const char* user : {"three", "headers", "bulk", "big"})
            Dovecot.AddUser(user, kPassword);
        for (int n = 1; n <= 3; ++n) Dovecot.AddMessage("three", HeaderMessage(n));
        for (int n = 1; n <= 1000; ++n) Dovecot.AddMessage("headers", HeaderMessage(n));
        TTextMessages text(20261209);
        for (int n = 1; n <= 1000; ++n) {
            const std::string message = text.Make(n, text.Size(20000, 180000));
            BulkMb += double(message.size()) / 1e6;
            Dovecot.AddMessage("bulk", message);
        }
        Dovecot.AddMessage("big", text.Make(1, 50000000));
        StartOrExit(Dovecot);
        RelayPort =
            StartRelay(Relay, "delay_relay.py", Dovecot.Port(), {QString::number(kLinkDelayMs)});
    }
    ~TSetting() {
        Relay.kill();
        Relay.waitForFinished();
    }
    uint16_t Port(TLink link) const {
        return link == TLink::Slow  ? RelayPort
               : link == TLink::Tls ? Dovecot.TlsPort()
                                    : Dovecot.Port();
    }
    // Sum of the turns of the relay's connections that ended since the last call; wait: until
    // the report of a connection that just closed came (the relay writes it soon after).
    int Turns(bool wait) {
        Relay.waitForReadyRead(0);
        int turns = 0;
        bool reported = false;
        for (;;) {
            while (Relay.canReadLine()) {
                const QByteArray line = Relay.readLine().trimmed();
                if (!line.startsWith("turns ")) continue;
                turns += line.mid(6).toInt();
                reported = true;
            }
            if (!wait || reported || !Relay.waitForReadyRead(3000)) return turns;
        }
    }
};

TSetting& Setting() {
    static TSetting setting;
    return setting;
}

// postvigil with a program folder of its own on the disk: the account, its header cache and
// the mail files it collects (or, with maildir, the Maildir it delivers to).
class TPostvigil {
public:
    TPostvigil(const std::string& user, TLink link, bool maildir = false)
        : FHome(NewFolder("pv-engine")) {
        TSetting& setting = Setting();
        WriteAccount(FHome, setting.Port(link), user, kPassword,
                     std::string(link == TLink::Tls ? "Security=tls\n" : "Security=none\n") +
                         (maildir ? "[Deliver]\nTarget=maildir:" + FHome + "/Maildir\n" : ""));
        ::setenv("SSL_CERT_FILE", setting.Certificates.Authority().c_str(), 1);
    }
    ~TPostvigil() {
        ::unsetenv("SSL_CERT_FILE");
        RemoveFolder(FHome);
    }
    bool Check(TRun& run) {
        return RunInHome(FHome, {Setting().Program, "--check"}, run.Wall, run.Cpu, run.PeakMb);
    }
    bool Collect(TRun& run, const std::vector<std::string>& prefix = {}) {
        std::vector<std::string> args = prefix;
        args.insert(args.end(),
                    {Setting().Program, "--collect", "--mode", "copy", "--max-size", "0"});
        return RunInHome(FHome, args, run.Wall, run.Cpu, run.PeakMb);
    }
    void ForgetHeaders() { std::filesystem::remove_all(FHome + "/cache"); }

private:
    std::string FHome;
};

// mpop with a configuration of its own: keeps the mail on the server, takes every message
// each time (no memory of earlier sessions) and delivers to a Maildir on the disk.
class TMpop {
public:
    TMpop(const std::string& user, TLink link) : FFolder(NewFolder("pv-mpop")) {
        TSetting& setting = Setting();
        for (const char* sub : {"/Maildir", "/Maildir/cur", "/Maildir/new", "/Maildir/tmp"})
            ::mkdir((FFolder + sub).c_str(), 0700);
        const bool tls = link == TLink::Tls;
        std::ofstream(Config()) << "account bench\nhost 127.0.0.1\nport " << setting.Port(link)
                                << "\nuser " << user << "\npassword " << kPassword
                                << "\nauth user\ntimeout 60\ntls "
                                << (tls ? "on\ntls_starttls off\ntls_trust_file " +
                                              setting.Certificates.Authority()
                                        : std::string("off"))
                                << "\nkeep on\nonly_new off\nuidls_file " << FFolder
                                << "/uidls\ndelivery maildir " << FFolder
                                << "/Maildir\naccount default : bench\n";
        ::chmod(Config().c_str(), 0600);
    }
    ~TMpop() { RemoveFolder(FFolder); }
    bool Status(TRun& run) {
        return RunPeer({kMpop, "-C", Config(), "--status-only"}, run.Wall, run.Cpu, run.PeakMb);
    }
    bool Collect(TRun& run, const std::vector<std::string>& prefix = {}) {
        std::filesystem::remove_all(FFolder + "/Maildir/new");
        ::mkdir((FFolder + "/Maildir/new").c_str(), 0700);
        std::vector<std::string> args = prefix;
        args.insert(args.end(), {kMpop, "-C", Config(), "-q"});
        return RunPeer(args, run.Wall, run.Cpu, run.PeakMb);
    }

private:
    std::string Config() const { return FFolder + "/mpoprc"; }
    std::string FFolder;
};

// getmail with a configuration of its own: like mpop, keeps the mail on the server, takes
// every message each time and delivers to a Maildir on the disk.
class TGetmail {
public:
    TGetmail(const std::string& user, TLink link) : FFolder(NewFolder("pv-getmail")) {
        TSetting& setting = Setting();
        const bool tls = link == TLink::Tls;
        std::ofstream(FFolder + "/getmailrc")
            << "[retriever]\ntype = " << (tls ? "SimplePOP3SSLRetriever" : "SimplePOP3Retriever")
            << "\nserver = 127.0.0.1\nport = " << setting.Port(link) << "\nusername = " << user
            << "\npassword = " << kPassword
            << (tls ? "\nca_certs = " + setting.Certificates.Authority() : std::string())
            << "\ntimeout = 60\n[destination]\ntype = Maildir\npath = " << FFolder
            << "/Maildir/\n"
            // getmail refuses to deliver as root: it delivers as nobody then.
            << (::geteuid() == 0 ? "user = nobody\n" : "")
            << "[options]\nread_all = true\ndelete = false\nverbose = 0\n"
               "message_log_verbose = false\n";
        ::chmod((FFolder + "/getmailrc").c_str(), 0600);
    }
    ~TGetmail() { RemoveFolder(FFolder); }
    bool Collect(TRun& run, const std::vector<std::string>& prefix = {}) {
        std::filesystem::remove_all(FFolder + "/Maildir");
        const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (nobody) ::chmod(FFolder.c_str(), 0755);
        for (const char* sub : {"/Maildir", "/Maildir/cur", "/Maildir/new", "/Maildir/tmp"}) {
            ::mkdir((FFolder + sub).c_str(), 0700);
            if (nobody && ::chown((FFolder + sub).c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
                return false;
        }
        std::vector<std::string> args = prefix;
        args.insert(args.end(), {kGetmail, "--rcfile=" + FFolder + "/getmailrc",
                                 "--getmaildir=" + FFolder, "--quiet"});
        return RunPeer(args, run.Wall, run.Cpu, run.PeakMb);
    }

private:
    std::string FFolder;
};

// Every case: manual time (the child's wall time), one run per repetition (bench/run-engine.sh
// asks for five).
void Register(const std::string& name, std::function<void(benchmark::State&)> body) {
    benchmark::RegisterBenchmark(name.c_str(), std::move(body))
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
}

// Runs one case: step runs the program once and says whether it succeeded.
void Measure(benchmark::State& state, TLink link, double megabytes,
             const std::function<bool(TRun&)>& step) {
    TSetting& setting = Setting();
    for (auto _ : state) {
        setting.Turns(false);
        TRun run;
        if (!step(run)) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(run.Wall);
        state.counters["cpu_s"] = run.Cpu;
        state.counters["peak_MB"] = run.PeakMb;
        if (megabytes > 0) state.counters["MB/s"] = megabytes / run.Wall;
        if (link == TLink::Slow) {
            state.counters["turns"] = setting.Turns(true);
            state.counters["wall_rtts"] = run.Wall / kRoundTripS;
        }
    }
}

void CheckCase(const std::string& name, const std::string& user, TLink link, bool repeated) {
    Register(name, [=](benchmark::State& state) {
        TPostvigil postvigil(user, link);
        Measure(state, link, 0, [&](TRun& run) {
            postvigil.ForgetHeaders();
            TRun warm;
            if (repeated) {
                if (!postvigil.Check(warm)) return false;
                Setting().Turns(true); // the warm-up's connection is not counted
            }
            return postvigil.Check(run);
        });
    });
}

void StatusCase(const std::string& name, const std::string& user, TLink link) {
    Register(name, [=](benchmark::State& state) {
        TMpop mpop(user, link);
        Measure(state, link, 0, [&](TRun& run) { return mpop.Status(run); });
    });
}

// Every collect starts in a fresh program folder (postvigil) or an empty Maildir (mpop).
void CollectCases(const std::string& size, const std::string& user, TLink link, double mb) {
    const std::string name = std::string("collect/") + size + "/" + LinkName(link);
    Register(name + "/postvigil", [=](benchmark::State& state) {
        Measure(state, link, mb, [&](TRun& run) { return TPostvigil(user, link).Collect(run); });
    });
    Register(name + "/mpop", [=](benchmark::State& state) {
        TMpop mpop(user, link);
        Measure(state, link, mb, [&](TRun& run) { return mpop.Collect(run); });
    });
    // Into a Maildir as mpop and getmail deliver: the same target on every side.
    Register(name + "/postvigil-maildir", [=](benchmark::State& state) {
        Measure(state, link, mb,
                [&](TRun& run) { return TPostvigil(user, link, true).Collect(run); });
    });
    Register(name + "/getmail", [=](benchmark::State& state) {
        TGetmail getmail(user, link);
        Measure(state, link, mb, [&](TRun& run) { return getmail.Collect(run); });
    });
}

// The file a flush names, its folder first, digits as '#' and the run's own folder as DIR.
std::string FlushTarget(const std::string& line) {
    const std::size_t open = line.find('<');
    const std::size_t close = line.find('>', open);
    if (open == std::string::npos || close == std::string::npos) return "(no file)";
    std::string path = line.substr(open + 1, close - open - 1);
    for (const char* folder :
         {"/var/tmp/pv-engine-", "/var/tmp/pv-mpop-", "/var/tmp/pv-getmail-"}) {
        if (path.rfind(folder, 0) == 0) {
            const std::size_t end = path.find('/', std::string(folder).size());
            path = "DIR" + (end == std::string::npos ? "" : path.substr(end));
        }
    }
    std::string pattern;
    for (char c : path) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            pattern += c;
        else if (pattern.empty() || pattern.back() != '#')
            pattern += '#';
    }
    return pattern;
}

// One collect of "bulk" on loopback under strace: the flush calls, by call and file.
void FlushReport(const char* who, const std::function<bool(TRun&, std::vector<std::string>)>& run) {
    const std::string log = NewFolder("pv-strace") + "/log";
    TRun ignored;
    if (!run(ignored, {kStrace, "-f", "-y", "-o", log, "-e",
                       "trace=fsync,fdatasync,syncfs,sync,sync_file_range,msync"})) {
        std::printf("%s under strace failed\n", who);
        return;
    }
    std::map<std::string, int> counts;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const std::size_t call = line.find_first_not_of("0123456789 ");
        const std::size_t paren = line.find('(', call);
        if (call == std::string::npos || paren == std::string::npos) continue;
        ++counts[line.substr(call, paren - call) + " " + FlushTarget(line)];
    }
    std::printf("Flushes of one collect of 1000 messages on loopback, %s:\n", who);
    if (counts.empty()) std::printf("  none\n");
    for (const auto& [what, count] : counts) std::printf("  %6d  %s\n", count, what.c_str());
    RemoveFolder(std::filesystem::path(log).parent_path());
}
} // namespace

int main(int argc, char** argv) {
    pvtest::EnsureApplication();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TSetting& setting = Setting();
    CheckCase("check/3/loopback/first/postvigil", "three", TLink::Loopback, false);
    StatusCase("check/3/loopback/status/mpop", "three", TLink::Loopback);
    CheckCase("check/1000/20ms/first/postvigil", "headers", TLink::Slow, false);
    CheckCase("check/1000/20ms/repeated/postvigil", "headers", TLink::Slow, true);
    StatusCase("check/1000/20ms/status/mpop", "headers", TLink::Slow);
    for (TLink link : {TLink::Loopback, TLink::Slow, TLink::Tls})
        CollectCases("1000", "bulk", link, setting.BulkMb);
    CollectCases("50MB", "big", TLink::Loopback, 50);
    benchmark::AddCustomContext("bulk mailbox", std::to_string(setting.BulkMb) + " MB");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const char* strace = std::getenv("PV_ENGINE_STRACE");
    if (strace && std::string(strace) == "0") return 0;
    FlushReport("postvigil --collect --mode copy", [](TRun& run, std::vector<std::string> prefix) {
        return TPostvigil("bulk", TLink::Loopback).Collect(run, prefix);
    });
    FlushReport("mpop to a Maildir", [](TRun& run, std::vector<std::string> prefix) {
        return TMpop("bulk", TLink::Loopback).Collect(run, prefix);
    });
    FlushReport("postvigil into a Maildir", [](TRun& run, std::vector<std::string> prefix) {
        return TPostvigil("bulk", TLink::Loopback, true).Collect(run, prefix);
    });
    FlushReport("getmail to a Maildir", [](TRun& run, std::vector<std::string> prefix) {
        return TGetmail("bulk", TLink::Loopback).Collect(run, prefix);
    });
    return 0;
}
