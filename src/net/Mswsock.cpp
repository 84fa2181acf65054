#include "net/Mswsock.h"

#include "base/StrUtils.h"
#include "net/AsyncSelect.h"
#include "net/ResStrings.h"
#include "net/SocketErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace {
const char* const kInvalidVersion = "Invalid winsock version";
const char* const kNotLoaded = "Winsock not loaded";
const char* const kFunction = "Function ";
const char* const kNotFound = " not found";
const char* const kErrorNo = "Winsock error no ";
const char* const kHostTooLong = "Host name too long (more than 127 characters)";
const char* const kSystemStatus = "Running";

// The host name buffers hold 128 bytes with the closing NUL.
constexpr std::size_t kHostBufferSize = 128;
constexpr int kStringBase = 40000;
constexpr uint16_t kSupportedVersion = 0x0101;
constexpr uint16_t kMaxUdpDatagram = 65507;

thread_local int tLastError = 0;

// The values the binding passes on unchanged.
static_assert(WSA_SOCK_STREAM == SOCK_STREAM);
static_assert(WSA_SD_RECEIVE == SHUT_RD && WSA_SD_SEND == SHUT_WR && WSA_SD_BOTH == SHUT_RDWR);

// Host names under the reserved top-level domain "invalid" never resolve (RFC 6761, 6.4);
// they are answered at once, without asking the resolver.
bool IsReservedInvalidName(std::string_view name) {
    while (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return SameText(name, "invalid") ||
           (name.size() > 8 && SameText(name.substr(name.size() - 8), ".invalid"));
}

// Versions compare by major (low byte), then minor (high byte).
int VersionOrder(uint16_t v) {
    return (v & 0xFF) * 256 + (v >> 8);
}

void CopyCut(char* target, std::size_t capacity, std::string_view text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), n);
    target[n] = 0;
}

void CheckHostLength(std::string_view host) {
    if (host.size() >= kHostBufferSize) throw EWinsockError(kHostTooLong);
}
} // namespace

struct TmsWinsock::THostEntry {
    hostent Entry{};
    in_addr Address{};
    char* AddressList[2] = {nullptr, nullptr};
    char* NoAliases[1] = {nullptr};
    std::string Name;
};

TmsWinsock* GlobalWinsock = nullptr;

void CreateGlobalWinsock() {
    if (!GlobalWinsock) GlobalWinsock = new TmsWinsock(0x0101);
}

void FreeGlobalWinsock() {
    delete GlobalWinsock;
    GlobalWinsock = nullptr;
}

TmsWinsock::TmsWinsock(uint16_t requestedVersion, const char* libraryName)
    : FLibraryName(libraryName ? libraryName : ""), FAsync(std::make_unique<TAsyncSelect>(*this)),
      FHostEntry(std::make_unique<THostEntry>()) {
    FHandle = ::dlopen(FLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) return;
    TWSAData data;
    if (WSAStartup(requestedVersion, &data) != 0) {
        ::dlclose(FHandle);
        FHandle = nullptr;
        throw EWinsockError(kInvalidVersion);
    }
    Version = data.wVersion;
    HighVersion = data.wHighVersion;
    Description = ShortText(data.szDescription);
    SystemStatus = ShortText(data.szSystemStatus);
    MaxSockets = data.iMaxSockets;
    MaxUdpDg = data.iMaxUdpDg;
}

TmsWinsock::~TmsWinsock() {
    if (!FHandle) return;
    WSACleanup();
    FAsync.reset();
    ::dlclose(FHandle);
    FHandle = nullptr;
}

void TmsWinsock::RequireLoaded() const {
    if (!FHandle) throw EWinsockError(kNotLoaded);
}

void* TmsWinsock::GetProc(const char* name) {
    RequireLoaded();
    void* address = ::dlsym(FHandle, name);
    if (!address) throw EWinsockError(std::string(kFunction) + name + kNotFound);
    return address;
}

void TmsWinsock::RaiseError(int code) {
    int low = code & 0xFFFF;
    std::string text = LoadResString(kStringBase + low);
    if (text.empty()) text = kErrorNo + std::to_string(low);
    throw EWinsockError(text);
}

std::string TmsWinsock::ResolveHost(std::string_view host) {
    CheckHostLength(host);
    char buffer[kHostBufferSize];
    CopyCut(buffer, sizeof buffer, host);
    if (inet_addr(buffer) != INADDR_NONE_VALUE) return std::string(host);
    const hostent* entry = gethostbyname(buffer);
    if (!entry) RaiseError(WSAGetLastError());
    in_addr address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return inet_ntoa(address);
}

uint32_t TmsWinsock::ParseAddress(std::string_view text) {
    CheckHostLength(text);
    char buffer[kHostBufferSize];
    CopyCut(buffer, sizeof buffer, text);
    uint32_t address = inet_addr(buffer);
    if (address == INADDR_NONE_VALUE) RaiseError(WSAGetLastError());
    return address;
}

bool TmsWinsock::IsAddressLiteral(std::string_view text) {
    auto* parse = Proc<int(int, const char*, void*)>("inet_pton");
    const std::string address(text);
    unsigned char buffer[sizeof(in6_addr)];
    return parse(AF_INET, address.c_str(), buffer) == 1 ||
           parse(AF_INET6, address.c_str(), buffer) == 1;
}

std::vector<TSocketAddress> TmsWinsock::ResolveAll(std::string_view host, uint16_t port) {
    CheckHostLength(host);
    auto* lookup = Proc<int(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo");
    auto* release = Proc<void(addrinfo*)>("freeaddrinfo");
    auto* toText = Proc<const char*(int, const void*, char*, socklen_t)>("inet_ntop");
    const std::string name(host);
    if (IsReservedInvalidName(name)) RaiseError(WSAHOST_NOT_FOUND);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int result = lookup(name.c_str(), service.c_str(), &hints, &found);
    if (result != 0) RaiseError(WinsockCodeOfResolver(result, errno));
    std::vector<TSocketAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(TSocketAddress::Address)) {
            continue;
        }
        TSocketAddress& address = addresses.emplace_back();
        address.Family = a->ai_family;
        address.Length = int(a->ai_addrlen);
        std::memcpy(address.Address, a->ai_addr, a->ai_addrlen);
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = a->ai_family == AF_INET
                              ? static_cast<const void*>(
                                    &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr)
                              : static_cast<const void*>(
                                    &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if (toText(a->ai_family, raw, text, sizeof text)) address.Text = text;
    }
    release(found);
    if (addresses.empty()) RaiseError(WSANO_DATA);
    return addresses;
}

int TmsWinsock::WSAGetLastError() const {
    return tLastError;
}
void TmsWinsock::WSASetLastError(int code) {
    tLastError = code;
}

int TmsWinsock::Fail(int code) {
    tLastError = code;
    return SOCKET_ERROR;
}

int TmsWinsock::FailErrno() {
    return Fail(WinsockCodeOfErrno(errno));
}

void TmsWinsock::EnterBlocking(TSocket s) {
    FBlockingCanceled = false;
    FBlockingSocket = s;
}

bool TmsWinsock::LeaveBlocking() {
    FBlockingSocket = INVALID_SOCKET;
    return FBlockingCanceled.exchange(false);
}

TSocket TmsWinsock::socket(int af, int type, int protocol) {
    auto* fn = Proc<int(int, int, int)>("socket");
    int s = fn(af, type | SOCK_CLOEXEC, protocol);
    if (s < 0) return FailErrno();
    return s;
}

int TmsWinsock::connect(TSocket s, const sockaddr* name, int nameLen) {
    auto* fn = Proc<int(int, const sockaddr*, socklen_t)>("connect");
    EnterBlocking(s);
    int result = fn(s, name, socklen_t(nameLen));
    int error = errno;
    if (LeaveBlocking()) return Fail(WSAEINTR);
    if (result == 0) {
        FAsync->ConnectDone(s);
        return 0;
    }
    if (error == EINPROGRESS) FAsync->ConnectStarted(s);
    return Fail(WinsockCodeOfErrno(error));
}

int TmsWinsock::closesocket(TSocket s) {
    auto* fn = Proc<int(int)>("close");
    FAsync->Forget(s);
    if (fn(s) != 0) return FailErrno();
    return 0;
}

int TmsWinsock::ioctlsocket(TSocket s, long cmd, uint32_t* argp) {
    auto* fn = Proc<int(int, unsigned long, ...)>("ioctl");
    if (!argp) return Fail(WSAEINVAL);
    int value = int(*argp);
    int result;
    if (cmd == WSA_FIONBIO) {
        result = fn(s, FIONBIO, &value);
    } else if (cmd == WSA_FIONREAD) {
        result = fn(s, FIONREAD, &value);
        if (result == 0) *argp = uint32_t(value);
    } else {
        return Fail(WSAEINVAL);
    }
    if (result != 0) return FailErrno();
    return 0;
}

int TmsWinsock::send(TSocket s, const char* buf, int len, int flags) {
    auto* fn = Proc<ssize_t(int, const void*, size_t, int)>("send");
    EnterBlocking(s);
    // A peer that has gone must give an error here, not a signal that ends the program.
    ssize_t n = fn(s, buf, size_t(len < 0 ? 0 : len), flags | MSG_NOSIGNAL);
    int error = errno;
    if (LeaveBlocking()) return Fail(WSAEINTR);
    if (n < 0) {
        if (error == EAGAIN || error == EWOULDBLOCK) FAsync->SendBlocked(s);
        return Fail(WinsockCodeOfErrno(error));
    }
    return int(n);
}

int TmsWinsock::recv(TSocket s, char* buf, int len, int flags) {
    auto* fn = Proc<ssize_t(int, void*, size_t, int)>("recv");
    EnterBlocking(s);
    ssize_t n = fn(s, buf, size_t(len < 0 ? 0 : len), flags);
    int error = errno;
    if (LeaveBlocking()) return Fail(WSAEINTR);
    FAsync->Received(s);
    if (n < 0) return Fail(WinsockCodeOfErrno(error));
    if (n == 0 && len > 0) {
        if (int broken = FAsync->TakeError(s)) return Fail(broken);
    }
    return int(n);
}

int TmsWinsock::PeekPending(TSocket s, int& error) {
    auto* fn = Proc<ssize_t(int, void*, size_t, int)>("recv");
    char byte;
    ssize_t n = fn(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n >= 0) return n > 0 ? 1 : 0;
    error = WinsockCodeOfErrno(errno);
    return -1;
}

int TmsWinsock::shutdown(TSocket s, int how) {
    if (Proc<int(int, int)>("shutdown")(s, how) != 0) return FailErrno();
    return 0;
}

int TmsWinsock::getpeername(TSocket s, sockaddr* name, int* nameLen) {
    auto* fn = Proc<int(int, sockaddr*, socklen_t*)>("getpeername");
    if (!nameLen) return Fail(WSAEINVAL);
    socklen_t length = socklen_t(*nameLen < 0 ? 0 : *nameLen);
    if (fn(s, name, &length) != 0) return FailErrno();
    *nameLen = int(length);
    return 0;
}

int TmsWinsock::getsockopt(TSocket s, int level, int optName, char* optVal, int* optLen) {
    auto* fn = Proc<int(int, int, int, void*, socklen_t*)>("getsockopt");
    if (level != WSA_SOL_SOCKET || optName != WSA_SO_ERROR || !optVal || !optLen ||
        *optLen < int(sizeof(int))) {
        return Fail(WSAEINVAL);
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (fn(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return FailErrno();
    const int code = WinsockCodeOfErrno(error);
    std::memcpy(optVal, &code, sizeof code);
    *optLen = int(sizeof code);
    return 0;
}

// In parentheses: the system headers may make htons a macro.
uint16_t(TmsWinsock::htons)(uint16_t hostShort) {
    return Proc<uint16_t(uint16_t)>("htons")(hostShort);
}

uint32_t TmsWinsock::inet_addr(const char* cp) {
    uint32_t address = Proc<in_addr_t(const char*)>("inet_addr")(cp);
    if (address == INADDR_NONE_VALUE) tLastError = WSAEINVAL;
    return address;
}

const char* TmsWinsock::inet_ntoa(in_addr in) {
    return Proc<char*(in_addr)>("inet_ntoa")(in);
}

const hostent* TmsWinsock::gethostbyname(const char* name) {
    auto* lookup = Proc<int(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo");
    auto* release = Proc<void(addrinfo*)>("freeaddrinfo");
    if (!name || IsReservedInvalidName(name)) {
        Fail(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result = lookup(name, nullptr, &hints, &found);
    if (result != 0 || !found) {
        Fail(result != 0 ? WinsockCodeOfResolver(result, errno) : WSANO_DATA);
        return nullptr;
    }
    THostEntry& h = *FHostEntry;
    h.Address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    release(found);
    h.Name = name;
    h.AddressList[0] = reinterpret_cast<char*>(&h.Address);
    h.Entry.h_name = h.Name.data();
    h.Entry.h_aliases = h.NoAliases;
    h.Entry.h_addrtype = AF_INET;
    h.Entry.h_length = sizeof h.Address;
    h.Entry.h_addr_list = h.AddressList;
    return &h.Entry;
}

int TmsWinsock::WSAStartup(uint16_t versionRequested, TWSAData* data) {
    RequireLoaded();
    if (!data || (versionRequested & 0xFF) == 0) return WSAVERNOTSUPPORTED;
    *data = TWSAData();
    data->wVersion = VersionOrder(versionRequested) < VersionOrder(kSupportedVersion)
                         ? versionRequested
                         : kSupportedVersion;
    data->wHighVersion = kSupportedVersion;
    CopyCut(data->szDescription, sizeof data->szDescription, "BSD sockets of " + FLibraryName);
    CopyCut(data->szSystemStatus, sizeof data->szSystemStatus, kSystemStatus);
    rlimit files{};
    rlim_t maxFiles = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
    data->iMaxSockets = uint16_t(std::min<rlim_t>(maxFiles, 0xFFFF));
    data->iMaxUdpDg = kMaxUdpDatagram;
    FStarted = true;
    return 0;
}

int TmsWinsock::WSACleanup() {
    RequireLoaded();
    if (!FStarted) return Fail(WSANOTINITIALISED);
    FAsync = std::make_unique<TAsyncSelect>(*this);
    FStarted = false;
    return 0;
}

int TmsWinsock::WSACancelBlockingCall() {
    RequireLoaded();
    TSocket s = FBlockingSocket;
    if (s == INVALID_SOCKET) return Fail(WSAEINVAL);
    FBlockingCanceled = true;
    // The cancel succeeds even where there is nothing to shut down (a connect under way).
    const int kept = tLastError;
    shutdown(s, WSA_SD_BOTH);
    tLastError = kept;
    return 0;
}

int TmsWinsock::WSAAsyncSelect(TSocket s, QObject* window, unsigned msg, long mask) {
    RequireLoaded();
    if (s < 0) return Fail(WSAENOTSOCK);
    if (mask != 0 && !window) return Fail(WSAEINVAL);
    // Asking a socket not yet connected for its peer fails; that is no failure of this call.
    const int kept = tLastError;
    FAsync->Select(s, window, msg, mask);
    tLastError = kept;
    return 0;
}
