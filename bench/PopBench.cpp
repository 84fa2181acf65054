// The POP3 client against a real Dovecot on loopback, next to Python's poplib and fetchmail
// on the same mailbox in the same run (bench/run-pop.sh). Every benchmark reports wall time
// (manual time), the CPU seconds of the retrieving process and, where it applies, MB/s or
// messages/s. Nothing is deleted on the server.
#include "DovecotServer.h"
#include "FakePop3Server.h"
#include "TestApplication.h"
#include "TestCertificates.h"
#include "base/MessagePump.h"
#include "base/Streams.h"
#include "message/msmsg.h"
#include "net/Mspop.h"

#include "BenchClock.h"
#include "BenchProcess.h"
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kMessages = 1000;
const char* const kUser = "alice";
const char* const kPassword = "secret";

// The process's peak resident memory so far, in MB.
double PeakMegabytes(const rusage& usage) {
    return double(usage.ru_maxrss) / 1024.0;
}

double OwnPeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return PeakMegabytes(usage);
}

// About 100 kB of text on average; every fourth message carries a base64 attachment and
// every fortieth line starts with a dot.
std::string MakeMessage(int n, std::mt19937& random) {
    std::uniform_int_distribution<int> size(20000, 180000);
    const int target = size(random);
    std::string text = "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) +
                       "@example.com>\r\nTo: alice@example.com\r\nSubject: Message " +
                       std::to_string(n) + "\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\n" +
                       "Message-ID: <" + std::to_string(n) + "@bench.example>\r\n";
    const bool attachment = n % 4 == 0;
    if (attachment) {
        text += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    } else {
        text += "\r\n";
    }
    std::uniform_int_distribution<int> letter('a', 'z');
    int line = 0;
    const int textTarget = attachment ? target / 3 : target;
    while (int(text.size()) < textTarget) {
        std::string row = ++line % 40 == 0 ? "." : "";
        for (int i = 0; i < 70; ++i) row += i % 7 == 6 ? ' ' : char(letter(random));
        text += row + "\r\n";
    }
    if (attachment) {
        static const char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::uniform_int_distribution<int> digit(0, 63);
        text += "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n";
        while (int(text.size()) < target) {
            std::string row;
            for (int i = 0; i < 76; ++i) row += kAlphabet[digit(random)];
            text += row + "\r\n";
        }
        text += "--b1--\r\n";
    }
    return text;
}

struct TMailbox {
    // The server offers TLS too (on its own port and through STLS), with a test authority
    // both clients are told to trust.
    pvtest::TTestCertificates Certificates;
    pvtest::TDovecotServer Dovecot;
    int64_t Bytes = 0;

    TMailbox() {
        if (!Certificates.Error().empty()) {
            std::fprintf(stderr, "%s\n", Certificates.Error().c_str());
            std::exit(1);
        }
        ::setenv("SSL_CERT_FILE", Certificates.Authority().c_str(), 1);
        Dovecot.EnableTls(Certificates.Certificate(), Certificates.Key(), true);
        Dovecot.AddUser(kUser, kPassword);
        std::mt19937 random(20261208);
        for (int n = 1; n <= kMessages; ++n) {
            std::string text = MakeMessage(n, random);
            Bytes += int64_t(text.size());
            Dovecot.AddMessage(kUser, text);
        }
        StartOrExit(Dovecot);
    }
};

TMailbox& Mailbox() {
    static TMailbox mailbox;
    return mailbox;
}

void Report(benchmark::State& state, double wall, double cpu, double peakMb, int64_t bytes,
            int64_t items) {
    state.SetIterationTime(wall);
    state.counters["cpu_s"] = cpu;
    state.counters["peak_MB"] = peakMb;
    if (bytes) state.counters["MB/s"] = double(bytes) / 1e6 / wall;
    if (items) state.counters["msg/s"] = double(items) / wall;
}

// One log-in per iteration; work(client, n) runs for every message number n.
template <class F>
void RunClient(benchmark::State& state, int64_t bytes, int64_t items, F work,
               TmsSecurity security = secNone) {
    TMailbox& mailbox = Mailbox();
    for (auto _ : state) {
        TmsPOPClient client;
        TmsMessage message;
        client.SetHost("127.0.0.1");
        client.SetPort(security == secTls ? mailbox.Dovecot.TlsPort() : mailbox.Dovecot.Port());
        client.SetSecurity(security);
        client.SetUserName(kUser);
        client.SetPassword(kPassword);
        client.SetMailMessage(&message);
        double cpu = CpuSeconds();
        double start = Now();
        client.Login();
        for (int n = 1; n <= client.MessageCount(); ++n) work(client, n);
        client.Logout();
        Report(state, Now() - start, CpuSeconds() - cpu, OwnPeakMegabytes(), bytes, items);
    }
}

// RETR of every message through RetrieveMessage: transfer, unstuffing and the parse.
void BM_Postvigil_Retrieve(benchmark::State& state) {
    RunClient(state, Mailbox().Bytes, 0, [](TmsPOPClient& client, int n) {
        client.SetCurrentMessage(n - 1);
        client.RetrieveMessage();
    });
}

// The same transfer without the parse: RETR, the block and the unstuffing.
void BM_Postvigil_RetrieveRaw(benchmark::State& state) {
    TMemoryStream stream;
    RunClient(state, Mailbox().Bytes, 0, [&](TmsPOPClient& client, int n) {
        client.SendLine("RETR " + std::to_string(n));
        if (client.ReadResponse(client.LastResponse) != 1) throw EmsServerError("RETR");
        client.ReadBlock(stream, -1);
        RemoveDotStuffing(stream);
    });
}

// The raw transfer over TLS (implicit, certificate verified).
void BM_Postvigil_RetrieveRaw_Tls(benchmark::State& state) {
    TMemoryStream stream;
    RunClient(
        state, Mailbox().Bytes, 0,
        [&](TmsPOPClient& client, int n) {
            client.SendLine("RETR " + std::to_string(n));
            if (client.ReadResponse(client.LastResponse) != 1) throw EmsServerError("RETR");
            client.ReadBlock(stream, -1);
            RemoveDotStuffing(stream);
        },
        secTls);
}

void BM_Postvigil_Retrieve_Tls(benchmark::State& state) {
    RunClient(
        state, Mailbox().Bytes, 0,
        [](TmsPOPClient& client, int n) {
            client.SetCurrentMessage(n - 1);
            client.RetrieveMessage();
        },
        secTls);
}

// The header listing of a mail check: TOP n 1 and LIST n for every message.
void BM_Postvigil_HeaderListing(benchmark::State& state) {
    RunClient(state, 0, kMessages, [](TmsPOPClient& client, int n) {
        client.SetCurrentMessage(n - 1);
        client.RetrieveHeaders();
        client.GetMessageSize();
    });
}

std::string PeerScript() {
    return std::string(PV_BENCH_DIR) + "/poplib_peer.py";
}

void RunPoplib(benchmark::State& state, const char* mode, int64_t bytes, int64_t items,
               bool tls = false) {
    TMailbox& mailbox = Mailbox();
    for (auto _ : state) {
        double wall = 0;
        double cpu = 0;
        double peakMb = 0;
        if (!RunPeer({"/usr/bin/python3", PeerScript(), mode, "127.0.0.1",
                      std::to_string(tls ? mailbox.Dovecot.TlsPort() : mailbox.Dovecot.Port()),
                      kUser, kPassword, tls ? mailbox.Certificates.Authority() : ""},
                     wall, cpu, peakMb)) {
            state.SkipWithError("poplib peer failed");
            return;
        }
        Report(state, wall, cpu, peakMb, bytes, items);
    }
}

void BM_Poplib_Retrieve(benchmark::State& state) {
    RunPoplib(state, "retr", Mailbox().Bytes, 0);
}

void BM_Poplib_Retrieve_Tls(benchmark::State& state) {
    RunPoplib(state, "retr", Mailbox().Bytes, 0, true);
}

void BM_Poplib_HeaderListing(benchmark::State& state) {
    RunPoplib(state, "top", 0, kMessages);
}

// fetchmail writes every message to one file (batch SMTP) and keeps them on the server.
void BM_Fetchmail_Retrieve(benchmark::State& state) {
    TMailbox& mailbox = Mailbox();
    char folder[] = "/tmp/pv-fetchmail-XXXXXX";
    std::string dir = ::mkdtemp(folder);
    std::string rc = dir + "/fetchmailrc";
    {
        std::ofstream out(rc);
        out << "poll 127.0.0.1 protocol pop3 service " << mailbox.Dovecot.Port() << " user "
            << kUser << " password " << kPassword << " sslproto ''\n";
    }
    ::chmod(rc.c_str(), 0600);
    for (auto _ : state) {
        std::string output = dir + "/mail.bsmtp";
        std::remove(output.c_str());
        double wall = 0;
        double cpu = 0;
        double peakMb = 0;
        if (!RunPeer({"/usr/bin/fetchmail", "--fetchmailrc", rc, "--pidfile", dir + "/pid",
                      "--idfile", dir + "/ids", "--nosyslog", "--keep", "--all", "--bsmtp", output},
                     wall, cpu, peakMb)) {
            state.SkipWithError("fetchmail failed");
            return;
        }
        Report(state, wall, cpu, peakMb, mailbox.Bytes, 0);
    }
    std::string cleanup = "rm -rf " + dir;
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", folder);
}

// The whole collect as a user runs it: `postvigil --collect --mode copy`, a check (TOP and
// LIST of every message) and the transfer of all 1000 messages into mail files, each one
// flushed to the disk with its hand-over list before the next (a fresh program folder per
// run, so nothing counts as collected before).
void BM_Postvigil_CollectToFiles(benchmark::State& state) {
    TMailbox& mailbox = Mailbox();
    for (auto _ : state) {
        double wall = 0;
        double cpu = 0;
        double peakMb = 0;
        const bool ok = RunCollect(PV_POSTVIGIL, mailbox.Dovecot.Port(), kUser, kPassword, "copy",
                                   wall, cpu, peakMb);
        if (!ok) {
            state.SkipWithError("postvigil --collect failed");
            return;
        }
        Report(state, wall, cpu, peakMb, mailbox.Bytes, kMessages);
    }
}

// fetchmail handing every message to an MDA that writes it to a file of its own and flushes
// it to the disk (sync FILE), keeping the mail on the server.
void BM_Fetchmail_CollectToFiles(benchmark::State& state) {
    TMailbox& mailbox = Mailbox();
    for (auto _ : state) {
        const std::string dir = NewFolder("pv-fetchmail-mda");
        const std::string rc = dir + "/fetchmailrc";
        std::ofstream(rc) << "poll 127.0.0.1 protocol pop3 service " << mailbox.Dovecot.Port()
                          << " user " << kUser << " password " << kPassword << " sslproto ''\n";
        ::chmod(rc.c_str(), 0600);
        const std::string mda =
            "/bin/sh -c 'f=$(mktemp " + dir + "/mail.XXXXXX) && cat > \"$f\" && sync \"$f\"'";
        double wall = 0;
        double cpu = 0;
        double peakMb = 0;
        const bool ok =
            RunPeer({"/usr/bin/fetchmail", "--fetchmailrc", rc, "--pidfile", dir + "/pid",
                     "--idfile", dir + "/ids", "--nosyslog", "--keep", "--all", "--mda", mda},
                    wall, cpu, peakMb);
        RemoveFolder(dir);
        if (!ok) {
            state.SkipWithError("fetchmail --mda failed");
            return;
        }
        Report(state, wall, cpu, peakMb, mailbox.Bytes, kMessages);
    }
}

// A wait with nothing arriving: the CPU the client burns while the server is silent for a
// second (reported as cpu_s; wall is the wait itself).
void BM_Postvigil_IdleWait(benchmark::State& state) {
    for (auto _ : state) {
        pvtest::TFakePop3Server server;
        server.Delay(1000).Say("+OK late");
        TmsClientSocket client;
        client.SetHost(server.HostAndPort());
        client.Connect();
        double cpu = CpuSeconds();
        double start = Now();
        std::string line;
        client.ReadLine(line);
        Report(state, Now() - start, CpuSeconds() - cpu, OwnPeakMegabytes(), 0, 0);
        client.Disconnect();
    }
}

void Options(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
}
// Collecting to files flushes every message to the disk: three runs each.
void CollectOptions(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
}
} // namespace

BENCHMARK(BM_Postvigil_RetrieveRaw)->Apply(Options);
BENCHMARK(BM_Postvigil_Retrieve)->Apply(Options);
BENCHMARK(BM_Poplib_Retrieve)->Apply(Options);
BENCHMARK(BM_Fetchmail_Retrieve)->Apply(Options);
BENCHMARK(BM_Postvigil_RetrieveRaw_Tls)->Apply(Options);
BENCHMARK(BM_Postvigil_Retrieve_Tls)->Apply(Options);
BENCHMARK(BM_Poplib_Retrieve_Tls)->Apply(Options);
BENCHMARK(BM_Postvigil_CollectToFiles)->Apply(CollectOptions);
BENCHMARK(BM_Fetchmail_CollectToFiles)->Apply(CollectOptions);
BENCHMARK(BM_Postvigil_HeaderListing)->Apply(Options);
BENCHMARK(BM_Poplib_HeaderListing)->Apply(Options);
BENCHMARK(BM_Postvigil_IdleWait)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    pvtest::EnsureApplication();
    CreateGlobalWinsock();
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The mailbox is built and the server started before the clock runs.
    benchmark::AddCustomContext("mailbox", std::to_string(kMessages) + " messages, " +
                                               std::to_string(Mailbox().Bytes) + " bytes");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeGlobalWinsock();
    return 0;
}
