#include "dialup/RasSimulator.h"

#include "base/StrUtils.h"

#include <algorithm>

namespace {
// The last step carries the entry's error, if it has one.
uint32_t StepError(const TRasSimEntry& e, std::size_t i) {
    return i + 1 == e.Steps.size() ? e.Error : 0;
}
} // namespace

TRasSimulator::TRasSimulator(TRasSimScript script, TClock& clock)
    : FScript(std::move(script)), FClock(clock),
      FReports(std::make_unique<TRasReportThread>(
          clock, [this](const TRasReport& r) { return ApplyReport(r); })) {
    for (const TRasSimEntry& e : FScript.Entries)
        if (e.Online) AddLink(e, true);
}

TRasSimulator::~TRasSimulator() {
    FReports.reset();
}

const TRasSimEntry* TRasSimulator::FindEntry(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (const TRasSimEntry& e : FScript.Entries)
        if (SameText(e.Name, name)) return &e;
    return nullptr;
}

TRasSimulator::TLink* TRasSimulator::FindLink(THRasConn handle) {
    for (TLink& l : FLinks)
        if (l.Handle == handle) return &l;
    return nullptr;
}

THRasConn TRasSimulator::AddLink(const TRasSimEntry& entry, bool up) {
    std::lock_guard lock(FLock);
    TLink link;
    link.Handle = FNextHandle++;
    link.Entry = &entry;
    link.State = up ? RASCS_Connected : RASCS_OpenPort;
    link.Up = up;
    FLinks.push_back(link);
    return link.Handle;
}

bool TRasSimulator::ApplyReport(const TRasReport& report) {
    std::lock_guard lock(FLock);
    TLink* link = FindLink(report.Handle);
    if (!link) return false;
    link->State = report.State;
    link->Error = report.Error;
    link->Up = report.State == RASCS_Connected && report.Error == 0;
    return true;
}

THRasConn TRasSimulator::OpenConnection(const std::string& entryName) {
    const TRasSimEntry* e = FindEntry(entryName);
    return e ? AddLink(*e, true) : 0;
}

bool TRasSimulator::CloseConnection(const std::string& entryName) {
    std::lock_guard lock(FLock);
    auto it = std::find_if(FLinks.begin(), FLinks.end(), [&](const TLink& l) {
        return l.Up && SameText(l.Entry->Name, entryName);
    });
    if (it == FLinks.end()) return false;
    it->Up = false;
    it->State = RASCS_Disconnected;
    it->Error = ERROR_REMOTE_DISCONNECTION;
    return true;
}

std::vector<std::string> TRasSimulator::PhoneBook() {
    std::vector<std::string> names;
    names.reserve(FScript.Entries.size());
    for (const TRasSimEntry& e : FScript.Entries) names.push_back(e.Name);
    return names;
}

uint32_t TRasSimulator::DialParams(const std::string& entry, TRasDialCredentials& credentials) {
    const TRasSimEntry* e = FindEntry(entry);
    if (!e) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    credentials = {e->UserName, e->Password, e->PhoneNumber, e->Domain};
    return 0;
}

uint32_t TRasSimulator::Dial(const std::string& entry, TRasDialFunc1 notifier, THRasConn& handle) {
    const TRasSimEntry* e = FindEntry(entry);
    if (!e) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    handle = AddLink(*e, false);
    if (e->DialError) {
        ApplyReport({handle, nullptr, RASCS_OpenPort, e->DialError});
        return e->DialError;
    }
    if (!notifier) return RunSteps(handle, *e);
    PlaySteps(handle, *e, notifier);
    return 0;
}

// Asynchronous: every step becomes a report due after its delay.
void TRasSimulator::PlaySteps(THRasConn handle, const TRasSimEntry& e, TRasDialFunc1 notifier) {
    int64_t due = FClock.NowMs();
    for (std::size_t i = 0; i < e.Steps.size(); ++i) {
        due += e.Steps[i].DelayMs;
        FReports->Post({handle, notifier, e.Steps[i].State, StepError(e, i)}, due);
    }
    if (e.Steps.empty() && e.Error)
        FReports->Post({handle, notifier, RASCS_OpenPort, e.Error}, due);
    if (!e.Error && e.DropAfterMs >= 0)
        FReports->Post({handle, notifier, RASCS_Disconnected, ERROR_REMOTE_DISCONNECTION},
                       due + e.DropAfterMs);
}

// Synchronous: the steps run on the caller's thread; the result is the dial's.
uint32_t TRasSimulator::RunSteps(THRasConn handle, const TRasSimEntry& e) {
    for (std::size_t i = 0; i < e.Steps.size(); ++i) {
        FClock.Pause(e.Steps[i].DelayMs);
        ApplyReport({handle, nullptr, e.Steps[i].State, StepError(e, i)});
    }
    if (e.Error) {
        if (e.Steps.empty()) ApplyReport({handle, nullptr, RASCS_OpenPort, e.Error});
        return e.Error;
    }
    if (e.DropAfterMs >= 0)
        FReports->Post({handle, nullptr, RASCS_Disconnected, ERROR_REMOTE_DISCONNECTION},
                       FClock.NowMs() + e.DropAfterMs);
    return 0;
}

std::vector<TRasConnInfo> TRasSimulator::Connections() {
    std::lock_guard lock(FLock);
    std::vector<TRasConnInfo> result;
    for (const TLink& l : FLinks)
        if (l.Up)
            result.push_back({l.Handle, l.Entry->Name, l.Entry->DeviceType, l.Entry->DeviceName});
    return result;
}

uint32_t TRasSimulator::Status(THRasConn handle, TRasLinkStatus& status) {
    std::lock_guard lock(FLock);
    const TLink* l = FindLink(handle);
    if (!l) return ERROR_INVALID_HANDLE;
    status = {l->State, l->Error, l->Entry->DeviceType, l->Entry->DeviceName};
    return 0;
}

uint32_t TRasSimulator::HangUp(THRasConn handle) {
    {
        std::lock_guard lock(FLock);
        auto it = std::find_if(FLinks.begin(), FLinks.end(),
                               [handle](const TLink& l) { return l.Handle == handle; });
        if (it == FLinks.end()) return ERROR_INVALID_HANDLE;
        FLinks.erase(it);
    }
    FReports->Cancel(handle);
    return 0;
}

uint32_t TRasSimulator::Addresses(THRasConn handle, TRasAddresses& addresses) {
    std::lock_guard lock(FLock);
    const TLink* l = FindLink(handle);
    if (!l) return ERROR_INVALID_HANDLE;
    if (!l->Up) return ERROR_PROJECTION_NOT_COMPLETE;
    addresses = {l->Entry->ClientIP, l->Entry->ServerIP};
    return 0;
}
