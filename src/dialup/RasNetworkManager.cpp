#include "dialup/RasNetworkManager.h"

#include "base/Charset.h"
#include "base/StrUtils.h"
#include "dialup/RasBinding.h"

#include <algorithm>

namespace {
// Connection types a user brings up on demand: these are our phone book.
const char* const kOnDemandTypes[] = {"vpn", "wireguard", "gsm", "cdma", "pppoe", "bluetooth"};

constexpr int kSyncPollMs = 100;
// The routing tables' connections get handles of their own, far from ours.
constexpr THRasConn kRouteHandles = 0x10000000;
constexpr int kSyncDialLimitMs = 120000;

// NetworkManager's reasons for an active connection's state change.
enum {
    nmrUserDisconnected = 2,
    nmrServiceStopped = 4,
    nmrIpConfigInvalid = 5,
    nmrConnectTimeout = 6,
    nmrServiceStartTimeout = 7,
    nmrServiceStartFailed = 8,
    nmrNoSecrets = 9,
    nmrLoginFailed = 10,
    nmrConnectionRemoved = 11,
    nmrDependencyFailed = 12,
    nmrDeviceRealizeFailed = 13,
    nmrDeviceRemoved = 14,
};

// Links that connect the machine itself to a network.
const char* const kLinkTypes[] = {"802-3-ethernet", "802-11-wireless", "wimax", "infiniband",
                                  "adsl",           "olpc-mesh"};

template <std::size_t N> bool IsOneOf(const QString& type, const char* const (&types)[N]) {
    for (const char* t : types)
        if (type == QLatin1String(t)) return true;
    return false;
}

bool IsOnDemand(const QString& type) {
    return IsOneOf(type, kOnDemandTypes);
}

// An open connection in the RAS sense: an active connection that gives the machine a
// network. Loopback, bridges and other local links count only with a default route.
bool GivesNetwork(const TNmActive& a) {
    return IsOnDemand(a.Type) || IsOneOf(a.Type, kLinkTypes) || a.Default || a.Default6;
}

// Names cross into the program as Windows-1252 text, like everything it shows.
std::string ToAnsi(const QString& s) {
    return Utf8ToCp1252(s.toStdString());
}
} // namespace

uint32_t RasErrorForNmCall(const QString& errorName) {
    auto has = [&](const char* part) { return errorName.contains(QLatin1String(part)); };
    if (has("ServiceUnknown") || has("NoServer") || has("Disconnected") || has("NameHasNoOwner"))
        return ERROR_SERVICE_NOT_AVAILABLE;
    if (has("NoReply") || has("Timeout") || has("TimedOut")) return ERROR_REQUEST_TIMEOUT;
    if (has("PermissionDenied") || has("AccessDenied")) return ERROR_NO_DIALIN_PERMISSION;
    if (has("UnknownConnection") || has("InvalidConnection") || has("UnknownObject"))
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    if (has("UnknownDevice") || has("ConnectionNotAvailable") || has("DependencyFailed"))
        return ERROR_DEVICE_DOES_NOT_EXIST;
    return ERROR_FROM_DEVICE;
}

uint32_t RasErrorForNmReason(int reason, bool wasUp) {
    switch (reason) {
    case nmrUserDisconnected:
        return ERROR_USER_DISCONNECTION;
    case nmrServiceStopped:
        return ERROR_REMOTE_DISCONNECTION;
    case nmrIpConfigInvalid:
        return ERROR_PPP_NO_PROTOCOLS;
    case nmrConnectTimeout:
    case nmrServiceStartTimeout:
        return ERROR_PPP_TIMEOUT;
    case nmrServiceStartFailed:
    case nmrDependencyFailed:
        return ERROR_FROM_DEVICE;
    case nmrNoSecrets:
    case nmrLoginFailed:
        return ERROR_AUTHENTICATION_FAILURE;
    case nmrConnectionRemoved:
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    case nmrDeviceRealizeFailed:
    case nmrDeviceRemoved:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    default:
        return wasUp ? ERROR_REMOTE_DISCONNECTION : ERROR_DISCONNECTION;
    }
}

std::shared_ptr<TRasNetworkManager> TRasNetworkManager::Create(const QDBusConnection& bus,
                                                               TClock& clock, std::string ipv4Table,
                                                               std::string ipv6Table) {
    if (!bus.isConnected()) return nullptr;
    std::shared_ptr<TRasNetworkManager> nm(
        new TRasNetworkManager(bus, clock, std::move(ipv4Table), std::move(ipv6Table)));
    if (!nm->FNm.Load()) return nullptr;
    return nm;
}

TRasNetworkManager::TRasNetworkManager(const QDBusConnection& bus, TClock& clock,
                                       std::string ipv4Table, std::string ipv6Table)
    : FClock(clock), FNm(bus), FRoutes(std::move(ipv4Table), std::move(ipv6Table), kRouteHandles),
      FReports(std::make_unique<TRasReportThread>(clock)) {
    FNm.OnActiveChanged = [this](const QString& path) { ActiveChanged(path); };
    FNm.OnLoaded = [] { RasPhoneBookRead(); };
}

TRasNetworkManager::~TRasNetworkManager() {
    FNm.OnActiveChanged = nullptr;
    FNm.OnLoaded = nullptr;
    FReports.reset();
}

std::vector<const TNmProfile*> TRasNetworkManager::OnDemandProfiles() const {
    std::vector<const TNmProfile*> profiles;
    // A phone book read in part would shift the entries' positions.
    if (!FNm.Loaded()) return profiles;
    for (const TNmProfile& p : FNm.Profiles())
        if (IsOnDemand(p.Type)) profiles.push_back(&p);
    // Accounts name their entry by its position, so the order must not depend on the order
    // NetworkManager happened to load its profiles in.
    std::stable_sort(profiles.begin(), profiles.end(),
                     [](const TNmProfile* a, const TNmProfile* b) {
                         const int c = a->Id.compare(b->Id, Qt::CaseInsensitive);
                         return c != 0 ? c < 0 : a->Uuid < b->Uuid;
                     });
    return profiles;
}

const TNmProfile* TRasNetworkManager::FindProfile(const std::string& entry) const {
    const std::vector<const TNmProfile*> profiles = OnDemandProfiles();
    for (const TNmProfile* p : profiles)
        if (ToAnsi(p->Id) == entry) return p;
    for (const TNmProfile* p : profiles)
        if (SameText(ToAnsi(p->Id), entry)) return p;
    return nullptr;
}

TRasNetworkManager::TLink* TRasNetworkManager::FindLink(THRasConn handle) {
    for (TLink& l : FLinks)
        if (l.Handle == handle) return &l;
    return nullptr;
}

TRasNetworkManager::TLink& TRasNetworkManager::LinkFor(const TNmActive& active) {
    for (TLink& l : FLinks)
        if (l.ActivePath == active.Path) return l;
    TLink link;
    link.Handle = FNextHandle++;
    link.ActivePath = active.Path;
    link.Entry = ToAnsi(active.Id);
    link.DeviceType = ToAnsi(active.Type);
    link.DeviceName = ToAnsi(active.DeviceName);
    FLinks.push_back(std::move(link));
    return FLinks.back();
}

std::vector<std::string> TRasNetworkManager::PhoneBook() {
    std::vector<std::string> names;
    for (const TNmProfile* p : OnDemandProfiles()) names.push_back(ToAnsi(p->Id));
    return names;
}

uint32_t TRasNetworkManager::DialParams(const std::string& entry,
                                        TRasDialCredentials& credentials) {
    const TNmProfile* p = FindProfile(entry);
    if (!p) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    // Secrets stay with NetworkManager and its agents; we hand out no password.
    credentials = {ToAnsi(p->UserName), std::string(), ToAnsi(p->PhoneNumber), std::string()};
    return 0;
}

uint32_t TRasNetworkManager::Dial(const std::string& entry, TRasDialFunc1 notifier,
                                  THRasConn& handle) {
    const TNmProfile* p = FindProfile(entry);
    if (!p) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const QString profilePath = p->Path;
    TLink link;
    link.Entry = ToAnsi(p->Id);
    link.DeviceType = ToAnsi(p->Type);
    link.Dialled = true;
    link.Notifier = notifier;

    if (!notifier) {
        QString activePath, errorName;
        FNm.Activate(
            profilePath,
            [&](const QString& path, const QString& error) {
                activePath = path;
                errorName = error;
            },
            true);
        if (activePath.isEmpty()) return RasErrorForNmCall(errorName);
        link.Handle = FNextHandle++;
        link.ActivePath = activePath;
        FLinks.push_back(std::move(link));
        handle = FLinks.back().Handle;
        return WaitForLink(FLinks.back());
    }

    // NetworkManager may think for seconds: the dial goes on when it answers.
    link.Handle = handle = FNextHandle++;
    FLinks.push_back(std::move(link));
    Report(FLinks.back(), RASCS_OpenPort, 0);
    FNm.Activate(profilePath, [this, h = handle](const QString& path, const QString& error) {
        Activated(h, path, error);
    });
    return 0;
}

void TRasNetworkManager::Activated(THRasConn handle, const QString& activePath,
                                   const QString& errorName) {
    TLink* l = FindLink(handle);
    if (!l) {
        // Hung up while NetworkManager was still activating it: take it down again.
        if (!activePath.isEmpty()) FNm.Deactivate(activePath);
        return;
    }
    if (activePath.isEmpty()) {
        l->Ended = true;
        Report(*l, l->State, RasErrorForNmCall(errorName));
        return;
    }
    l->ActivePath = activePath;
    FNm.Follow(activePath); // reports what NetworkManager has reached already
}

// A synchronous dial: the GUI thread blocks, so no signal arrives; ask for the state.
uint32_t TRasNetworkManager::WaitForLink(TLink& link) {
    const THRasConn handle = link.Handle;
    for (int waited = 0;; waited += kSyncPollMs) {
        const uint state = FNm.ReadState(link.ActivePath);
        TLink* l = FindLink(handle);
        if (state == nmActivated) {
            l->State = RASCS_Connected;
            l->Up = true;
            return 0;
        }
        if (state >= nmDeactivating || waited >= kSyncDialLimitMs) {
            l->Ended = true;
            l->Error = state >= nmDeactivating ? ERROR_DISCONNECTION : ERROR_PPP_TIMEOUT;
            return l->Error;
        }
        l->State = RASCS_Authenticate;
        FClock.Pause(kSyncPollMs);
    }
}

void TRasNetworkManager::Report(TLink& link, int32_t state, uint32_t error) {
    link.State = state;
    link.Error = error;
    if (link.Notifier) FReports->Post({link.Handle, link.Notifier, state, error});
}

void TRasNetworkManager::ActiveChanged(const QString& activePath) {
    auto it = std::find_if(FLinks.begin(), FLinks.end(),
                           [&](const TLink& l) { return l.ActivePath == activePath; });
    if (it == FLinks.end()) return;
    const TNmActive* active = FNm.FindActive(activePath);
    if (it->Dialled) {
        Advance(*it, active);
    } else if (!active) {
        FLinks.erase(it); // someone else's connection went
    }
}

// Moves our own dial along NetworkManager's states and reports each step once.
void TRasNetworkManager::Advance(TLink& link, const TNmActive* active) {
    if (link.Ended) return;
    if (active && active->Reason >= 0) link.Reason = active->Reason;
    if (active && !active->DeviceName.isEmpty()) link.DeviceName = ToAnsi(active->DeviceName);
    const uint state = active ? active->State : uint(nmDeactivated);
    if (state == nmActivating && link.State < RASCS_Authenticate && !link.Up)
        Report(link, RASCS_Authenticate, 0);
    if (state == nmActivated && !link.Up) {
        link.Up = true;
        Report(link, RASCS_Connected, 0);
    }
    // Deactivated: wait for the reason (StateChanged) unless the connection is already gone.
    const bool over = !active || (state == nmDeactivated && active->Reason >= 0);
    if (!over) return;
    const bool wasUp = link.Up;
    link.Up = false;
    link.Ended = true;
    Report(link, wasUp ? RASCS_Disconnected : link.State, RasErrorForNmReason(link.Reason, wasUp));
}

std::vector<TRasConnInfo> TRasNetworkManager::Connections() {
    if (!FNm.Loaded()) return FRoutes.Connections();
    std::vector<TRasConnInfo> result;
    for (const TNmActive& a : FNm.Actives()) {
        if (a.State != nmActivated || !GivesNetwork(a)) continue;
        TLink& l = LinkFor(a);
        if (!a.DeviceName.isEmpty()) l.DeviceName = ToAnsi(a.DeviceName);
        result.push_back({l.Handle, l.Entry, l.DeviceType, l.DeviceName});
    }
    return result;
}

uint32_t TRasNetworkManager::Status(THRasConn handle, TRasLinkStatus& status) {
    if (handle >= kRouteHandles) return FRoutes.Status(handle, status);
    const TLink* l = FindLink(handle);
    if (!l) return ERROR_INVALID_HANDLE;
    status = {l->State, l->Error, l->DeviceType, l->DeviceName};
    if (l->Dialled) return 0;
    const TNmActive* a = FNm.FindActive(l->ActivePath);
    if (!a) return ERROR_INVALID_HANDLE;
    status.State = a->State == nmActivated    ? RASCS_Connected
                   : a->State <= nmActivating ? RASCS_Authenticate
                                              : RASCS_Disconnected;
    return 0;
}

uint32_t TRasNetworkManager::HangUp(THRasConn handle) {
    TLink* l = FindLink(handle);
    if (!l) return ERROR_INVALID_HANDLE;
    // NetworkManager takes it down when it gets to it; a refusal is logged. A dial it has
    // not yet answered is taken down when it does (Activated).
    if (!l->Ended && !l->ActivePath.isEmpty()) FNm.Deactivate(l->ActivePath);
    FReports->Cancel(handle);
    std::erase_if(FLinks, [handle](const TLink& link) { return link.Handle == handle; });
    return 0;
}

uint32_t TRasNetworkManager::Addresses(THRasConn handle, TRasAddresses& addresses) {
    if (handle >= kRouteHandles) return FRoutes.Addresses(handle, addresses);
    const TLink* l = FindLink(handle);
    if (!l) return ERROR_INVALID_HANDLE;
    const TNmActive* a = FNm.FindActive(l->ActivePath);
    if (!a || a->State != nmActivated) return ERROR_PROJECTION_NOT_COMPLETE;
    // Addresses still being read are not known yet: the link reads as one without.
    if (a->Ip4.Failed) return ERROR_SERVICE_NOT_AVAILABLE;
    const TNmIp* ip = &a->Ip4;
    // A link with IPv6 only is online too.
    if (ip->Address.isEmpty()) {
        if (a->Ip6.Failed) return ERROR_SERVICE_NOT_AVAILABLE;
        ip = &a->Ip6;
    }
    addresses = {ip->Address.toStdString(), ip->Gateway.toStdString()};
    return 0;
}
