// A socket library for the binding to load instead of the C library: it notes the calls the
// event selection and the cancel make and hands them on to the C library. Every other
// function comes from the C library it depends on. Its connect always reports "under way",
// so the connect's completion is always checked the way a slow server needs.
#include <cerrno>
#include <dlfcn.h>
#include <string>
#include <sys/socket.h>

namespace {
std::string gCalls;

template <class F> F* Next(const char* name) {
    return reinterpret_cast<F*>(::dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" {
__attribute__((visibility("default"))) const char* pv_recorded_calls() {
    return gCalls.c_str();
}

__attribute__((visibility("default"))) int connect(int s, const sockaddr* name, socklen_t length) {
    int result = Next<int(int, const sockaddr*, socklen_t)>("connect")(s, name, length);
    if (result == 0) {
        errno = EINPROGRESS;
        return -1;
    }
    return result;
}

__attribute__((visibility("default"))) int shutdown(int s, int how) noexcept {
    gCalls += "shutdown ";
    return Next<int(int, int)>("shutdown")(s, how);
}

__attribute__((visibility("default"))) int getpeername(int s, sockaddr* name,
                                                       socklen_t* length) noexcept {
    gCalls += "getpeername ";
    return Next<int(int, sockaddr*, socklen_t*)>("getpeername")(s, name, length);
}

__attribute__((visibility("default"))) int getsockopt(int s, int level, int option, void* value,
                                                      socklen_t* length) noexcept {
    gCalls += "getsockopt ";
    return Next<int(int, int, int, void*, socklen_t*)>("getsockopt")(s, level, option, value,
                                                                     length);
}

__attribute__((visibility("default"))) ssize_t recv(int s, void* buffer, size_t length, int flags) {
    if (flags & MSG_PEEK) gCalls += "peek ";
    return Next<ssize_t(int, void*, size_t, int)>("recv")(s, buffer, length, flags);
}
}
