#include "dialup/RasProvider.h"

#include "dialup/RasErrors.h"

#include <algorithm>
#include <cstring>

namespace {
// Fills a caller's array of records under the RAS buffer rules: the first record announces
// the record size, the byte count says how much room there is; too little room gives
// ERROR_BUFFER_TOO_SMALL with the needed byte count and record count.
template <class TRecord, class TItem, class TFill>
uint32_t FillRecords(TRecord* records, uint32_t* byteCount, uint32_t* count,
                     const std::vector<TItem>& items, TFill fill) {
    if (!records || !byteCount || !count) return ERROR_INVALID_PARAMETER;
    if (*byteCount < sizeof(TRecord) || records[0].dwSize != sizeof(TRecord))
        return ERROR_INVALID_SIZE;
    const uint32_t needed = uint32_t(items.size() * sizeof(TRecord));
    if (*byteCount < needed) {
        *byteCount = needed;
        *count = uint32_t(items.size());
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::memset(&records[i], 0, sizeof(TRecord));
        records[i].dwSize = sizeof(TRecord);
        fill(records[i], items[i]);
    }
    *byteCount = needed;
    *count = uint32_t(items.size());
    return 0;
}
} // namespace

void CopyRasField(char* field, std::size_t capacity, const std::string& s) {
    const std::size_t n = std::min(capacity, s.size());
    std::memcpy(field, s.data(), n);
    field[n] = 0;
}

bool TRasLibrary::Exports(std::string_view name) const {
    static const std::string_view kExports[] = {"RasDialA",
                                                "RasEnumConnectionsA",
                                                "RasEnumEntriesA",
                                                "RasGetConnectStatusA",
                                                "RasGetErrorStringA",
                                                "RasHangUpA",
                                                "RasGetEntryDialParamsA",
                                                "RasGetProjectionInfoA"};
    return std::find(std::begin(kExports), std::end(kExports), name) != std::end(kExports);
}

uint32_t TRasProvider::RasDialA(const void*, const char*, TRasDialParamsA* params,
                                uint32_t notifierType, TRasDialFunc1 notifier, THRasConn* handle) {
    if (!params || !handle) return ERROR_INVALID_PARAMETER;
    if (notifier && notifierType != kRasNotifierType1) return ERROR_INVALID_PARAMETER;
    *handle = 0;
    if (params->dwSize != sizeof(TRasDialParamsA)) return ERROR_INVALID_SIZE;
    return Dial(RasFieldText(params->szEntryName), notifier, *handle);
}

uint32_t TRasProvider::RasEnumConnectionsA(TRasConnA* connections, uint32_t* byteCount,
                                           uint32_t* count) {
    return FillRecords(connections, byteCount, count, Connections(),
                       [](TRasConnA& r, const TRasConnInfo& c) {
                           r.hrasconn = c.Handle;
                           CopyRasField(r.szEntryName, c.EntryName);
                           CopyRasField(r.szDeviceType, c.DeviceType);
                           CopyRasField(r.szDeviceName, c.DeviceName);
                       });
}

uint32_t TRasProvider::RasEnumEntriesA(const char*, const char*, TRasEntryNameA* entries,
                                       uint32_t* byteCount, uint32_t* count) {
    return FillRecords(
        entries, byteCount, count, PhoneBook(),
        [](TRasEntryNameA& r, const std::string& name) { CopyRasField(r.szEntryName, name); });
}

uint32_t TRasProvider::RasGetConnectStatusA(THRasConn handle, TRasConnStatusA* status) {
    if (!status) return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(TRasConnStatusA)) return ERROR_INVALID_SIZE;
    TRasLinkStatus link;
    if (uint32_t r = Status(handle, link)) return r;
    status->rasconnstate = link.State;
    status->dwError = link.Error;
    CopyRasField(status->szDeviceType, link.DeviceType);
    CopyRasField(status->szDeviceName, link.DeviceName);
    return 0;
}

uint32_t TRasProvider::RasGetErrorStringA(uint32_t error, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return ERROR_INVALID_PARAMETER;
    const std::string text = RasErrorText(error);
    if (text.size() >= size) return ERROR_BUFFER_TOO_SMALL;
    CopyRasField(buffer, size - 1, text);
    return 0;
}

uint32_t TRasProvider::RasHangUpA(THRasConn handle) {
    if (handle == 0) return ERROR_INVALID_HANDLE;
    return HangUp(handle);
}

uint32_t TRasProvider::RasGetEntryDialParamsA(const char*, TRasDialParamsA* params,
                                              int32_t* passwordSaved) {
    if (!params) return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(TRasDialParamsA)) return ERROR_INVALID_SIZE;
    TRasDialCredentials credentials;
    if (uint32_t r = DialParams(RasFieldText(params->szEntryName), credentials)) return r;
    CopyRasField(params->szPhoneNumber, credentials.PhoneNumber);
    CopyRasField(params->szUserName, credentials.UserName);
    CopyRasField(params->szPassword, credentials.Password);
    CopyRasField(params->szDomain, credentials.Domain);
    if (passwordSaved) *passwordSaved = credentials.Password.empty() ? 0 : 1;
    return 0;
}

namespace {
template <class TRecord>
uint32_t FillProjection(void* info, uint32_t* byteCount, const TRasAddresses& addresses) {
    if (*byteCount < sizeof(TRecord)) {
        *byteCount = sizeof(TRecord);
        return ERROR_BUFFER_TOO_SMALL;
    }
    auto* ip = static_cast<TRecord*>(info);
    ip->dwError = 0;
    CopyRasField(ip->szIpAddress, addresses.Client);
    CopyRasField(ip->szServerIpAddress, addresses.Server);
    return 0;
}
} // namespace

uint32_t TRasProvider::RasGetProjectionInfoA(THRasConn handle, uint32_t projection, void* info,
                                             uint32_t* byteCount) {
    if (projection != RASP_PppIp || !info || !byteCount) return ERROR_INVALID_PARAMETER;
    if (*byteCount < sizeof(TRasPppIpA)) {
        *byteCount = sizeof(TRasPppIpA);
        return ERROR_BUFFER_TOO_SMALL;
    }
    // The record's size says which one it is: the first, or the wide one.
    const uint32_t size = static_cast<TRasPppIpA*>(info)->dwSize;
    if (size != sizeof(TRasPppIpA) && size != sizeof(TRasPppIpWideA)) return ERROR_INVALID_SIZE;
    TRasAddresses addresses;
    if (uint32_t r = Addresses(handle, addresses)) return r;
    return size == sizeof(TRasPppIpA) ? FillProjection<TRasPppIpA>(info, byteCount, addresses)
                                      : FillProjection<TRasPppIpWideA>(info, byteCount, addresses);
}
