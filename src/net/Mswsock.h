// The socket library binding. The program does not link the socket functions: one TmsWinsock
// loads the C library at run time and looks every function up by name on each call. The
// functions that only the Windows-style socket API has (start-up, last error, cancelling,
// event selection) are the binding's own. Failures carry the Windows Sockets error codes,
// so every message the user sees is the same on any system.
#pragma once

#include "base/Exceptions.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QObject;
class TAsyncSelect;
// The system's records: only the binding looks inside them.
struct sockaddr;
struct in_addr;
struct hostent;

PV_DECLARE_EXCEPTION(EWinsockError, Exception);

using TSocket = int;
inline constexpr TSocket INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;
inline constexpr uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;

// ioctlsocket commands.
inline constexpr long WSA_FIONBIO = long(0x8004667EL);
inline constexpr long WSA_FIONREAD = long(0x4004667FL);

// The socket type of socket, the option level and option of getsockopt, and what shutdown
// ends.
inline constexpr int WSA_SOCK_STREAM = 1;
inline constexpr int WSA_SOL_SOCKET = 0xFFFF;
inline constexpr int WSA_SO_ERROR = 0x1007;
inline constexpr int WSA_SD_RECEIVE = 0;
inline constexpr int WSA_SD_SEND = 1;
inline constexpr int WSA_SD_BOTH = 2;

// Event bits of WSAAsyncSelect and of a notification's low word.
inline constexpr long FD_READ = 1;
inline constexpr long FD_WRITE = 2;
inline constexpr long FD_OOB = 4;
inline constexpr long FD_ACCEPT = 8;
inline constexpr long FD_CONNECT = 16;
inline constexpr long FD_CLOSE = 32;

// Error codes.
inline constexpr int WSABASEERR = 10000;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// What WSAStartup reports (same field sizes as the Windows record).
struct TWSAData {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    uint16_t iMaxSockets = 0;
    uint16_t iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// One address of a host, ready for connect.
struct TSocketAddress {
    int Family = 0;
    int Length = 0;
    alignas(8) unsigned char Address[128] = {}; // the system's address record
    std::string Text;                           // "192.0.2.1", "2001:db8::1"
};

class TmsWinsock {
public:
    static constexpr const char* kDefaultLibrary = "libc.so.6";

    // Loads the library (a missing one is not an error yet: every later call then raises
    // "Winsock not loaded") and starts it; a refused start raises "Invalid winsock version".
    explicit TmsWinsock(uint16_t requestedVersion = 0x0101,
                        const char* libraryName = kDefaultLibrary);
    ~TmsWinsock();
    TmsWinsock(const TmsWinsock&) = delete;
    TmsWinsock& operator=(const TmsWinsock&) = delete;

    uint16_t Version = 0;
    uint16_t HighVersion = 0;
    std::string Description;
    std::string SystemStatus;
    uint16_t MaxSockets = 0;
    uint16_t MaxUdpDg = 0;

    bool IsLoaded() const { return FHandle != nullptr; }
    // The address of the export name; raises "Winsock not loaded" or "Function X not found".
    void* GetProc(const char* name);
    [[noreturn]] void RaiseError(int code);
    // The dotted address of a host name or dotted address.
    std::string ResolveHost(std::string_view host);
    // The address (network byte order) of a dotted address text.
    uint32_t ParseAddress(std::string_view text);
    // Whether text is an IPv4 or IPv6 address rather than a host name.
    bool IsAddressLiteral(std::string_view text);
    // Every address (IPv6 and IPv4, in the resolver's order of preference) of a host name or
    // address literal, with port; raises as ResolveHost does when there is none.
    std::vector<TSocketAddress> ResolveAll(std::string_view host, uint16_t port);

    static int WSAGetSelectError(intptr_t lParam) { return int((lParam >> 16) & 0xFFFF); }
    static int WSAGetSelectEvent(intptr_t lParam) { return int(lParam & 0xFFFF); }

    // The socket functions, with the Windows Sockets 1.1 arguments and results.
    TSocket socket(int af, int type, int protocol);
    int connect(TSocket s, const sockaddr* name, int nameLen);
    int closesocket(TSocket s);
    int ioctlsocket(TSocket s, long cmd, uint32_t* argp);
    int send(TSocket s, const char* buf, int len, int flags);
    int recv(TSocket s, char* buf, int len, int flags);
    int shutdown(TSocket s, int how);
    // nameLen: the room at name, then the length of the address.
    int getpeername(TSocket s, sockaddr* name, int* nameLen);
    // Knows WSA_SO_ERROR of WSA_SOL_SOCKET: the pending error of s (a Winsock code) as int.
    int getsockopt(TSocket s, int level, int optName, char* optVal, int* optLen);
    uint16_t(htons)(uint16_t hostShort); // in parentheses: it may be a macro of the system
    uint32_t inet_addr(const char* cp);
    const char* inet_ntoa(in_addr in);
    const hostent* gethostbyname(const char* name);
    int WSAStartup(uint16_t versionRequested, TWSAData* data);
    int WSACleanup();
    // The last error of the calling thread.
    int WSAGetLastError() const;
    void WSASetLastError(int code);
    int WSACancelBlockingCall();
    // Posts message msg to window (a TWindowMessageEvent: wParam the socket, lParam the
    // event in the low word and the error in the high word) for the events in mask; a mask
    // of 0 stops the notifications.
    int WSAAsyncSelect(TSocket s, QObject* window, unsigned msg, long mask);

private:
    friend class TAsyncSelect;
    // For the event selection, which must neither re-arm the read event nor touch the
    // calling thread's last error: without waiting, whether data (1) or the end (0) is
    // waiting on s, else -1 with the Winsock code in error (WSAEWOULDBLOCK when nothing is).
    int PeekPending(TSocket s, int& error);

    template <class F> F* Proc(const char* name) { return reinterpret_cast<F*>(GetProc(name)); }
    void RequireLoaded() const;
    int Fail(int code);
    int FailErrno();
    // Brackets a call that may block, so WSACancelBlockingCall can interrupt it; the result
    // becomes a failure with WSAEINTR when it was interrupted.
    void EnterBlocking(TSocket s);
    bool LeaveBlocking();

    void* FHandle = nullptr;
    std::string FLibraryName;
    bool FStarted = false;
    std::atomic<TSocket> FBlockingSocket = INVALID_SOCKET;
    std::atomic<bool> FBlockingCanceled = false;
    std::unique_ptr<TAsyncSelect> FAsync;
    // gethostbyname's result lives here until the next call, as with the system's own.
    struct THostEntry;
    std::unique_ptr<THostEntry> FHostEntry;
};

// The one binding all sockets share; the program creates it at start and frees it at the end.
extern TmsWinsock* GlobalWinsock;
// Creates GlobalWinsock for version 1.1 (raises when the start is refused) / frees it.
void CreateGlobalWinsock();
void FreeGlobalWinsock();
