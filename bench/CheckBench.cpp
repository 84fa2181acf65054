// The mail check against a real Dovecot of 1000 messages, on plain loopback and through a slow
// link (bench/delay_relay.py: 10 ms each way, 20 ms a round trip), next to a serial poplib
// loop (TOP n 1 + LIST n) on the same link in the same run (bench/run-check.sh). Our check
// runs as the program runs it, in this process: the main window's check without a screen
// (as --check does) and shown on the virtual screen. Every case reports wall time and the CPU
// seconds of the checking process; "first" starts without a header cache, "repeated" finds
// every header in it.
#include "DovecotServer.h"
#include "LoopbackPort.h"
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "base/MessagePump.h"
#include "mailbox/HeaderCache.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "net/Mswsock.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Registry.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include "BenchClock.h"
#include "BenchMail.h"
#include "BenchProcess.h"
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {
constexpr int kMessages = 1000;
constexpr int kLinkDelayMs = 10;
const char* const kUser = "alice";
const char* const kPassword = "secret";

struct TSetting {
    pvtest::TDovecotServer Dovecot;
    QProcess Relay;
    uint16_t RelayPort = 0;
    QTemporaryDir Home;

    TSetting() {
        Dovecot.AddUser(kUser, kPassword);
        for (int n = 1; n <= kMessages; ++n) Dovecot.AddMessage(kUser, HeaderMessage(n));
        StartOrExit(Dovecot);
        RelayPort =
            StartRelay(Relay, "delay_relay.py", Dovecot.Port(), {QString::number(kLinkDelayMs)});
        const std::string home = Home.path().toStdString();
        ::setenv("POSTVIGIL_HOME", (home + "/").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
        InitMainUnit();
        TRegistry reg;
        reg.OpenKey(kPostvigilKey, true);
        reg.WriteString("ShowInfos", "0");
    }
    ~TSetting() {
        Relay.kill();
        Relay.waitForFinished();
    }
    uint16_t Port(bool slow) const { return slow ? RelayPort : Dovecot.Port(); }
    void Account(bool slow) {
        std::ofstream(Home.path().toStdString() + "/Dummy.Set")
            << "[ProgSet]\nIniDescript=Bench\nTimeout=60\n[RASSet]\nRASService=-1\n"
               "[POPClient]\nServer=127.0.0.1\nDefPort="
            << Port(slow) << "\nUserName=" << kUser << "\nPassword=" << kPassword << "\n";
    }
};

TSetting& Setting() {
    static TSetting setting;
    return setting;
}

void Report(benchmark::State& state, double wall, double cpu) {
    state.SetIterationTime(wall);
    state.counters["cpu_s"] = cpu;
    state.counters["round_trips"] = wall * 1000.0 / (2 * kLinkDelayMs);
}

// One check of the main window, as the Query button runs it (without the closing pause).
// range(0): 1 through the slow link; range(1): 1 shown on the screen; range(2): 1 with
// the header cache filled by a check before.
void BM_Check(benchmark::State& state) {
    TSetting& setting = Setting();
    const bool slow = state.range(0) != 0;
    const bool shown = state.range(1) != 0;
    const bool repeated = state.range(2) != 0;
    setting.Account(slow);
    TScriptedPrompts prompts;
    SetPrompts(&prompts);
    TRecordingTonePlayer tones;
    SetTonePlayer(&tones);
    TRecordingSystemSounds sounds;
    SetSystemSounds(&sounds);
    TFormMain::ExecModal = [](QDialog&) { return int(QDialog::Rejected); };
    for (auto _ : state) {
        std::filesystem::remove_all(CacheDir());
        auto window = std::make_unique<TFormMain>();
        if (shown) {
            window->show();
            QCoreApplication::processEvents();
        }
        if (repeated) {
            window->RunCheck(true, true, false);
            QCoreApplication::processEvents();
        }
        const double cpu = CpuSeconds();
        const double start = Now();
        window->RunCheck(true, true, false);
        // The list as it ends up on the screen is part of the check.
        QCoreApplication::processEvents();
        Report(state, Now() - start, CpuSeconds() - cpu);
        if (window->MailRows->Count() != kMessages || window->FCheckFailed) {
            state.SkipWithError(("check failed: " + window->FCheckError).c_str());
            break;
        }
    }
    TFormMain::ExecModal = nullptr;
    SetSystemSounds(nullptr);
    SetTonePlayer(nullptr);
    SetPrompts(nullptr);
}

// The exchange every classic checker does: TOP n 1 and LIST n, one after the other.
void BM_Poplib(benchmark::State& state) {
    TSetting& setting = Setting();
    const bool slow = state.range(0) != 0;
    for (auto _ : state) {
        const double cpu = CpuSeconds(RUSAGE_CHILDREN);
        const double start = Now();
        QProcess peer;
        peer.start("/usr/bin/python3",
                   {QString(PV_BENCH_DIR) + "/poplib_peer.py", "top", "127.0.0.1",
                    QString::number(setting.Port(slow)), kUser, kPassword});
        const bool ok = peer.waitForFinished(600000) && peer.exitCode() == 0;
        Report(state, Now() - start, CpuSeconds(RUSAGE_CHILDREN) - cpu);
        if (!ok) {
            state.SkipWithError("poplib peer failed");
            break;
        }
    }
}

// `postvigil --check` of a given build, as a user runs it, on loopback: one way to set this
// build next to an earlier one. Builds before the headless engine waited 2 s at the end of it.
void BM_Program(benchmark::State& state, const std::string& program) {
    TSetting& setting = Setting();
    QTemporaryDir home;
    std::ofstream(home.path().toStdString() + "/Dummy.Set")
        << "[ProgSet]\nIniDescript=Bench\nTimeout=60\n[RASSet]\nRASService=-1\n"
           "[POPClient]\nServer=127.0.0.1\nDefPort="
        << setting.Port(false) << "\nUserName=" << kUser << "\nPassword=" << kPassword << "\n";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("POSTVIGIL_HOME", home.path() + "/");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_CACHE_HOME", home.path() + "/cache");
    env.insert("LC_ALL", "C");
    for (auto _ : state) {
        QDir(home.path() + "/cache").removeRecursively();
        const double cpu = CpuSeconds(RUSAGE_CHILDREN);
        const double start = Now();
        QProcess check;
        check.setProcessEnvironment(env);
        check.start(QString::fromStdString(program), {"--check"});
        const bool ok = check.waitForFinished(600000) && check.exitCode() == 0;
        Report(state, Now() - start, CpuSeconds(RUSAGE_CHILDREN) - cpu);
        if (!ok) {
            state.SkipWithError("the check failed");
            break;
        }
    }
}

void Options(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
}
} // namespace

BENCHMARK(BM_Check)
    ->ArgNames({"slow", "window", "repeated"})
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->Apply(Options);
BENCHMARK(BM_Poplib)->ArgNames({"slow"})->Arg(0)->Arg(1)->Apply(Options);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CreateGlobalWinsock();
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Setting();
    // PV_CHECK_PROGRAMS: postvigil programs (separated by ":") to run --check of.
    if (const char* programs = std::getenv("PV_CHECK_PROGRAMS")) {
        for (const QString& program : QString(programs).split(':', Qt::SkipEmptyParts)) {
            benchmark::RegisterBenchmark(("BM_Program/" + program.toStdString()).c_str(),
                                         BM_Program, program.toStdString())
                ->Apply(Options);
        }
    }
    benchmark::AddCustomContext("mailbox", std::to_string(kMessages) + " messages");
    benchmark::AddCustomContext("platform", QApplication::platformName().toStdString());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveMessagePump();
    FreeGlobalWinsock();
    return 0;
}
