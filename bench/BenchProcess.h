// Programs, servers and folders of the benchmarks that run whole programs: peers, relays,
// Dovecot and postvigil itself.
#pragma once

#include "BenchClock.h"
#include "DovecotServer.h"
#include "LoopbackPort.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// Runs a peer program to its end under GNU time, which reports the peer's own peak memory
// (a process started straight from here would inherit this one's high-water mark); wall
// seconds, CPU seconds of the peer and its peak in MB.
inline bool RunPeer(std::vector<std::string> args, double& wall, double& cpu, double& peakMb) {
    char report[] = "/tmp/pv-peer-peak-XXXXXX";
    ::close(::mkstemp(report));
    args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", report});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    double start = Now();
    pid_t pid;
    int spawned = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&files);
    int status = 0;
    rusage usage{};
    if (spawned == 0) ::wait4(pid, &status, 0, &usage);
    wall = Now() - start;
    cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    double peakKb = 0;
    std::ifstream(report) >> peakKb;
    peakMb = peakKb / 1024.0;
    std::remove(report);
    return spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A fresh empty folder under /var/tmp (on the disk, so fsync has to reach it).
inline std::string NewFolder(const char* name) {
    std::string folder = std::string("/var/tmp/") + name + "-XXXXXX";
    return ::mkdtemp(folder.data());
}

inline void RemoveFolder(const std::string& folder) {
    const std::string cleanup = "rm -rf '" + folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

// The account file of a program folder: user on 127.0.0.1:port, then more [POPClient] lines.
inline void WriteAccount(const std::string& home, uint16_t port, const std::string& user,
                         const std::string& password, const std::string& more = "") {
    std::ofstream(home + "/Dummy.Set")
        << "[ProgSet]\nIniDescript=Bench\nTimeout=60\n[RASSet]\nRASService=-1\n"
           "MailMaxSize=1000000\n[POPClient]\nServer=127.0.0.1\nDefPort="
        << port << "\nUserName=" << user << "\nPassword=" << password << "\n"
        << more;
}

// postvigil (args[0]) run as a user runs it with its program folder, settings and header
// cache in home; see RunPeer.
inline bool RunInHome(const std::string& home, std::vector<std::string> args, double& wall,
                      double& cpu, double& peakMb) {
    ::setenv("POSTVIGIL_HOME", (home + "/").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    const bool ok = RunPeer(std::move(args), wall, cpu, peakMb);
    ::unsetenv("POSTVIGIL_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_CACHE_HOME");
    return ok;
}

// `program --collect --mode mode` as a user runs it, for user on 127.0.0.1:port, in a fresh
// program folder on the disk (so nothing counts as collected before); true when it ended
// with exit code 0.
inline bool RunCollect(const std::string& program, uint16_t port, const std::string& user,
                       const std::string& password, const std::string& mode, double& wall,
                       double& cpu, double& peakMb) {
    const std::string home = NewFolder("pv-collect");
    WriteAccount(home, port, user, password);
    const bool ok = RunInHome(home, {program, "--collect", "--mode", mode}, wall, cpu, peakMb);
    RemoveFolder(home);
    return ok;
}

// Starts the server; without it the benchmark ends here, with the reason.
inline void StartOrExit(pvtest::TDovecotServer& dovecot) {
    std::string error;
    if (!dovecot.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
}

// Starts a relay of bench/ (a Python script taking its port, the port it relays to and more)
// on a free loopback port and returns that port; without it the benchmark ends here.
inline uint16_t StartRelay(QProcess& relay, const char* script, uint16_t target,
                           const QStringList& more = {}) {
    const uint16_t port = pvtest::FreeLoopbackPort();
    relay.start("/usr/bin/python3", QStringList{QString(PV_BENCH_DIR) + "/" + script,
                                                QString::number(port), QString::number(target)} +
                                        more);
    if (!relay.waitForReadyRead(10000)) {
        std::fprintf(stderr, "%s did not start\n", script);
        std::exit(1);
    }
    return port;
}
