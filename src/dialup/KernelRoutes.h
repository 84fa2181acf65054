// The kernel's default routes, read from its routing tables under /proc (no traffic on the
// network): what tells a machine without a connection manager that it is online.
#pragma once

#include <string>
#include <vector>

inline constexpr char kIpv4RouteTable[] = "/proc/net/route";
inline constexpr char kIpv6RouteTable[] = "/proc/net/ipv6_route";

struct TDefaultRoute {
    std::string Interface;
    std::string Gateway; // printable address; empty for a route without a gateway
    bool operator==(const TDefaultRoute&) const = default;
};

// One entry per interface that carries a default route which is up (IPv4 first, then
// IPv6), loopback and reject routes left out. A table that cannot be read has none.
std::vector<TDefaultRoute> DefaultRoutes(const std::string& ipv4Table = kIpv4RouteTable,
                                         const std::string& ipv6Table = kIpv6RouteTable);

// The first IPv4 address of an interface, else its first IPv6 address; empty when it has
// none.
std::string InterfaceAddress(const std::string& interfaceName);
