// The script of the RAS simulator: a phone book whose entries say how dialling them goes.
//
//   ; comment
//   [Office VPN]              one section per entry, in phone-book order
//   User=alice                credentials handed out by RasGetEntryDialParams
//   Password=secret
//   Phone=555-0100
//   Domain=OFFICE
//   DeviceType=vpn            shown for the connection
//   DeviceName=tun0
//   ClientIP=10.8.0.2         IP addresses of the link once it is up
//   ServerIP=10.8.0.1
//   Steps=0@200 5@300 8192@100    states reported, each after its delay in ms
//   Error=691                 the last step fails with this error
//   DialError=633             the dial fails at once
//   DropAfter=60000           a link that came up drops after this many ms
//   Online=1                  the link is up from the start (made outside the program)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TRasSimStep {
    int32_t State = 0;
    int DelayMs = 0;
};

struct TRasSimEntry {
    std::string Name;
    std::string UserName, Password, PhoneNumber, Domain;
    std::string DeviceType, DeviceName;
    std::string ClientIP, ServerIP;
    std::vector<TRasSimStep> Steps;
    uint32_t Error = 0;
    uint32_t DialError = 0;
    int DropAfterMs = -1;
    bool Online = false;
};

struct TRasSimScript {
    std::vector<TRasSimEntry> Entries;
};

// An entry with the usual device, addresses and a connecting sequence of steps.
TRasSimEntry DefaultRasSimEntry(std::string name);

// Raises EConvertError naming the line for a line it does not understand.
TRasSimScript ParseRasSimScript(std::string_view text);
// Raises EFOpenError when the file cannot be read.
TRasSimScript ReadRasSimScript(const std::string& fileName);
