// Delivery through a program of the user's choice, the message on its standard input. The
// program's standard error is read while its input is written, so a program that talks a lot
// before it reads never blocks both sides.
#include "mailbox/Delivery.h"
#include "mailbox/DeliveryText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {
using namespace delivery;
using TSteady = std::chrono::steady_clock;

// How much of the program's standard error is kept: its first line is what the user sees.
constexpr std::size_t kErrorKept = 1024;

const char* const kCannotStart = "Cannot start the delivery program %1: ";
const char* const kTookTooLong = "The delivery program %1 did not finish in time and was stopped";
const char* const kDeferred = "The delivery program %1 asks to try again later (exit status 75)";
const char* const kExitStatus = "The delivery program %1 failed with exit status ";
const char* const kSignal = "The delivery program %1 was ended by signal ";
const char* const kStoppedEarly = "The delivery program %1 ended before it read the whole message";
const char* const kNoCommand = "The delivery program's command line is empty or malformed: ";

// The words with "%F" as the sender and "%%" as "%".
std::vector<std::string> Expand(const std::vector<std::string>& words, const std::string& sender) {
    std::vector<std::string> out;
    for (const std::string& word : words) {
        std::string arg;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == 'F' || word[i + 1] == '%'))
                arg += word[++i] == 'F' ? sender : "%";
            else
                arg += word[i];
        }
        out.push_back(std::move(arg));
    }
    return out;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(std::exchange(fd, -1));
}

// Writes without letting a closed pipe end the process: SIGPIPE is held back for this
// thread and taken away again when it came.
ssize_t WriteNoSignal(int fd, std::string_view data) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &old);
    const ssize_t n = ::write(fd, data.data(), data.size());
    const int error = errno;
    if (n < 0 && error == EPIPE) {
        const timespec none{};
        ::sigtimedwait(&pipe, nullptr, &none);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

class TProgramSink : public TUndoingSink {
public:
    TProgramSink(const std::string& command, const std::vector<std::string>& words, int timeoutMs)
        : FCommand(command), FWords(words), FLeft(std::chrono::milliseconds(timeoutMs)),
          FText([this](const std::string& sender) { Start(sender); },
                [this](std::string_view text) { Send(text); }, false) {}
    ~TProgramSink() override { Undo(); }

private:
    void Put(std::string_view piece) override { FText.Put(piece); }

    std::string Complete() override {
        FText.Close(false);
        CloseFd(FInput);
        WaitForExit();
        const std::string line = FirstErrorLine();
        const std::string tail = line.empty() ? std::string() : ": " + line;
        const std::string& program = FWords.front();
        if (WIFSIGNALED(FStatus))
            throw EDeliveryFailed(FillPlaces(kSignal, {program}) +
                                  std::to_string(WTERMSIG(FStatus)) + tail);
        const int code = WEXITSTATUS(FStatus);
        if (code == kExitTempFail) throw EDeliveryDeferred(FillPlaces(kDeferred, {program}) + tail);
        if (code != 0)
            throw EDeliveryFailed(FillPlaces(kExitStatus, {program}) + std::to_string(code) + tail);
        if (FStoppedEarly) throw EDeliveryFailed(FillPlaces(kStoppedEarly, {program}) + tail);
        return "program " + FCommand;
    }

    void Start(const std::string& sender) {
        const std::vector<std::string> args = Expand(FWords, sender);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        int input[2], errors[2];
        if (::pipe2(input, O_CLOEXEC) != 0) RaiseFileError("pipe", errno);
        if (::pipe2(errors, O_CLOEXEC) != 0) {
            ::close(input[0]);
            ::close(input[1]);
            RaiseFileError("pipe", errno);
        }
        posix_spawn_file_actions_t files;
        ::posix_spawn_file_actions_init(&files);
        ::posix_spawn_file_actions_adddup2(&files, input[0], 0);
        ::posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_adddup2(&files, errors[1], 2);
        // Its own process group, so a deadline stops whatever it started too; the signals as
        // a freshly started program expects them.
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        sigset_t none, pipe;
        sigemptyset(&none);
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        ::posix_spawnattr_setsigmask(&attributes, &none);
        ::posix_spawnattr_setsigdefault(&attributes, &pipe);
        ::posix_spawnattr_setpgroup(&attributes, 0);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF);
        const int rc = ::posix_spawnp(&FPid, argv[0], &files, &attributes, argv.data(), environ);
        ::posix_spawn_file_actions_destroy(&files);
        ::posix_spawnattr_destroy(&attributes);
        ::close(input[0]);
        ::close(errors[1]);
        FInput = input[1];
        FErrors = errors[0];
        if (rc != 0) {
            FPid = -1;
            throw EDeliveryFailed(FillPlaces(kCannotStart, {FWords.front()}) + std::strerror(rc));
        }
        ::fcntl(FInput, F_SETFL, O_NONBLOCK);
        ::fcntl(FErrors, F_SETFL, O_NONBLOCK);
        FExit = int(::syscall(SYS_pidfd_open, FPid, 0));
    }

    // Writes text to the program's input, reading its standard error meanwhile.
    void Send(std::string_view text) {
        while (!text.empty() && FInput >= 0) {
            pollfd fds[2] = {{FInput, POLLOUT, 0}, {FErrors, POLLIN, 0}};
            Poll(fds, 2);
            if (fds[1].revents) ReadErrors();
            if (!fds[0].revents) continue;
            const ssize_t n = WriteNoSignal(FInput, text);
            if (n >= 0) {
                text.remove_prefix(std::size_t(n));
            } else if (errno == EPIPE) {
                // It stopped reading: what it says about that comes with its exit status.
                FStoppedEarly = true;
                CloseFd(FInput);
            } else if (errno != EAGAIN && errno != EINTR) {
                RaiseFileError("pipe", errno);
            }
        }
    }

    void WaitForExit() {
        while (FPid > 0) {
            pollfd fds[2] = {{FExit, POLLIN, 0}, {FErrors, POLLIN, 0}};
            // Without a handle on the process its end shows as the end of its standard error.
            if (FExit < 0 && FErrors < 0) Reap(0);
            if (FPid > 0) Poll(fds, 2);
            if (fds[1].revents) ReadErrors();
            if (fds[0].revents) Reap(0);
        }
        if (FErrors >= 0) ReadErrors();
    }

    // Polls within the time left to the program; past it, the program is stopped.
    void Poll(pollfd* fds, nfds_t count) {
        using std::chrono::milliseconds;
        const TSteady::time_point before = TSteady::now();
        // Rounded up, so that a wait never ends short of the time left and spins.
        const int64_t waitMs = std::chrono::ceil<milliseconds>(FLeft).count();
        const int rc = ::poll(fds, count, int(std::max<int64_t>(waitMs, 0)));
        const int error = errno;
        FLeft -= TSteady::now() - before;
        if (rc < 0 && error != EINTR) RaiseFileError("poll", error);
        if (rc == 0 || FLeft <= TSteady::duration::zero()) {
            Kill();
            if (FErrors >= 0) ReadErrors();
            const std::string line = FirstErrorLine();
            throw EDeliveryFailed(FillPlaces(kTookTooLong, {FWords.front()}) +
                                  (line.empty() ? std::string() : ": " + line));
        }
        if (rc < 0)
            for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
    }

    // Reads what the program wrote to its standard error; beyond kErrorKept it is dropped.
    void ReadErrors() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(FErrors, buffer, sizeof buffer);
            if (n > 0) {
                FErrorText.append(buffer, std::min(std::size_t(n), kErrorKept - FErrorText.size()));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || errno != EAGAIN) CloseFd(FErrors);
            return;
        }
    }

    std::string FirstErrorLine() const {
        std::string line = FErrorText.substr(0, FErrorText.find('\n'));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        return line;
    }

    void Reap(int flags) {
        if (::waitpid(FPid, &FStatus, flags) == FPid) FPid = -1;
    }

    void Kill() {
        if (FPid <= 0) return;
        ::kill(-FPid, SIGKILL);
        Reap(0);
    }

    void Undo() override {
        Kill();
        CloseFd(FInput);
        CloseFd(FErrors);
        CloseFd(FExit);
    }

    std::string FCommand;
    std::vector<std::string> FWords;
    TSteady::duration FLeft;
    pid_t FPid = -1;
    int FStatus = 0;
    int FInput = -1;
    int FErrors = -1;
    int FExit = -1;
    bool FStoppedEarly = false;
    std::string FErrorText;
    TSenderFirstText FText;
};

class TProgramTarget : public TDeliveryTarget {
public:
    TProgramTarget(std::string command, std::vector<std::string> words, int timeoutMs)
        : FCommand(std::move(command)), FWords(std::move(words)), FTimeoutMs(timeoutMs) {}
    std::unique_ptr<TDeliverySink> Begin() override {
        return std::make_unique<TProgramSink>(FCommand, FWords, FTimeoutMs);
    }

private:
    std::string FCommand;
    std::vector<std::string> FWords;
    int FTimeoutMs;
};
} // namespace

std::unique_ptr<TDeliveryTarget> ProgramTarget(std::string command, int timeoutMs) {
    std::vector<std::string> words;
    if (!SplitCommandLine(command, words) || words.empty() || words.front().empty())
        throw EDeliveryFailed(kNoCommand + command);
    return std::make_unique<TProgramTarget>(std::move(command), std::move(words), timeoutMs);
}
