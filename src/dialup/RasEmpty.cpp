#include "dialup/RasEmpty.h"

namespace {
const char kDeviceType[] = "default route";
}

TRasEmpty::TRasEmpty(std::string ipv4Table, std::string ipv6Table, THRasConn firstHandle)
    : FIpv4Table(std::move(ipv4Table)), FIpv6Table(std::move(ipv6Table)), FNextHandle(firstHandle) {
}

std::vector<TRasConnInfo> TRasEmpty::Connections() {
    std::vector<TRasConnInfo> result;
    for (const TDefaultRoute& route : DefaultRoutes(FIpv4Table, FIpv6Table)) {
        auto [it, added] = FHandles.try_emplace(route.Interface, FNextHandle);
        if (added) ++FNextHandle;
        result.push_back({it->second, route.Interface, kDeviceType, route.Interface});
    }
    return result;
}

bool TRasEmpty::RouteOf(THRasConn handle, TDefaultRoute& route) {
    for (const TDefaultRoute& r : DefaultRoutes(FIpv4Table, FIpv6Table)) {
        auto it = FHandles.find(r.Interface);
        if (it != FHandles.end() && it->second == handle) {
            route = r;
            return true;
        }
    }
    return false;
}

uint32_t TRasEmpty::Status(THRasConn handle, TRasLinkStatus& status) {
    TDefaultRoute route;
    if (!RouteOf(handle, route)) return ERROR_INVALID_HANDLE;
    status = {RASCS_Connected, 0, kDeviceType, route.Interface};
    return 0;
}

uint32_t TRasEmpty::Addresses(THRasConn handle, TRasAddresses& addresses) {
    TDefaultRoute route;
    if (!RouteOf(handle, route)) return ERROR_INVALID_HANDLE;
    addresses = {InterfaceAddress(route.Interface), route.Gateway};
    return 0;
}
