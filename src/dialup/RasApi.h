// The Remote Access Service interface as the dial-up component sees it: the records, state
// codes and error numbers of RAS, and TRasLibrary, the set of entry points a loaded RAS
// library offers. On Linux the "library" is one of our providers (NetworkManager, the
// simulator, the empty phone book); GetRasProc in RasBinding.h finds it by name.
#pragma once

#include <cstdint>
#include <string_view>

using THRasConn = int32_t; // RAS connection handle; 0 = none

// Capacities of the record fields, without the terminating zero.
inline constexpr int RAS_MaxEntryName = 256;
inline constexpr int RAS_MaxDeviceType = 16;
inline constexpr int RAS_MaxDeviceName = 128;
inline constexpr int RAS_MaxPhoneNumber = 128;
inline constexpr int RAS_MaxCallbackNumber = 128;
inline constexpr int RAS_MaxIpAddress = 15;
inline constexpr int UNLEN = 256;
inline constexpr int PWLEN = 256;
inline constexpr int DNLEN = 15;

struct TRasEntryNameA {
    uint32_t dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
};

struct TRasConnA {
    uint32_t dwSize;
    THRasConn hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct TRasConnStatusA {
    uint32_t dwSize;
    int32_t rasconnstate;
    uint32_t dwError;
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct TRasDialParamsA {
    uint32_t dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};

struct TRasPppIpA {
    uint32_t dwSize;
    uint32_t dwError;
    char szIpAddress[RAS_MaxIpAddress + 1];
    char szServerIpAddress[RAS_MaxIpAddress + 1];
};

// The IP projection with room for an IPv6 address (up to 45 characters): the same fields,
// wider, told apart from the first record by its dwSize.
inline constexpr int kRasMaxIpText = 45;
struct TRasPppIpWideA {
    uint32_t dwSize;
    uint32_t dwError;
    char szIpAddress[kRasMaxIpText + 1];
    char szServerIpAddress[kRasMaxIpText + 1];
};

// The first published sizes; every record announces its size in dwSize.
static_assert(sizeof(TRasEntryNameA) == 264);
static_assert(sizeof(TRasConnA) == 412);
static_assert(sizeof(TRasConnStatusA) == 160);
static_assert(sizeof(TRasDialParamsA) == 1052);
static_assert(sizeof(TRasPppIpA) == 40);

// Connection states (RASCONNSTATE).
enum : int32_t {
    RASCS_OpenPort = 0,
    RASCS_PortOpened,
    RASCS_ConnectDevice,
    RASCS_DeviceConnected,
    RASCS_AllDevicesConnected,
    RASCS_Authenticate,
    RASCS_AuthNotify,
    RASCS_AuthRetry,
    RASCS_AuthCallback,
    RASCS_AuthChangePassword,
    RASCS_AuthProject,
    RASCS_AuthLinkSpeed,
    RASCS_AuthAck,
    RASCS_ReAuthenticate,
    RASCS_Authenticated,
    RASCS_PrepareForCallback,
    RASCS_WaitForModemReset,
    RASCS_WaitForCallback,
    RASCS_Projected,
    RASCS_StartAuthentication,
    RASCS_CallbackComplete,
    RASCS_LogonNetwork,
    RASCS_Interactive = 0x1000,
    RASCS_RetryAuthentication,
    RASCS_CallbackSetByCaller,
    RASCS_PasswordExpired,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected,
};

// Error numbers the providers report.
enum : uint32_t {
    ERROR_INVALID_HANDLE = 6,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_BUFFER_TOO_SMALL = 603,
    ERROR_DEVICE_DOES_NOT_EXIST = 608,
    ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623,
    ERROR_DISCONNECTION = 628,
    ERROR_REMOTE_DISCONNECTION = 629,
    ERROR_USER_DISCONNECTION = 631,
    ERROR_INVALID_SIZE = 632,
    ERROR_PORT_NOT_AVAILABLE = 633,
    ERROR_REQUEST_TIMEOUT = 638,
    ERROR_NO_DIALIN_PERMISSION = 649,
    ERROR_FROM_DEVICE = 651,
    ERROR_LINE_BUSY = 676,
    ERROR_NO_ANSWER = 678,
    ERROR_NO_DIALTONE = 680,
    ERROR_AUTHENTICATION_FAILURE = 691,
    ERROR_SERVICE_NOT_AVAILABLE = 711,
    ERROR_PPP_TIMEOUT = 718,
    ERROR_PPP_NO_PROTOCOLS = 720,
    ERROR_PROJECTION_NOT_COMPLETE = 730,
};

inline constexpr uint32_t WM_RASDIALEVENT = 0xCCCD; // message number of a progress report
inline constexpr uint32_t RASP_PppIp = 0x8021;      // IP projection of a PPP link

// Progress notifier of an asynchronous dial (notifier type 1): runs on a thread of the
// provider, one report at a time, and names the connection it reports on.
using TRasDialFunc1 = void (*)(THRasConn hrasconn, uint32_t unMsg, int32_t rascs, uint32_t dwError,
                               uint32_t dwExtendedError);
inline constexpr uint32_t kRasNotifierType1 = 1;

// A loaded RAS library: the eight entry points and the names it exports them under.
// Results are 0 or a RAS error number. All calls come from the GUI thread.
class TRasLibrary {
public:
    virtual ~TRasLibrary() = default;

    // True when the library exports a function of exactly that name.
    virtual bool Exports(std::string_view name) const;
    // True while the phone book is still being read: a provider that asks a service lists
    // its entries once the service has answered (RasPhoneBookRead, RasBinding.h).
    virtual bool PhoneBookPending() const { return false; }

    virtual uint32_t RasDialA(const void* dialExtensions, const char* phoneBook,
                              TRasDialParamsA* params, uint32_t notifierType,
                              TRasDialFunc1 notifier, THRasConn* handle) = 0;
    virtual uint32_t RasEnumConnectionsA(TRasConnA* connections, uint32_t* byteCount,
                                         uint32_t* count) = 0;
    virtual uint32_t RasEnumEntriesA(const char* reserved, const char* phoneBook,
                                     TRasEntryNameA* entries, uint32_t* byteCount,
                                     uint32_t* count) = 0;
    virtual uint32_t RasGetConnectStatusA(THRasConn handle, TRasConnStatusA* status) = 0;
    virtual uint32_t RasGetErrorStringA(uint32_t error, char* buffer, uint32_t size) = 0;
    virtual uint32_t RasHangUpA(THRasConn handle) = 0;
    virtual uint32_t RasGetEntryDialParamsA(const char* phoneBook, TRasDialParamsA* params,
                                            int32_t* passwordSaved) = 0;
    virtual uint32_t RasGetProjectionInfoA(THRasConn handle, uint32_t projection, void* info,
                                           uint32_t* byteCount) = 0;
};
