// The whole collect as a user runs it, Get next to Copy (bench/run-collect.sh):
// `postvigil --collect --mode get|copy` of a mailbox of 200 everyday messages on a real Dovecot,
// straight on loopback and through bench/answer_relay.py, a server that writes every answer on
// its own with Nagle's algorithm on (an answer right after another waits for the client's
// delayed ACK). Every run starts in a fresh program folder on the disk; Get's mailbox is
// filled again after each run. Reports wall time and messages/s.
//
// PV_COLLECT_PROGRAMS: postvigil programs (separated by ":") to run, by default the one built
// here; two builds alternate in one run for a before-and-after comparison.
#include "BenchProcess.h"
#include "TestApplication.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {
constexpr int kMessages = 200;
const char* const kPassword = "secret";

// Everyday mail: a header block of about 600 bytes and 1 to 8 kB of text.
std::string MakeMessage(int n, std::mt19937& random) {
    const std::string k = std::to_string(n);
    std::string text =
        "Received: from mx.example.com (mx.example.com [192.0.2.1])\r\n\tby pop.example.org "
        "with ESMTPS id " +
        k + "; Tue, 08 Dec 2026 10:00:00 +0000\r\nFrom: Sender " + k + " <sender" + k +
        "@example.com>\r\nTo: Alice <alice@example.org>\r\nSubject: Message " + k +
        "\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + k +
        "@bench.example>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n";
    std::uniform_int_distribution<int> size(1000, 8000);
    std::uniform_int_distribution<int> letter('a', 'z');
    const std::size_t target = text.size() + std::size_t(size(random));
    while (text.size() < target) {
        std::string row;
        for (int i = 0; i < 70; ++i) row += i % 7 == 6 ? ' ' : char(letter(random));
        text += row + "\r\n";
    }
    return text;
}

struct TSetting {
    pvtest::TDovecotServer Dovecot;
    std::vector<std::string> Messages;
    QProcess Relay;
    uint16_t RelayPort = 0;

    TSetting() {
        std::mt19937 random(20261211);
        for (int n = 1; n <= kMessages; ++n) Messages.push_back(MakeMessage(n, random));
        for (const char* user : {"copy", "get"}) {
            Dovecot.AddUser(user, kPassword);
            Fill(user);
        }
        StartOrExit(Dovecot);
        RelayPort = StartRelay(Relay, "answer_relay.py", Dovecot.Port());
    }
    ~TSetting() {
        Relay.kill();
        Relay.waitForFinished();
    }
    // Delivers the mailbox to user (again).
    void Fill(const std::string& user) {
        for (const std::string& m : Messages) Dovecot.AddMessage(user, m);
    }
};

TSetting& Setting() {
    static TSetting setting;
    return setting;
}

void BM_Collect(benchmark::State& state, const std::string& program, bool relay,
                const std::string& mode) {
    TSetting& setting = Setting();
    for (auto _ : state) {
        double wall = 0;
        double cpu = 0;
        double peakMb = 0;
        // The user is named after the mode: Get's mailbox is filled again after each run.
        const bool ok = RunCollect(program, relay ? setting.RelayPort : setting.Dovecot.Port(),
                                   mode, kPassword, mode, wall, cpu, peakMb);
        const bool emptied = setting.Dovecot.Messages(mode).empty();
        if (mode == "get") setting.Fill(mode);
        if (!ok || emptied != (mode == "get")) {
            state.SkipWithError("postvigil --collect failed");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["cpu_s"] = cpu;
        state.counters["msg/s"] = kMessages / wall;
    }
}
} // namespace

int main(int argc, char** argv) {
    pvtest::EnsureApplication();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QStringList programs = {PV_POSTVIGIL};
    if (const char* list = std::getenv("PV_COLLECT_PROGRAMS"))
        programs = QString(list).split(':', Qt::SkipEmptyParts);
    for (const bool relay : {false, true}) {
        for (const QString& program : programs) {
            for (const char* mode : {"copy", "get"}) {
                const std::string name = std::string("BM_Collect/") +
                                         (relay ? "slow_writes/" : "dovecot/") + mode + "/" +
                                         program.toStdString();
                benchmark::RegisterBenchmark(name.c_str(), BM_Collect, program.toStdString(), relay,
                                             std::string(mode))
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(1)
                    ->Repetitions(3);
            }
        }
    }
    Setting();
    benchmark::AddCustomContext("mailbox", std::to_string(kMessages) + " messages");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
