#include "DovecotServer.h"

#include "LoopbackPort.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace pvtest {

namespace {
const char* const kDovecot = "/usr/sbin/dovecot";
constexpr int kStopGuardMs = 15000;
constexpr int kStartGuardMs = 15000;
constexpr int kRetryMs = 50;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string UserName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry ? entry->pw_name : std::to_string(uid);
}

// Waits for a process to end; false when the guard ran out.
bool WaitForExit(pid_t pid, int guardMs) {
    int fd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH;
    pollfd wait{fd, POLLIN, 0};
    int ready = ::poll(&wait, 1, guardMs);
    ::close(fd);
    return ready > 0;
}
} // namespace

TDovecotServer::TDovecotServer() {
    char pattern[] = "/tmp/pv-dovecot-XXXXXX";
    FFolder = ::mkdtemp(pattern);
    // The mail processes run as the mail user and must reach the Maildirs.
    ::chmod(FFolder.c_str(), 0755);
    if (::geteuid() == 0) {
        const passwd* mail = ::getpwnam("mail");
        FMailUid = mail ? mail->pw_uid : 8;
        FMailGid = mail ? mail->pw_gid : 8;
    } else {
        FMailUid = ::geteuid();
        FMailGid = ::getegid();
    }
    fs::create_directories(fs::path(FFolder) / "run");
    fs::create_directories(fs::path(FFolder) / "state");
    fs::create_directories(fs::path(FFolder) / "mail");
    ::chown((FFolder + "/mail").c_str(), FMailUid, FMailGid);
}

TDovecotServer::~TDovecotServer() {
    Stop();
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
}

std::string TDovecotServer::MaildirOf(const std::string& user) const {
    return FFolder + "/mail/" + user + "/Maildir";
}

void TDovecotServer::EnableTls(const std::string& certificate, const std::string& key,
                               bool optional) {
    FCertificate = certificate;
    FKey = key;
    FTlsOptional = optional;
}

void TDovecotServer::AddUser(const std::string& user, const std::string& password) {
    std::ofstream users(FFolder + "/users", std::ios::app);
    users << user << ":{PLAIN}" << password << "::::::\n";
    for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
        fs::create_directories(MaildirOf(user) + sub);
    }
    for (const std::string& dir :
         {FFolder + "/mail/" + user, MaildirOf(user), MaildirOf(user) + "/cur",
          MaildirOf(user) + "/new", MaildirOf(user) + "/tmp"}) {
        ::chown(dir.c_str(), FMailUid, FMailGid);
    }
}

std::string TDovecotServer::AddMessage(const std::string& user, const std::string& text) {
    // Dovecot numbers new mail in file-name order; the names sort by delivery.
    char name[64];
    std::snprintf(name, sizeof name, "%010d.M%dP1.pvtest", 1000000000 + FDelivered, FDelivered);
    ++FDelivered;
    std::string path = MaildirOf(user) + "/new/" + name;
    WriteFile(path, text);
    ::chown(path.c_str(), FMailUid, FMailGid);
    return name;
}

std::string TDovecotServer::OAuthPassdb() const {
    if (FIntrospectionUrl.empty()) return "";
    WriteFile(FFolder + "/oauth2.conf",
              "introspection_mode = post\nintrospection_url = " + FIntrospectionUrl +
                  "\nforce_introspection = yes\n"
                  "username_attribute = username\n"
                  "active_attribute = active\nactive_value = true\n");
    return "passdb {\n  driver = oauth2\n  mechanisms = " + FTokenMechanisms +
           "\n  args = " + FFolder + "/oauth2.conf\n}\n";
}

void TDovecotServer::WriteConfiguration() const {
    const bool root = ::geteuid() == 0;
    const std::string addresses = FIpv6 ? "127.0.0.1, ::1" : "127.0.0.1";
    auto TlsSettings = [this] {
        if (FCertificate.empty()) return std::string("ssl = no\n");
        return std::string(FTlsOptional ? "ssl = yes" : "ssl = required") + "\nssl_cert = <" +
               FCertificate + "\nssl_key = <" + FKey + "\n";
    };
    std::ostringstream c;
    c << "base_dir = " << FFolder << "/run\n"
      << "state_dir = " << FFolder << "/state\n"
      << "log_path = " << FFolder << "/dovecot.log\n"
      << "protocols = pop3\n"
      << "listen = " << addresses << "\n"
      << TlsSettings() << "disable_plaintext_auth = no\n"
      << "auth_mechanisms = plain" << (FIntrospectionUrl.empty() ? "" : " " + FTokenMechanisms)
      << "\n"
      << "auth_failure_delay = 0\n"
      << "auth_verbose = yes\n"
      << "first_valid_uid = 1\n"
      << "default_login_user = " << (root ? "dovenull" : UserName(::geteuid())) << "\n"
      << "default_internal_user = " << (root ? "dovecot" : UserName(::geteuid())) << "\n"
      << "mail_location = maildir:" << FFolder << "/mail/%u/Maildir\n"
      << (FIdsAlike ? "pop3_uidl_format = %08Xu\n" : "") << OAuthPassdb()
      << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << FFolder
      << "/users\n}\n"
      << "userdb {\n  driver = static\n  args = uid=" << FMailUid << " gid=" << FMailGid
      << " home=" << FFolder << "/mail/%u\n}\n"
      << "service pop3-login {\n  inet_listener pop3 {\n    address = " << addresses
      << "\n    port = " << FPort << "\n  }\n";
    if (!FCertificate.empty()) {
        c << "  inet_listener pop3s {\n    address = " << addresses << "\n    port = " << FTlsPort
          << "\n    ssl = yes\n  }\n";
    }
    c << (root ? "" : "  chroot =\n") << "}\n";
    if (!root) c << "service anvil {\n  chroot =\n}\nservice imap-login {\n  chroot =\n}\n";
    WriteFile(FFolder + "/dovecot.conf", c.str());
}

bool TDovecotServer::Start(std::string& error) {
    if (::access(kDovecot, X_OK) != 0) {
        error = std::string(kDovecot) + " is not installed";
        return false;
    }
    // The port can be taken between the look-up and the bind; then try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        FPort = FreeLoopbackPort();
        FTlsPort = FCertificate.empty() ? 0 : FreeLoopbackPort();
        WriteConfiguration();
        std::string config = FFolder + "/dovecot.conf";
        std::string errors = FFolder + "/dovecot.err";
        char* argv[] = {const_cast<char*>(kDovecot), const_cast<char*>("-F"),
                        const_cast<char*>("-c"), config.data(), nullptr};
        posix_spawn_file_actions_t files;
        ::posix_spawn_file_actions_init(&files);
        ::posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&files, 1, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                           0600);
        ::posix_spawn_file_actions_adddup2(&files, 1, 2);
        int spawned = ::posix_spawn(&FPid, kDovecot, &files, nullptr, argv, environ);
        ::posix_spawn_file_actions_destroy(&files);
        if (spawned != 0) {
            FPid = -1;
            error = "cannot run dovecot";
            return false;
        }
        if (WaitUntilListening()) return true;
        Stop();
    }
    error = "dovecot did not start:\n" + ReadFile(FFolder + "/dovecot.err") + Log();
    return false;
}

bool TDovecotServer::WaitUntilListening() const {
    // Dovecot fills its run folder while it starts; every change there is a moment to try
    // again. The time-out only guards against a server that never comes up.
    int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, (FFolder + "/run").c_str(), IN_CREATE | IN_MODIFY);
    int exited = int(::syscall(SYS_pidfd_open, FPid, 0));
    bool listening = false;
    for (int waited = 0; waited < kStartGuardMs && !listening; waited += kRetryMs) {
        listening = CanConnect(FPort);
        if (listening) break;
        pollfd fds[2] = {{watch, POLLIN, 0}, {exited, POLLIN, 0}};
        ::poll(fds, 2, kRetryMs);
        if (fds[1].revents) break; // it gave up
        char drain[4096];
        while (::read(watch, drain, sizeof drain) > 0) {
        }
    }
    ::close(watch);
    ::close(exited);
    return listening;
}

void TDovecotServer::Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    if (!WaitForExit(FPid, kStopGuardMs)) ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}

std::string TDovecotServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

std::vector<std::string> TDovecotServer::Messages(const std::string& user) const {
    std::vector<fs::path> files;
    for (const char* sub : {"/new", "/cur"}) {
        for (const auto& entry : fs::directory_iterator(MaildirOf(user) + sub)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<std::string> texts;
    for (const fs::path& file : files) texts.push_back(ReadFile(file));
    return texts;
}

std::string TDovecotServer::Log() const {
    return ReadFile(FFolder + "/dovecot.log");
}

} // namespace pvtest
