// The RAS simulator: a scripted phone book (RasSimScript.h) for tests and demos. Dialling an
// entry plays its steps on the simulator's own thread, as a real provider reports, with the
// delays measured on the given clock.
#pragma once

#include "base/Clock.h"
#include "dialup/RasProvider.h"
#include "dialup/RasReportThread.h"
#include "dialup/RasSimScript.h"

#include <memory>
#include <mutex>

class TRasSimulator : public TRasProvider {
public:
    explicit TRasSimulator(TRasSimScript script, TClock& clock = InstalledClock());
    ~TRasSimulator() override;

    // A link made outside the program: up at once. Returns its handle, 0 for an unknown entry.
    THRasConn OpenConnection(const std::string& entryName);
    // Drops the first link of that entry, as if the other side hung up; false when none.
    bool CloseConnection(const std::string& entryName);
    // Progress reports not yet delivered.
    int PendingReports() const { return FReports->Pending(); }

protected:
    std::vector<std::string> PhoneBook() override;
    uint32_t DialParams(const std::string& entry, TRasDialCredentials& credentials) override;
    uint32_t Dial(const std::string& entry, TRasDialFunc1 notifier, THRasConn& handle) override;
    std::vector<TRasConnInfo> Connections() override;
    uint32_t Status(THRasConn handle, TRasLinkStatus& status) override;
    uint32_t HangUp(THRasConn handle) override;
    uint32_t Addresses(THRasConn handle, TRasAddresses& addresses) override;

private:
    struct TLink {
        THRasConn Handle = 0;
        const TRasSimEntry* Entry = nullptr;
        int32_t State = 0;
        uint32_t Error = 0;
        bool Up = false;
    };

    const TRasSimEntry* FindEntry(const std::string& name) const;
    TLink* FindLink(THRasConn handle);
    THRasConn AddLink(const TRasSimEntry& entry, bool up);
    bool ApplyReport(const TRasReport& report);
    void PlaySteps(THRasConn handle, const TRasSimEntry& entry, TRasDialFunc1 notifier);
    uint32_t RunSteps(THRasConn handle, const TRasSimEntry& entry);

    const TRasSimScript FScript;
    TClock& FClock;
    std::mutex FLock; // guards FLinks and FNextHandle; the report thread updates states
    std::vector<TLink> FLinks;
    THRasConn FNextHandle = 1;
    std::unique_ptr<TRasReportThread> FReports; // last: stops before the links go
};
