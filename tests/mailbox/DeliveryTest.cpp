// Delivery to the places a mail program reads: what real readers find there (Python's mailbox
// module, notmuch, Dovecot's delivery agent), the mbox locks, and that a delivery that does not
// finish leaves nothing behind.
#include "mailbox/Delivery.h"
#include "DovecotServer.h"
#include "PeakMemory.h"
#include "ScopedSeam.h"
#include "TempHome.h"
#include "base/Clock.h"
#include "platform/DurableFile.h"

#include <QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
// As the server sends them: CR LF line ends. Quoting, 8-bit bytes, a lone CR, no final line end.
const std::vector<std::string> kMessages = {
    "Return-Path: <bounce@lists.example>\r\nFrom: Ann <ann@example.org>\r\nSubject: quoting\r\n"
    "\r\nFrom here on\r\n>From quoted\r\n>>From twice\r\nFromage\r\n>From\r\n\r\n",
    "Return-Path: <>\r\nFrom: Ben <ben@example.org>\r\nSubject: 8 bit\r\n\r\ncaf\xe9 \xff\x80\r\na "
    "lone \r in a "
    "line\r\nno final line end",
    "Subject: no sender\r\n\r\n\r\nFrom \r\n",
};
const char* const kSenders[] = {"bounce@lists.example", "ben@example.org", "MAILER-DAEMON"};
// Whole, at every byte (CR and LF apart, "From " cut everywhere), and in pieces of five.
const std::size_t kPieceSizes[] = {1 << 20, 1, 5};

std::string WithLf(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

std::string Deliver(TDeliveryTarget& target, std::string_view message, std::size_t pieceSize) {
    const auto sink = target.Begin();
    for (std::size_t at = 0; at < message.size(); at += pieceSize)
        sink->Write(message.substr(at, pieceSize));
    std::string where = sink->Finish();
    target.Flush();
    return where;
}

struct TRun {
    int ExitCode = -1;
    std::string Out, Err;
};

TRun RunProgram(const QString& program, const QStringList& args,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// Every message Python's mailbox module reads in a Maildir or an mbox ("maildir"/"mbox"), as
// "FROM-LINE\n" + bytes (an mbox's ">From " quoting undone; Maildir messages sorted).
std::vector<std::string> ReadWithPython(const char* kind, const std::string& path) {
    static const char* const kReader = R"(
import mailbox, re, sys
kind, path = sys.argv[1], sys.argv[2]
if kind == 'maildir':
    box = mailbox.Maildir(path, factory=None, create=False)
    items = sorted([b'', box.get_bytes(k)] for k in box.keys())
else:
    box = mailbox.mbox(path, create=False)
    items = [[box.get_message(k).get_from().encode('latin-1'),
              re.sub(rb'(?m)^>(>*From )', rb'\1', box.get_bytes(k))] for k in box.keys()]
for head, data in items:
    sys.stdout.buffer.write(b'%d ' % len(data) + head + b'\n' + data)
)";
    const TRun run = RunProgram("python3", {"-c", kReader, kind, QString::fromStdString(path)});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    std::vector<std::string> messages;
    for (std::size_t at = 0; at < run.Out.size();) {
        const std::size_t eol = run.Out.find('\n', at);
        const std::size_t size = std::stoul(run.Out.substr(at, eol - at));
        const std::size_t space = run.Out.find(' ', at);
        messages.push_back(run.Out.substr(space + 1, eol - space) + run.Out.substr(eol + 1, size));
        at = eol + 1 + size;
    }
    return messages;
}

struct Delivery : ::testing::Test {
    pvtest::TTempHome home{"pv-delivery"};
    std::string dir = home.Path().string();
    TManualClock clock;
    pvtest::TScopedSeam<TClock*> clockSeam{SetClock, &clock};
    pvtest::TScopedEnv utc{"TZ", "UTC"};

    void SetUp() override {
        ::tzset();
        clock.Wall = 1796835597000; // Wed Dec  9 16:59:57 2026
    }
};

TEST_F(Delivery, MaildirReaderFindsEveryMessageAsSentWithLfLineEnds) {
    const auto target = MaildirTarget(dir + "/Maildir/");
    std::vector<std::string> expected;
    for (const std::string& message : kMessages) {
        for (const std::size_t size : kPieceSizes) {
            const std::string path = Deliver(*target, message, size);
            EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir + "/Maildir/new"));
            EXPECT_EQ(fs::status(path).permissions(),
                      fs::perms::owner_read | fs::perms::owner_write);
            expected.push_back("\n" + WithLf(message));
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ReadWithPython("maildir", dir + "/Maildir"), expected);
    for (const char* sub : {"", "/tmp", "/new", "/cur"})
        EXPECT_EQ(fs::status(dir + "/Maildir" + sub).permissions(), fs::perms::owner_all) << sub;
    EXPECT_TRUE(fs::is_empty(dir + "/Maildir/tmp"));
}

TEST_F(Delivery, MboxReaderFindsEveryMessageWithSenderAndDate) {
    const std::string mbox = dir + "/inbox";
    // A message already there without its final line end.
    WriteFileDurably(mbox, "From old@example.org Mon Jan  1 00:00:00 2024\nSubject: old\n\nold");
    std::vector<std::string> expected = {"old@example.org Mon Jan  1 00:00:00 2024\n"
                                         "Subject: old\n\nold\n"};
    const auto target = MboxTarget(mbox);
    for (std::size_t i = 0; i < kMessages.size(); ++i) {
        for (const std::size_t size : kPieceSizes) {
            EXPECT_EQ(Deliver(*target, kMessages[i], size), "mbox " + mbox);
            std::string text = WithLf(kMessages[i]);
            if (text.back() != '\n') text += '\n';
            expected.push_back(std::string(kSenders[i]) + " Wed Dec  9 16:59:57 2026\n" + text);
        }
    }
    EXPECT_EQ(ReadWithPython("mbox", mbox), expected);
    // A message is followed by a blank line, a line end added where it had none.
    EXPECT_NE(ReadWholeFile(mbox).find("no final line end\n\nFrom "), std::string::npos);
    EXPECT_FALSE(fs::exists(mbox + ".lock"));
}

// Delivers a message with an RFC 2047 subject through a Maildir and asks notmuch for it.
TEST_F(Delivery, NotmuchIndexesTheMaildirAndFindsTheSubject) {
    const std::string maildir = dir + "/mail";
    const auto target = MaildirTarget(maildir);
    Deliver(*target, kMessages[0], 7);
    const std::string path = Deliver(
        *target,
        "From: ann@example.org\r\nSubject: =?utf-8?b?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n\r\nHi\r\n", 3);
    const std::string config = dir + "/notmuch-config";
    WriteFileDurably(config, "[database]\npath=" + maildir +
                                 "\n[user]\nname=Test\nprimary_email=test@example.org\n"
                                 "[new]\ntags=inbox;\n[search]\nexclude_tags=\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NOTMUCH_CONFIG", QString::fromStdString(config));
    env.insert("HOME", QString::fromStdString(dir));
    const TRun indexed = RunProgram("notmuch", {"new"}, env);
    ASSERT_EQ(indexed.ExitCode, 0) << "notmuch: " << indexed.Err;
    const TRun found = RunProgram(
        "notmuch", {"search", "--output=files", QString::fromUtf8("subject:\"Grüße aus Köln\"")},
        env);
    EXPECT_EQ(found.Out, path + "\n") << found.Err;
}

// A child process that holds the mbox's fcntl lock until its input closes.
struct TLockHolder {
    QProcess process;
    explicit TLockHolder(const std::string& path) {
        process.start("python3", {"-c",
                                  "import fcntl, sys\nf = open(sys.argv[1], 'r+')\n"
                                  "fcntl.lockf(f, fcntl.LOCK_EX)\nprint('held', flush=True)\n"
                                  "sys.stdin.read()",
                                  QString::fromStdString(path)});
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
    }
    ~TLockHolder() {
        process.closeWriteChannel();
        process.waitForFinished(30000);
    }
};

TEST_F(Delivery, MboxWaitsForItsLocksThenFailsLeavingTheFileAlone) {
    const std::string mbox = dir + "/inbox";
    const std::string before = "From a@b Mon Jan  1 00:00:00 2024\n\nkept\n\n";
    WriteFileDurably(mbox, before);
    const auto target = MboxTarget(mbox);
    {
        TLockHolder holder(mbox);
        ASSERT_EQ(holder.process.readLine().toStdString(), "held\n");
        try {
            Deliver(*target, kMessages[0], 10);
            FAIL() << "delivered under another program's lock";
        } catch (const EDeliveryFailed& e) {
            EXPECT_NE(std::string(e.Message).find("locked by another program"), std::string::npos);
        }
        EXPECT_GE(clock.Now, kMboxLockWaitMs);
        EXPECT_LE(clock.Now, kMboxLockWaitMs + kMboxLockRetryMs);
        EXPECT_FALSE(fs::exists(mbox + ".lock"));
    }
    // Another program's lock file: waited for, left in place, and our fcntl lock given up.
    WriteFileDurably(mbox + ".lock", "");
    clock.Pauses.clear();
    EXPECT_THROW(Deliver(*target, kMessages[0], 10), EDeliveryFailed);
    EXPECT_FALSE(clock.Pauses.empty());
    EXPECT_TRUE(fs::exists(mbox + ".lock"));
    const TRun probe = RunProgram("python3", {"-c",
                                              "import fcntl, sys\nf = open(sys.argv[1], 'r+')\n"
                                              "fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)",
                                              QString::fromStdString(mbox)});
    EXPECT_EQ(probe.ExitCode, 0) << probe.Err;
    EXPECT_EQ(ReadWholeFile(mbox), before);
}

TEST_F(Delivery, UnfinishedDeliveriesLeaveNothingBehind) {
    const std::string mbox = dir + "/inbox";
    const std::string before = "From a@b Mon Jan  1 00:00:00 2024\n\nkept\n\n";
    WriteFileDurably(mbox, before);
    const std::string body(200000, 'x');
    {
        const auto sink = MboxTarget(mbox)->Begin();
        sink->Write(kMessages[1] + body);
        EXPECT_GT(fs::file_size(mbox), before.size()); // written, not held back
    }
    EXPECT_EQ(ReadWholeFile(mbox), before);
    EXPECT_FALSE(fs::exists(mbox + ".lock"));

    // A file size limit makes the disk refuse a write part way (in a child: the limit is the
    // process's).
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 1000, before.size() + 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            Deliver(*MboxTarget(mbox), kMessages[1] + body, 4096);
        } catch (const EInOutError& e) {
            ::_exit(e.ErrorCode == EFBIG ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadWholeFile(mbox), before);

    const std::string maildir = dir + "/Maildir";
    const auto target = MaildirTarget(maildir);
    target->Begin()->Write(kMessages[0]);
    EXPECT_TRUE(fs::is_empty(maildir + "/tmp"));
    EXPECT_TRUE(fs::is_empty(maildir + "/new"));
    // Finished messages reach new/ only with the flush; a Maildir whose new/ went away fails
    // there and takes its tmp/ files with it.
    for (int i = 0; i < 2; ++i) {
        const auto sink = target->Begin();
        sink->Write(kMessages[i]);
        sink->Finish();
    }
    EXPECT_TRUE(fs::is_empty(maildir + "/new"));
    fs::remove(maildir + "/new");
    EXPECT_THROW(target->Flush(), EInOutError);
    EXPECT_TRUE(fs::is_empty(maildir + "/tmp"));
    EXPECT_FALSE(fs::exists(maildir + "/new"));
    // Nor does a target dropped before its flush leave anything behind.
    {
        const auto dropped = MaildirTarget(maildir);
        dropped->Begin()->Finish();
    }
    EXPECT_TRUE(fs::is_empty(maildir + "/tmp"));
    EXPECT_TRUE(fs::is_empty(maildir + "/new"));
    // What a killed delivery left in tmp/ goes with the next one; a running writer's and
    // another program's files stay.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const auto ours = [&](pid_t pid) {
        return "1796835597.M1P" + std::to_string(pid) + "Q1R1f." + host;
    };
    const std::vector<std::string> kept = {ours(::getpid()),
                                           "1796835597.M1P" + std::to_string(gone) + "." + host};
    for (const std::string& name : {ours(gone), kept[0], kept[1]})
        WriteFileDurably(maildir + "/tmp/" + name, "x");
    MaildirTarget(maildir)->Begin();
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(maildir + "/tmp"))
        left.push_back(entry.path().filename().string());
    EXPECT_THAT(left, ::testing::UnorderedElementsAreArray(kept));
}

// A delivery program given by a shell command line (run without a shell: sh is the program).
std::unique_ptr<TDeliveryTarget> Program(const std::string& script, int timeoutMs = 30000) {
    return ProgramTarget("sh -c \"" + script + "\" sh %F", timeoutMs);
}

TEST_F(Delivery, ProgramReadsTheMessageAndTheSenderWhileTalkingALot) {
    // A megabyte on its standard error before it reads a megabyte of message.
    const std::string script = "head -c 1000000 /dev/zero >&2; printf %s \\\"\\$1\\\" >" + dir +
                               "/sender; cat >" + dir + "/body";
    const auto target = Program(script);
    const std::string message = kMessages[0] + std::string(1000000, 'y') + "\r\n";
    EXPECT_EQ(Deliver(*target, message, 65536), "program sh -c \"" + script + "\" sh %F");
    EXPECT_EQ(ReadWholeFile(dir + "/body"), WithLf(message));
    EXPECT_EQ(ReadWholeFile(dir + "/sender"), kSenders[0]);
}

TEST_F(Delivery, ProgramExitStatusDecidesAndItsErrorLineIsTold) {
    struct TCase {
        const char* script;
        int timeoutMs;
        const char* told;
        bool deferred;
    } const cases[] = {
        {"cat >/dev/null; echo busy >&2; exit 75", 30000, "try again later (exit status 75): busy",
         true},
        {"echo mailbox full >&2; echo more >&2; exit 1", 30000, "exit status 1: mailbox full",
         false},
        {"echo dying >&2; kill -9 \\$\\$", 30000, "signal 9: dying", false},
        {"echo stuck >&2; exec sleep 60", 300, "did not finish in time and was stopped: stuck",
         false},
        {"exec true", 30000, "ended before it read the whole message", false},
    };
    for (const TCase& c : cases) {
        const auto target = Program(c.script, c.timeoutMs);
        try {
            Deliver(*target, kMessages[1] + std::string(1 << 20, 'z'), 65536);
            ADD_FAILURE() << c.script << ": delivered";
        } catch (const Exception& e) {
            EXPECT_EQ(dynamic_cast<const EDeliveryDeferred*>(&e) != nullptr, c.deferred)
                << c.script;
            EXPECT_NE(e.Message.find(c.told), std::string::npos) << e.Message;
        }
    }
    EXPECT_THROW(Deliver(*ProgramTarget("/nonexistent/deliver", 1000), kMessages[0], 9),
                 EDeliveryFailed);
}

// Every message a POP3 server serves to Python's poplib, its lines ended by LF.
std::vector<std::string> ServedMessages(uint16_t port, const std::string& user) {
    static const char* const kReader = R"(
import poplib, sys
box = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=30)
box.user(sys.argv[2]); box.pass_('secret')
for n in range(1, box.stat()[0] + 1):
    data = b'\n'.join(box.retr(n)[1]) + b'\n'
    sys.stdout.buffer.write(b'%d\n' % len(data) + data)
box.quit()
)";
    const TRun run =
        RunProgram("python3", {"-c", kReader, QString::number(port), QString::fromStdString(user)});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    std::vector<std::string> messages;
    for (std::size_t at = 0; at < run.Out.size();) {
        const std::size_t eol = run.Out.find('\n', at);
        const std::size_t size = std::stoul(run.Out.substr(at, eol - at));
        messages.push_back(run.Out.substr(eol + 1, size));
        at = eol + 1 + size;
    }
    return messages;
}

// Dovecot's delivery agent fills a Maildir that Python reads, and that a second Dovecot serves
// back over POP3 with the bytes each message was collected with (after the agent's own
// header lines).
TEST_F(Delivery, DovecotDeliveryAgentAsTheProgramFillsAMaildirReadersAndAServerGiveBack) {
    const char* const lda = "/usr/lib/dovecot/dovecot-lda";
    if (::access(lda, X_OK) != 0) GTEST_SKIP() << lda << " is not installed";
    const std::string maildir = dir + "/Maildir";
    fs::create_directory(maildir);
    WriteFileDurably(dir + "/lda.conf",
                     "base_dir = " + dir +
                         "/run\nlog_path = /dev/stderr\n"
                         "mail_location = maildir:" +
                         maildir + "\n",
                     true, 0644);
    // As root it would want the user looked up by a running server: it runs as nobody instead.
    std::string command = std::string(lda) + " -c " + dir + "/lda.conf -f %F";
    if (::geteuid() == 0) {
        command = "setpriv --reuid=nobody --regid=nogroup --clear-groups " + command;
        for (const std::string& path : {dir, maildir}) {
            ::chown(path.c_str(), 65534, 65534);
            fs::permissions(path, fs::perms::all);
        }
    }
    const auto target = ProgramTarget(command, 30000);
    for (const std::string& message : kMessages) Deliver(*target, message, 5);
    const std::vector<std::string> read = ReadWithPython("maildir", maildir);
    ASSERT_EQ(read.size(), kMessages.size());
    for (const std::string& message : kMessages) {
        const std::string text = WithLf(message);
        EXPECT_EQ(std::count_if(read.begin(), read.end(),
                                [&](const std::string& m) {
                                    return m.size() >= text.size() && m.ends_with(text);
                                }),
                  1)
            << text;
    }
    pvtest::TDovecotServer dovecot;
    dovecot.AddUser("lda", "secret");
    for (const auto& entry : fs::directory_iterator(maildir + "/new"))
        dovecot.AddMessage("lda", ReadWholeFile(entry.path().string()));
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    const std::vector<std::string> served = ServedMessages(dovecot.Port(), "lda");
    ASSERT_EQ(served.size(), kMessages.size());
    for (const std::string& message : kMessages) {
        std::string text = WithLf(message);
        if (text.back() != '\n') text += '\n'; // a POP3 answer ends its last line
        EXPECT_EQ(std::count_if(served.begin(), served.end(),
                                [&](const std::string& m) { return m.ends_with(text); }),
                  1)
            << text;
    }
}

// A header block that never ends is held up to its limit only, and the rest streams through.
TEST_F(Delivery, MemoryStaysBoundedHoweverLongTheMessage) {
    const auto target =
        Program("printf %s \\\"\\$1\\\" >" + dir + "/sender; wc -c >" + dir + "/count");
    std::string piece = "X-Long: ";
    while (piece.size() < 65536)
        piece += "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n ";
    const long before = pvtest::PeakMegabytes();
    const auto sink = target->Begin();
    constexpr int kPieces = 2048; // 128 MB
    for (int i = 0; i < kPieces; ++i) sink->Write(piece);
    sink->Finish();
    EXPECT_LT(pvtest::PeakMegabytes() - before, 16 + pvtest::kAllocatorSlackMb);
    EXPECT_EQ(ReadWholeFile(dir + "/sender"), kNoSender);
    EXPECT_EQ(std::stoll(ReadWholeFile(dir + "/count")), int64_t(WithLf(piece).size()) * kPieces);
}

TEST_F(Delivery, TargetsAreMadeFromTheirDescriptions) {
    pvtest::TScopedEnv homeFolder("HOME", dir);
    EXPECT_EQ(MakeDeliveryTarget("files", 5), nullptr);
    EXPECT_EQ(MakeDeliveryTarget("", 5), nullptr);
    const std::string path = Deliver(*MakeDeliveryTarget("maildir:~/Mail", 5), kMessages[0], 64);
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir + "/Mail/new"));
    EXPECT_EQ(Deliver(*MakeDeliveryTarget("mbox:~/inbox", 5), kMessages[0], 64),
              "mbox " + dir + "/inbox");
    for (const char* wrong : {"maildir:", "pop3:x", "mda:sh -c \"exit 0", "mda:  "})
        EXPECT_THROW(MakeDeliveryTarget(wrong, 5), EDeliveryFailed) << wrong;
}
} // namespace
