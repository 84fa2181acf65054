#include "FakePop3Server.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <mutex>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace pvtest {

namespace {
enum TStepKind { skSay, skExpect, skPause, skDelay, skClose, skAbort, skNextConnection, skRepeat };

// A repeated answer keeps at most this much queued, so the server's memory stays flat.
constexpr qint64 kRepeatQueue = 256 * 1024;

struct TStep {
    TStepKind Kind;
    std::string Text;
    int Milliseconds = 0;
    // Of a repeated answer: the repeats still to send, -1 for ever.
    int64_t Times = -1;
};

std::string Visible(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

const char* StepName(TStepKind kind) {
    switch (kind) {
    case skSay:
        return "say";
    case skExpect:
        return "expect";
    case skPause:
        return "pause";
    case skDelay:
        return "delay";
    case skClose:
        return "close";
    case skAbort:
        return "abort";
    case skNextConnection:
        return "next connection";
    case skRepeat:
        return "repeat";
    }
    return "?";
}
} // namespace

class TFakePop3Server::TCore : public QObject {
public:
    void Listen() {
        FServer = std::make_unique<QTcpServer>();
        FServer->listen(QHostAddress::LocalHost, 0);
        FPort = FServer->serverPort();
        QObject::connect(FServer.get(), &QTcpServer::newConnection, this, [this] { Accept(); });
    }

    // After this nothing more is accepted: an accept or a step already posted to the
    // server's thread (a client that went away just before, a delay that ran out) finds no
    // server and does nothing.
    void Shutdown() {
        std::lock_guard lock(FMutex);
        if (FSocket) {
            FSocket->disconnect(this);
            FSocket->abort();
            delete FSocket;
            FSocket = nullptr;
        }
        FServer.reset();
    }

    // Steps added while a connection is open run as soon as the server's thread gets to them.
    void Add(TStep step) {
        std::lock_guard lock(FMutex);
        FSteps.push_back(std::move(step));
        QMetaObject::invokeMethod(this, [this] {
            std::lock_guard lock(FMutex);
            Run();
        });
    }

    void Resume() {
        std::lock_guard lock(FMutex);
        FResumed = true;
        Run();
    }

    uint16_t Port() const { return FPort; }

    std::string Received() const {
        std::lock_guard lock(FMutex);
        return FReceived;
    }

    std::string Failure() const {
        std::lock_guard lock(FMutex);
        if (!FFailure.empty()) return FFailure;
        if (FNext < FSteps.size()) {
            const TStep& step = FSteps[FNext];
            return std::string("script not finished: next step is ") + StepName(step.Kind) + " \"" +
                   Visible(step.Text) + "\"";
        }
        if (!FInput.empty()) return "client sent \"" + Visible(FInput) + "\" after the script";
        return {};
    }

    int Connections() const {
        std::lock_guard lock(FMutex);
        return FConnections;
    }

    void HoldAnswers(int milliseconds) {
        std::lock_guard lock(FMutex);
        FHoldMs = milliseconds;
    }

    int Stalls() const {
        std::lock_guard lock(FMutex);
        return FStalls;
    }

private:
    void Accept() {
        std::lock_guard lock(FMutex);
        if (!FServer || FSocket || !FServer->hasPendingConnections()) return;
        FSocket = FServer->nextPendingConnection();
        ++FConnections;
        FInput.clear();
        FFresh = true;
        FHeld.clear();
        FUnacknowledged = FAnswerOpen = false;
        QObject::connect(FSocket, &QTcpSocket::readyRead, this, [this] { Read(); });
        QObject::connect(FSocket, &QTcpSocket::disconnected, this, [this] { Gone(); });
        // Only a repeated answer waits for the queue to drain.
        QObject::connect(FSocket, &QTcpSocket::bytesWritten, this, [this] {
            std::lock_guard lock(FMutex);
            if (FNext < FSteps.size() && FSteps[FNext].Kind == skRepeat) Run();
        });
        Run();
    }

    void Read() {
        std::lock_guard lock(FMutex);
        if (!FSocket) return;
        QByteArray bytes = FSocket->readAll();
        FReceived.append(bytes.constData(), std::size_t(bytes.size()));
        FInput.append(bytes.constData(), std::size_t(bytes.size()));
        // What the client sends acknowledges everything before it.
        if (!bytes.isEmpty()) {
            FUnacknowledged = false;
            SendHeld();
        }
        Run();
    }

    void Gone() {
        std::lock_guard lock(FMutex);
        if (!FSocket) return;
        FSocket->disconnect(this);
        FSocket->deleteLater();
        FSocket = nullptr;
        QTimer::singleShot(0, this, [this] { Accept(); });
    }

    void Fail(const std::string& text) {
        if (FFailure.empty()) FFailure = text;
    }

    // An answer's bytes, at once or held (HoldAnswersUntilAcknowledged). The rest of an answer
    // goes the way its start went.
    void Write(const std::string& bytes) {
        const bool sameAnswer = std::exchange(FAnswerOpen, true);
        const bool hold = FHoldMs >= 0 && (!FHeld.empty() || (!sameAnswer && FUnacknowledged));
        if (!hold) {
            FSocket->write(bytes.data(), qint64(bytes.size()));
            FSocket->flush();
            FUnacknowledged = true;
            return;
        }
        if (FHeld.empty()) {
            const int generation = ++FHoldGeneration;
            QTimer::singleShot(FHoldMs, this, [this, generation] {
                std::lock_guard lock(FMutex);
                if (generation != FHoldGeneration || FHeld.empty()) return;
                ++FStalls;
                SendHeld();
            });
        }
        FHeld += bytes;
    }

    void SendHeld() {
        if (FHeld.empty() || !FSocket) return;
        ++FHoldGeneration;
        FSocket->write(FHeld.data(), qint64(FHeld.size()));
        FSocket->flush();
        FHeld.clear();
        FUnacknowledged = true;
    }

    // Ends the connection; what follows in the script is for the next one.
    void Drop(bool reset) {
        SendHeld();
        QTcpSocket* socket = FSocket;
        FSocket = nullptr;
        socket->disconnect(this);
        if (reset) {
            // A zero linger time makes the close a reset.
            linger option{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &option,
                         sizeof option);
            socket->abort();
            socket->deleteLater();
        } else if (socket->state() == QAbstractSocket::UnconnectedState) {
            socket->deleteLater();
        } else {
            // Closes once what was said has gone out.
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
        }
        QTimer::singleShot(0, this, [this] { Accept(); });
    }

    // Runs the steps as far as the client's input, pauses and delays allow.
    void Run() {
        while (FSocket && FNext < FSteps.size()) {
            TStep& step = FSteps[FNext];
            bool fresh = FFresh;
            FFresh = false;
            switch (step.Kind) {
            case skNextConnection:
                if (!fresh) {
                    FFresh = false;
                    return;
                }
                FFresh = true;
                ++FNext;
                break;
            case skSay:
                Write(step.Text);
                ++FNext;
                break;
            case skExpect: {
                std::size_t lf = FInput.find('\n');
                if (lf == std::string::npos) return;
                std::string line = FInput.substr(0, lf + 1);
                FInput.erase(0, lf + 1);
                FAnswerOpen = false;
                ++FNext;
                if (line != step.Text) {
                    Fail("expected \"" + Visible(step.Text) + "\", client sent \"" + Visible(line) +
                         "\"");
                    FNext = FSteps.size();
                    Drop(true);
                    return;
                }
                break;
            }
            case skPause:
                if (!FResumed) return;
                FResumed = false;
                ++FNext;
                break;
            case skDelay:
                if (FDelayDone) {
                    FDelayDone = false;
                    ++FNext;
                    break;
                }
                if (!FDelayRunning) {
                    FDelayRunning = true;
                    QTimer::singleShot(step.Milliseconds, this, [this] {
                        std::lock_guard lock(FMutex);
                        FDelayRunning = false;
                        FDelayDone = true;
                        Run();
                    });
                }
                return;
            case skRepeat:
                // Without a count it never ends: the client has to give up.
                while (step.Times != 0 && FSocket->bytesToWrite() < kRepeatQueue) {
                    FSocket->write(step.Text.data(), qint64(step.Text.size()));
                    if (step.Times > 0) --step.Times;
                }
                if (step.Times != 0) return;
                ++FNext;
                break;
            case skClose:
            case skAbort:
                ++FNext;
                Drop(step.Kind == skAbort);
                return;
            }
        }
    }

    mutable std::recursive_mutex FMutex;
    std::unique_ptr<QTcpServer> FServer;
    QTcpSocket* FSocket = nullptr;
    uint16_t FPort = 0;
    std::vector<TStep> FSteps;
    std::size_t FNext = 0;
    std::string FInput;
    std::string FReceived;
    std::string FFailure;
    int FConnections = 0;
    bool FFresh = false; // no step has run on this connection yet
    bool FResumed = false;
    bool FDelayRunning = false;
    bool FDelayDone = false;
    // The hold of HoldAnswersUntilAcknowledged; -1 when answers are written at once.
    int FHoldMs = -1;
    int FHoldGeneration = 0;
    int FStalls = 0;
    std::string FHeld;
    bool FUnacknowledged = false;
    // A Say step ran since the last Expect: further ones belong to the same answer.
    bool FAnswerOpen = false;
};

struct TFakePop3Server::TThread {
    QThread Thread;
};

TFakePop3Server::TFakePop3Server(TStart start) : FCore(std::make_unique<TCore>()) {
    if (start == InCallerThread) {
        FCore->Listen();
        return;
    }
    FThread = std::make_unique<TThread>();
    FThread->Thread.start();
    FCore->moveToThread(&FThread->Thread);
    QMetaObject::invokeMethod(
        FCore.get(), [this] { FCore->Listen(); }, Qt::BlockingQueuedConnection);
}

TFakePop3Server::~TFakePop3Server() {
    if (FThread) {
        QMetaObject::invokeMethod(
            FCore.get(), [this] { FCore->Shutdown(); }, Qt::BlockingQueuedConnection);
        FThread->Thread.quit();
        FThread->Thread.wait();
    } else {
        FCore->Shutdown();
    }
}

uint16_t TFakePop3Server::Port() const {
    return FCore->Port();
}

std::string TFakePop3Server::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(Port());
}

TFakePop3Server& TFakePop3Server::Say(const std::string& line) {
    return SayRaw(line + "\r\n");
}

TFakePop3Server& TFakePop3Server::SayRaw(const std::string& bytes) {
    FCore->Add({skSay, bytes});
    return *this;
}

TFakePop3Server& TFakePop3Server::SayForever(const std::string& bytes) {
    return SayRepeated(bytes, -1);
}

TFakePop3Server& TFakePop3Server::SayRepeated(const std::string& bytes, int64_t times) {
    FCore->Add({skRepeat, bytes, 0, times});
    return *this;
}

TFakePop3Server& TFakePop3Server::Expect(const std::string& line) {
    FCore->Add({skExpect, line + "\r\n"});
    return *this;
}

TFakePop3Server& TFakePop3Server::Pause() {
    FCore->Add({skPause, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Delay(int milliseconds) {
    FCore->Add({skDelay, {}, milliseconds});
    return *this;
}

TFakePop3Server& TFakePop3Server::Close() {
    FCore->Add({skClose, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::Abort() {
    FCore->Add({skAbort, {}});
    return *this;
}

TFakePop3Server& TFakePop3Server::RefuseLogin(const std::string& user,
                                              const std::string& password) {
    Expect("CAPA").Say("-ERR unknown command").Expect("USER " + user).Say("+OK");
    return Expect("PASS " + password).Say("-ERR [AUTH] Authentication failed.");
}

TFakePop3Server& TFakePop3Server::ServeLogin(const std::string& user, const std::string& password,
                                             const std::string& capabilities,
                                             const std::string& statAnswer) {
    const std::string capa =
        capabilities.empty() ? "-ERR unknown command\r\n" : "+OK\r\n" + capabilities + ".\r\n";
    Expect("CAPA").SayRaw(capa);
    if (capabilities.find("PIPELINING\r\n") == std::string::npos) {
        Expect("USER " + user).Say("+OK").Expect("PASS " + password).Say("+OK Logged in.");
        return Expect("CAPA").SayRaw(capa).Expect("STAT").Say(statAnswer);
    }
    Expect("USER " + user).Expect("PASS " + password).Say("+OK").Say("+OK Logged in.");
    return Expect("CAPA").Expect("STAT").SayRaw(capa).Say(statAnswer);
}

TFakePop3Server& TFakePop3Server::OfferNoSecurity() {
    Say("+OK ready").NextConnection();
    return Say("+OK ready")
        .Expect("CAPA")
        .Say("+OK")
        .Say("USER")
        .Say(".")
        .Expect("QUIT")
        .Say("+OK");
}

TFakePop3Server& TFakePop3Server::NextConnection() {
    FCore->Add({skNextConnection, {}});
    return *this;
}

void TFakePop3Server::Resume() {
    if (FThread) {
        QMetaObject::invokeMethod(FCore.get(), [this] { FCore->Resume(); });
    } else {
        FCore->Resume();
    }
}

void TFakePop3Server::HoldAnswersUntilAcknowledged(int milliseconds) {
    FCore->HoldAnswers(milliseconds);
}

int TFakePop3Server::Stalls() const {
    return FCore->Stalls();
}

std::string TFakePop3Server::Received() const {
    return FCore->Received();
}
std::string TFakePop3Server::Failure() const {
    return FCore->Failure();
}
int TFakePop3Server::Connections() const {
    return FCore->Connections();
}

} // namespace pvtest
