// TRasProvider: the base of our RAS libraries. It implements the record-level entry points
// (sizes, buffers, fixed-length fields) once, over a small model that each provider
// supplies: its phone book, its connections, dialling and hanging up.
#pragma once

#include "dialup/RasApi.h"

#include <string>
#include <vector>

struct TRasDialCredentials {
    std::string UserName, Password, PhoneNumber, Domain;
};

struct TRasConnInfo {
    THRasConn Handle = 0;
    std::string EntryName, DeviceType, DeviceName;
};

struct TRasLinkStatus {
    int32_t State = 0;
    uint32_t Error = 0;
    std::string DeviceType, DeviceName;
};

struct TRasAddresses {
    std::string Client, Server; // printable IPv4 or IPv6 address, empty when there is none
};

class TRasProvider : public TRasLibrary {
public:
    uint32_t RasDialA(const void* dialExtensions, const char* phoneBook, TRasDialParamsA* params,
                      uint32_t notifierType, TRasDialFunc1 notifier, THRasConn* handle) final;
    uint32_t RasEnumConnectionsA(TRasConnA* connections, uint32_t* byteCount,
                                 uint32_t* count) final;
    uint32_t RasEnumEntriesA(const char* reserved, const char* phoneBook, TRasEntryNameA* entries,
                             uint32_t* byteCount, uint32_t* count) final;
    uint32_t RasGetConnectStatusA(THRasConn handle, TRasConnStatusA* status) final;
    uint32_t RasGetErrorStringA(uint32_t error, char* buffer, uint32_t size) final;
    uint32_t RasHangUpA(THRasConn handle) final;
    uint32_t RasGetEntryDialParamsA(const char* phoneBook, TRasDialParamsA* params,
                                    int32_t* passwordSaved) final;
    uint32_t RasGetProjectionInfoA(THRasConn handle, uint32_t projection, void* info,
                                   uint32_t* byteCount) final;

protected:
    // Names of the phone-book entries, in phone-book order.
    virtual std::vector<std::string> PhoneBook() = 0;
    // 0 and the entry's credentials, or ERROR_CANNOT_FIND_PHONEBOOK_ENTRY.
    virtual uint32_t DialParams(const std::string& entry, TRasDialCredentials& credentials) = 0;
    // Starts a dial. With a notifier: returns at once and reports from the provider's
    // thread; without: returns when the link is up or has failed. handle is set whenever a
    // connection came into being, also on failure.
    virtual uint32_t Dial(const std::string& entry, TRasDialFunc1 notifier, THRasConn& handle) = 0;
    // The open connections (links that are up), in a stable order.
    virtual std::vector<TRasConnInfo> Connections() = 0;
    virtual uint32_t Status(THRasConn handle, TRasLinkStatus& status) = 0;
    virtual uint32_t HangUp(THRasConn handle) = 0;
    virtual uint32_t Addresses(THRasConn handle, TRasAddresses& addresses) = 0;
};

// Copies s into a fixed field of capacity+1 bytes, cut to capacity, zero-terminated.
void CopyRasField(char* field, std::size_t capacity, const std::string& s);
template <std::size_t N> void CopyRasField(char (&field)[N], const std::string& s) {
    CopyRasField(field, N - 1, s);
}
// The zero-terminated text of a fixed field (never reads past it).
template <std::size_t N> std::string RasFieldText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n]) ++n;
    return std::string(field, n);
}
