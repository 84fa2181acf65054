#include "app/DemoMode.h"

#include "app/DemoMailbox.h"
#include "app/DemoServer.h"
#include "base/Exceptions.h"
#include "mailbox/Settings.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
const char* const kDemoUser = "demo";
const char* const kDemoPassword = "demo";
const char* const kAccount = "Demo";
const char* const kNoPort = "The demo post office found no free port";
const char* const kNoAccountFile = "The demo account could not be written: ";

void Write(const char* key, const char* name, const std::string& value) {
    TRegistry reg;
    reg.OpenKey(key, true);
    reg.WriteString(name, value);
}
} // namespace

std::string DemoFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const fs::path base =
        cache && *cache ? fs::path(cache) : fs::path(home && *home ? home : "/tmp") / ".cache";
    return (base / "postvigil-demo").string();
}

std::unique_ptr<TDemoPop3Server> PrepareDemo() {
    return PrepareDemo(DemoMessages());
}

std::unique_ptr<TDemoPop3Server> PrepareDemo(std::vector<std::string> messages) {
    auto server = std::make_unique<TDemoPop3Server>(std::move(messages), kDemoPassword);
    if (!server->Start()) throw Exception(kNoPort);

    // A fresh folder each time: the demo starts as on a new machine.
    const fs::path folder = DemoFolder();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder / "home");
    fs::create_directories(folder / "config");
    setenv("POSTVIGIL_HOME", (folder / "home/").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);

    TIniFile account((folder / "home" / (std::string(kAccount) + ".Set")).string());
    // It holds a password, scrambled or not: its owner's alone, as every account file.
    account.SetPrivate(true);
    account.BeginUpdate();
    account.WriteString("ProgSet", "IniDescript", "Demo post office");
    account.WriteInteger("ProgSet", "Timeout", 30);
    account.WriteInteger("RASSet", "RASService", -1);
    account.WriteString("POPClient", "Server", "127.0.0.1");
    account.WriteInteger("POPClient", "DefPort", server->serverPort());
    account.WriteString("POPClient", "UserName", kDemoUser);
    account.WriteString("POPClient", "Password", ScramblePassword(kDemoPassword));
    account.WriteString("POPClient", "MailAddress", "demo@postvigil.invalid");
    account.WriteString("POPClient", "MailName", "Demo User");
    if (!account.EndUpdate()) throw Exception(kNoAccountFile + account.FileName());

    Write(kPostkeeperSetKey, "DFUIniName", kAccount);
    Write(kCheckAssKey, "@", "1");
    Write(kCheckAssKey, "0", kAccount);
    Write(kPostvigilKey, "ShowInfos", "0");
    Write(kPostvigilKey, "FollowAct", "0");
    return server;
}
