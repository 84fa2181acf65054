#include "dialup/RasSimScript.h"

#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "base/Streams.h"
#include "base/StringList.h"
#include "dialup/RasApi.h"

namespace {
const char kDefaultDeviceType[] = "modem";
const char kDefaultDeviceName[] = "Simulated modem";
const char kDefaultClientIP[] = "192.0.2.2";
const char kDefaultServerIP[] = "192.0.2.1";
const TRasSimStep kDefaultSteps[] = {{RASCS_OpenPort, 200},        {RASCS_ConnectDevice, 300},
                                     {RASCS_DeviceConnected, 800}, {RASCS_Authenticate, 200},
                                     {RASCS_Authenticated, 400},   {RASCS_Connected, 200}};

[[noreturn]] void Fail(int line, const std::string& why) {
    throw EConvertError("RAS simulator script, line " + std::to_string(line) + ": " + why);
}

int ToInt(int line, std::string_view value) {
    int v = 0;
    try {
        v = StrToInt(value);
    } catch (const EConvertError& e) {
        Fail(line, e.Message);
    }
    return v;
}

std::vector<TRasSimStep> ParseSteps(int line, std::string_view value) {
    std::vector<TRasSimStep> steps;
    std::size_t pos = 0;
    while (pos < value.size()) {
        while (pos < value.size() && value[pos] == ' ') ++pos;
        std::size_t end = value.find(' ', pos);
        if (end == std::string_view::npos) end = value.size();
        std::string_view item = value.substr(pos, end - pos);
        pos = end;
        if (item.empty()) continue;
        const std::size_t at = item.find('@');
        TRasSimStep step;
        step.State = ToInt(line, item.substr(0, at));
        if (at != std::string_view::npos) step.DelayMs = ToInt(line, item.substr(at + 1));
        if (step.DelayMs < 0) Fail(line, "negative delay");
        steps.push_back(step);
    }
    return steps;
}

void SetKey(TRasSimEntry& e, int line, std::string_view key, std::string value) {
    if (SameText(key, "User"))
        e.UserName = std::move(value);
    else if (SameText(key, "Password"))
        e.Password = std::move(value);
    else if (SameText(key, "Phone"))
        e.PhoneNumber = std::move(value);
    else if (SameText(key, "Domain"))
        e.Domain = std::move(value);
    else if (SameText(key, "DeviceType"))
        e.DeviceType = std::move(value);
    else if (SameText(key, "DeviceName"))
        e.DeviceName = std::move(value);
    else if (SameText(key, "ClientIP"))
        e.ClientIP = std::move(value);
    else if (SameText(key, "ServerIP"))
        e.ServerIP = std::move(value);
    else if (SameText(key, "Steps"))
        e.Steps = ParseSteps(line, value);
    else if (SameText(key, "Error"))
        e.Error = uint32_t(ToInt(line, value));
    else if (SameText(key, "DialError"))
        e.DialError = uint32_t(ToInt(line, value));
    else if (SameText(key, "DropAfter"))
        e.DropAfterMs = ToInt(line, value);
    else if (SameText(key, "Online"))
        e.Online = ToInt(line, value) != 0;
    else
        Fail(line, "unknown key \"" + std::string(key) + "\"");
}
} // namespace

TRasSimEntry DefaultRasSimEntry(std::string name) {
    TRasSimEntry e;
    e.Name = std::move(name);
    e.DeviceType = kDefaultDeviceType;
    e.DeviceName = kDefaultDeviceName;
    e.ClientIP = kDefaultClientIP;
    e.ServerIP = kDefaultServerIP;
    e.Steps.assign(std::begin(kDefaultSteps), std::end(kDefaultSteps));
    return e;
}

TRasSimScript ParseRasSimScript(std::string_view text) {
    TRasSimScript script;
    std::vector<std::string> lines;
    SplitLines(text, lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int line = int(i + 1);
        const std::string_view s = TrimView(lines[i]);
        if (s.empty() || s[0] == ';' || s[0] == '#') continue;
        if (s.front() == '[') {
            if (s.back() != ']' || s.size() < 3) Fail(line, "bad section header");
            std::string name(Trim(s.substr(1, s.size() - 2)));
            for (const TRasSimEntry& e : script.Entries)
                if (SameText(e.Name, name)) Fail(line, "entry \"" + name + "\" twice");
            script.Entries.push_back(DefaultRasSimEntry(std::move(name)));
            continue;
        }
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos) Fail(line, "expected Key=Value");
        if (script.Entries.empty()) Fail(line, "a key before the first [entry]");
        SetKey(script.Entries.back(), line, TrimView(s.substr(0, eq)), Trim(s.substr(eq + 1)));
    }
    return script;
}

TRasSimScript ReadRasSimScript(const std::string& fileName) {
    TMemoryStream data;
    data.LoadFromFile(fileName);
    return ParseRasSimScript(data.View());
}
