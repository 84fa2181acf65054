#include "TempHome.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace pvtest {
namespace {
fs::path MakeTempFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("no temporary folder for " + pattern);
    return buffer.data();
}
} // namespace

TScopedEnv::TScopedEnv(const char* name, const std::string& value) : FName(name) {
    if (const char* previous = std::getenv(name)) FPrevious = previous;
    setenv(name, value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
    if (FPrevious)
        setenv(FName.c_str(), FPrevious->c_str(), 1);
    else
        unsetenv(FName.c_str());
}

TTempHome::TTempHome(const std::string& prefix)
    : FPath(MakeTempFolder(prefix)), FProgram("POSTVIGIL_HOME", FPath.string()),
      FConfig("XDG_CONFIG_HOME", (FPath / "config").string()),
      FCache("XDG_CACHE_HOME", (FPath / "cache").string()) {}

TTempHome::~TTempHome() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
}
} // namespace pvtest
