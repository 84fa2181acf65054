// The RAS provider of a machine without connection management: an empty phone book, so
// accounts never dial, and for open connections the interfaces that carry a default route
// in the kernel's routing table, so a machine on the network reads as online.
#pragma once

#include "dialup/KernelRoutes.h"
#include "dialup/RasProvider.h"

#include <map>

class TRasEmpty : public TRasProvider {
public:
    // The routing tables to read (tests pass their own files); handles are numbered from
    // firstHandle.
    explicit TRasEmpty(std::string ipv4Table = kIpv4RouteTable,
                       std::string ipv6Table = kIpv6RouteTable, THRasConn firstHandle = 1);

protected:
    // The connection manager's provider reads the routes through this one while the manager
    // is away.
    friend class TRasNetworkManager;

    std::vector<std::string> PhoneBook() override { return {}; }
    uint32_t DialParams(const std::string&, TRasDialCredentials&) override {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    uint32_t Dial(const std::string&, TRasDialFunc1, THRasConn&) override {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    std::vector<TRasConnInfo> Connections() override;
    uint32_t Status(THRasConn handle, TRasLinkStatus& status) override;
    // Nothing here was dialled, so nothing is ours to hang up.
    uint32_t HangUp(THRasConn) override { return ERROR_INVALID_HANDLE; }
    uint32_t Addresses(THRasConn handle, TRasAddresses& addresses) override;

private:
    // The route of a handle, if that interface still carries a default route.
    bool RouteOf(THRasConn handle, TDefaultRoute& route);

    std::string FIpv4Table, FIpv6Table;
    // One handle per interface for the whole run.
    std::map<std::string, THRasConn> FHandles;
    THRasConn FNextHandle;
};
