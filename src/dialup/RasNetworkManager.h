// The RAS provider on NetworkManager. The phone book is the connection profiles that are
// brought up on demand (VPN, WireGuard, mobile broadband, PPPoE, Bluetooth); the open RAS
// connections are the active connections that give the machine a network, Wi-Fi and
// Ethernet included (loopback and bridges only with a default route). Dialling activates a profile
// and reports RAS states from the provider's own thread as NetworkManager's activation goes on.
// Enumeration reads a mirror kept current from NetworkManager's signals (NmState.h).
#pragma once

#include "base/Clock.h"
#include "dialup/NmState.h"
#include "dialup/RasEmpty.h"
#include "dialup/RasProvider.h"
#include "dialup/RasReportThread.h"

#include <QDBusConnection>

#include <memory>

class TRasNetworkManager : public TRasProvider {
public:
    // nullptr when NetworkManager is not on bus. Its answers come in later; the routing
    // tables stand in while they do not.
    static std::shared_ptr<TRasNetworkManager> Create(const QDBusConnection& bus,
                                                      TClock& clock = InstalledClock(),
                                                      std::string ipv4Table = kIpv4RouteTable,
                                                      std::string ipv6Table = kIpv6RouteTable);
    ~TRasNetworkManager() override;

    bool PhoneBookPending() const override { return FNm.Loading(); }
    // NetworkManager's view is complete (else the routing tables answer for the connections).
    bool Loaded() const { return FNm.Loaded(); }

protected:
    std::vector<std::string> PhoneBook() override;
    uint32_t DialParams(const std::string& entry, TRasDialCredentials& credentials) override;
    uint32_t Dial(const std::string& entry, TRasDialFunc1 notifier, THRasConn& handle) override;
    std::vector<TRasConnInfo> Connections() override;
    uint32_t Status(THRasConn handle, TRasLinkStatus& status) override;
    uint32_t HangUp(THRasConn handle) override;
    uint32_t Addresses(THRasConn handle, TRasAddresses& addresses) override;

private:
    // A RAS handle for an active connection: one we dialled, or one we enumerated.
    struct TLink {
        THRasConn Handle = 0;
        QString ActivePath;
        std::string Entry, DeviceType, DeviceName;
        bool Dialled = false;             // activated by us
        TRasDialFunc1 Notifier = nullptr; // progress reports of our asynchronous dial
        int32_t State = 0;                // last RAS state reached
        uint32_t Error = 0;               // why it ended, once it has
        bool Up = false;
        bool Ended = false;
        int Reason = -1; // last reason NetworkManager gave
    };

    TRasNetworkManager(const QDBusConnection& bus, TClock& clock, std::string ipv4Table,
                       std::string ipv6Table);
    void Activated(THRasConn handle, const QString& activePath, const QString& errorName);
    std::vector<const TNmProfile*> OnDemandProfiles() const;
    const TNmProfile* FindProfile(const std::string& entry) const;
    TLink* FindLink(THRasConn handle);
    TLink& LinkFor(const TNmActive& active);
    void ActiveChanged(const QString& activePath);
    void Advance(TLink& link, const TNmActive* active);
    void Report(TLink& link, int32_t state, uint32_t error);
    uint32_t WaitForLink(TLink& link);

    TClock& FClock;
    TNmState FNm;
    TRasEmpty FRoutes; // handles from kRouteHandles up
    std::vector<TLink> FLinks;
    THRasConn FNextHandle = 1;
    std::unique_ptr<TRasReportThread> FReports; // last: stops before the rest goes
};

// Our RAS error number for a failed NetworkManager call (D-Bus error name).
uint32_t RasErrorForNmCall(const QString& errorName);
// Our RAS error number for the reason NetworkManager gave for ending an active connection
// (-1: none given); wasUp tells a dropped link from a failed activation.
uint32_t RasErrorForNmReason(int reason, bool wasUp);
