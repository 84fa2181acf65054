#include "dialup/KernelRoutes.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace {
constexpr unsigned long kRouteUp = 0x0001;     // RTF_UP
constexpr unsigned long kRouteReject = 0x0200; // RTF_REJECT
constexpr std::size_t kIpv6Hex = 32;
const char kLoopback[] = "lo";

bool HexValue(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 8) return false;
    std::size_t used = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size();
}

// 32 hex digits, network order, into 16 bytes.
bool Ipv6Bytes(const std::string& hex, unsigned char (&bytes)[16]) {
    if (hex.size() != kIpv6Hex) return false;
    for (std::size_t i = 0; i < 16; ++i) {
        unsigned long b = 0;
        if (!HexValue(hex.substr(i * 2, 2), b)) return false;
        bytes[i] = static_cast<unsigned char>(b);
    }
    return true;
}

void Add(std::vector<TDefaultRoute>& routes, const std::string& name, std::string gateway) {
    if (name == kLoopback) return;
    const bool known = std::any_of(routes.begin(), routes.end(),
                                   [&](const TDefaultRoute& r) { return r.Interface == name; });
    if (!known) routes.push_back({name, std::move(gateway)});
}

// "Iface Destination Gateway Flags RefCnt Use Metric Mask ...", addresses as hex in host
// order.
void ReadIpv4(const std::string& file, std::vector<TDefaultRoute>& routes) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line); // the column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask))
            continue;
        unsigned long dest = 1, netmask = 1, flagBits = 0, via = 0;
        if (!HexValue(destination, dest) || !HexValue(mask, netmask) ||
            !HexValue(flags, flagBits) || !HexValue(gateway, via))
            continue;
        if (dest != 0 || netmask != 0 || !(flagBits & kRouteUp) || (flagBits & kRouteReject))
            continue;
        std::string printable;
        if (via != 0) {
            in_addr address{};
            address.s_addr = static_cast<in_addr_t>(via);
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &address, text, sizeof text)) printable = text;
        }
        Add(routes, name, printable);
    }
}

// "destination prefix source prefix next-hop metric refs use flags iface", hex.
void ReadIpv6(const std::string& file, std::vector<TDefaultRoute>& routes) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refs, use, flags,
            name;
        if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
              refs >> use >> flags >> name))
            continue;
        unsigned long prefixBits = 1, flagBits = 0;
        if (destination != std::string(kIpv6Hex, '0') || !HexValue(prefix, prefixBits) ||
            prefixBits != 0 || !HexValue(flags, flagBits) || !(flagBits & kRouteUp) ||
            (flagBits & kRouteReject))
            continue;
        std::string printable;
        unsigned char bytes[16];
        if (nextHop != std::string(kIpv6Hex, '0') && Ipv6Bytes(nextHop, bytes)) {
            char text[INET6_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET6, bytes, text, sizeof text)) printable = text;
        }
        Add(routes, name, printable);
    }
}
} // namespace

std::vector<TDefaultRoute> DefaultRoutes(const std::string& ipv4Table,
                                         const std::string& ipv6Table) {
    std::vector<TDefaultRoute> routes;
    ReadIpv4(ipv4Table, routes);
    ReadIpv6(ipv6Table, routes);
    return routes;
}

std::string InterfaceAddress(const std::string& interfaceName) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string v4, v6;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || !a->ifa_name || interfaceName != a->ifa_name) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ifa_addr->sa_family == AF_INET && v4.empty()) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) v4 = text;
        } else if (a->ifa_addr->sa_family == AF_INET6 && v6.empty()) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
            if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) v6 = text;
        }
    }
    freeifaddrs(list);
    return v4.empty() ? v6 : v4;
}
