// Runs the postvigil program as a user would, without a screen, with its own program folder.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace pvtest {

struct TRun {
    int exitCode = -1;
    bool crashed = false; // ended by a signal
    std::string out, err;
};

// The start-up account "Dummy" on a POP3 server on 127.0.0.1:port.
inline void WriteDummyAccount(const QString& home, const std::string& user,
                              const std::string& password, uint16_t port) {
    std::ofstream(home.toStdString() + "/Dummy.Set")
        << "[ProgSet]\nIniDescript=Dovecot\nTimeout=30\n[RASSet]\nRASService=-1\n"
           "[POPClient]\nSecurity=none\nServer=127.0.0.1\nDefPort="
        << port << "\nUserName=" << user << "\nPassword=" << password << "\n";
}

// input, when given, is the program's standard input.
inline TRun RunPostvigil(const QString& home, const QStringList& arguments,
                         const std::vector<std::pair<QString, QString>>& extraEnv = {},
                         const std::string& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("POSTVIGIL_HOME", home + "/");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_CACHE_HOME", home + "/cache");
    env.insert("LC_ALL", "C");
    env.insert("LANG", "C");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.remove("POSTVIGIL_CRASH_AT");
    for (const auto& [name, value] : extraEnv) env.insert(name, value);
    p.setProcessEnvironment(env);
    p.start(PV_POSTVIGIL, arguments);
    if (!input.empty()) p.write(input.data(), qint64(input.size()));
    p.closeWriteChannel();
    TRun run;
    if (!p.waitForFinished(120000)) return run;
    run.crashed = p.exitStatus() == QProcess::CrashExit;
    run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput().toStdString();
    run.err = p.readAllStandardError().toStdString();
    return run;
}

} // namespace pvtest
