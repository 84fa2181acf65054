#include "LoopbackPort.h"
#include "NetFixture.h"
#include "net/Mssocket.h"
#include "net/ResStrings.h"
#include "net/SocketErrors.h"

#include <cerrno>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
class WinsockTest : public TNetTest {};

std::string RaisedText(int code) {
    return MessageOf<EWinsockError>([&] { GlobalWinsock->RaiseError(code); });
}

} // namespace

TEST_F(WinsockTest, ErrorTextsComeFromTheStringTableByCode) {
    EXPECT_EQ(RaisedText(10061), "[10061] Connection refused");
    EXPECT_EQ(RaisedText(11001), "[11001] Host not found");
    EXPECT_EQ(RaisedText(10000), "[0] No Error");
    EXPECT_EQ(RaisedText(10013), "[10013] Permission denied.");
    EXPECT_EQ(RaisedText(12345), "Winsock error no 12345");
    // Only the low 16 bits count, for the text and for the fallback.
    EXPECT_EQ(RaisedText(0x10000 + 10061), "[10061] Connection refused");
    EXPECT_EQ(RaisedText(0x10000 + 12345), "Winsock error no 12345");

    int texts = 0;
    for (int id = 40000; id < 40000 + 0x10000; ++id) {
        std::string text = LoadResString(id);
        if (text.empty()) continue;
        ++texts;
        int code = id == 50000 ? 0 : id - 40000;
        EXPECT_EQ(text.rfind("[" + std::to_string(code) + "] ", 0), 0u) << text;
    }
    EXPECT_EQ(texts, 52);
}

TEST_F(WinsockTest, SystemErrorsBecomeWinsockCodes) {
    EXPECT_EQ(WinsockCodeOfErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockCodeOfErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockCodeOfErrno(EAGAIN), 10035);
    EXPECT_EQ(WinsockCodeOfErrno(EINPROGRESS), 10035);
    EXPECT_EQ(WinsockCodeOfErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WinsockCodeOfErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinsockCodeOfErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockCodeOfResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(WinsockCodeOfResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(WinsockCodeOfResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(TmsWinsock::WSAGetSelectEvent(0x274D0010), FD_CONNECT);
    EXPECT_EQ(TmsWinsock::WSAGetSelectError(0x274D0010), 10061);
}

TEST_F(WinsockTest, StartsVersionOneOne) {
    EXPECT_TRUE(GlobalWinsock->IsLoaded());
    EXPECT_EQ(GlobalWinsock->Version, 0x0101);
    EXPECT_FALSE(GlobalWinsock->Description.empty());
    EXPECT_EQ(MessageOf<EWinsockError>([] { TmsWinsock refused(0x0000); }),
              "Invalid winsock version");
}

TEST_F(WinsockTest, WithoutTheLibraryEveryCallFails) {
    TmsWinsock missing(0x0101, "libpv-no-such-library.so");
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_EQ(MessageOf<EWinsockError>([&] { missing.socket(AF_INET, SOCK_STREAM, 0); }),
              "Winsock not loaded");

    TmsClientSocket socket;
    socket.SetWinsock(&missing);
    socket.SetHost("127.0.0.1:110");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { socket.Connect(); }), "Winsock not loaded");
    EXPECT_FALSE(socket.IsConnected());

    EXPECT_EQ(MessageOf<EWinsockError>([] { GlobalWinsock->GetProc("pv_no_such_function"); }),
              "Function pv_no_such_function not found");
}

TEST_F(WinsockTest, ResolvesNamesAndKeepsDottedAddresses) {
    EXPECT_EQ(GlobalWinsock->ResolveHost("192.168.1.10"), "192.168.1.10");
    EXPECT_EQ(GlobalWinsock->ResolveHost("localhost"), "127.0.0.1");
    EXPECT_EQ(MessageOf<EWinsockError>([] { GlobalWinsock->ResolveHost("pop.example.invalid"); }),
              "[11001] Host not found");

    // The broadcast address reads as "not a dotted address": the name lookup gives it
    // back, and the address check then refuses it.
    EXPECT_EQ(GlobalWinsock->ResolveHost("255.255.255.255"), "255.255.255.255");
    EXPECT_EQ(MessageOf<EWinsockError>([] { GlobalWinsock->ParseAddress("255.255.255.255"); }),
              "[10022] Invalid argument");

    // Names that do not fit the 128-byte buffer are refused, not cut.
    std::string longest(127 - 8, 'a');
    longest += ".invalid";
    EXPECT_EQ(MessageOf<EWinsockError>([&] { GlobalWinsock->ResolveHost(longest); }),
              "[11001] Host not found");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { GlobalWinsock->ResolveHost("a" + longest); }),
              "Host name too long (more than 127 characters)");
}

TEST_F(WinsockTest, CancelInterruptsABlockingCallFromAnotherThread) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::thread canceler([] {
        // Fails until the receive below has started.
        while (GlobalWinsock->WSACancelBlockingCall() != 0) std::this_thread::yield();
    });
    char byte;
    EXPECT_EQ(GlobalWinsock->recv(pair[0], &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(GlobalWinsock->WSAGetLastError(), WSAEINTR);
    canceler.join();
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(WinsockTest, EveryCallGoesThroughTheLoadedLibrary) {
    TmsWinsock recording(0x0101, PV_RECORDING_SOCKETS);
    ASSERT_TRUE(recording.IsLoaded());
    auto* calls = reinterpret_cast<const char* (*)()>(recording.GetProc("pv_recorded_calls"));
    pvtest::TFakePop3Server server;
    server.Close(); // at once: the client learns of it from the event selection
    TmsClientSocket socket;
    socket.SetWinsock(&recording);
    socket.SetHost(server.HostAndPort());
    bool closed = false;
    socket.OnDisconnected = [&](TmsSocketBase*) { closed = true; };
    socket.Connect(); // the connect is always under way: its completion is asked for
    while (!closed) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(std::string(calls()), "getpeername getsockopt peek ");

    // What the cancel interrupts is shut down.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::thread canceler([&] {
        while (recording.WSACancelBlockingCall() != 0) std::this_thread::yield();
    });
    char byte;
    EXPECT_EQ(recording.recv(pair[0], &byte, 1, 0), SOCKET_ERROR);
    canceler.join();
    EXPECT_EQ(std::string(calls()), "getpeername getsockopt peek shutdown ");
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(WinsockTest, RefusedConnectionReportsAndLeavesNothingOpen) {
    for (bool blocking : {false, true}) {
        TmsClientSocket socket;
        socket.SetBlocking(blocking);
        socket.SetHost("127.0.0.1:" + std::to_string(pvtest::FreeLoopbackPort()));
        int disconnected = 0;
        socket.OnDisconnected = [&](TmsSocketBase*) { ++disconnected; };
        EXPECT_EQ(MessageOf<EWinsockError>([&] { socket.Connect(); }),
                  "[10061] Connection refused");
        EXPECT_FALSE(socket.IsConnected()) << "blocking " << blocking;
        EXPECT_EQ(disconnected, 0);
    }
}
