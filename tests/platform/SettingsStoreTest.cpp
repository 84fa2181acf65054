#include "base/StringList.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
struct TempDir : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/pv-platform-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};
} // namespace

TEST_F(TempDir, IniReadsLikeAProfileFile) {
    const std::string file = Write("Acc.Set", "; written by hand\r\n"
                                              "[POPClient]\n"
                                              "  Server = pop.example.org  \n"
                                              "server=second.example.org\n"
                                              "Password=\"  spaced \"\n"
                                              "DefPort=abc\n"
                                              "[progset]\r"
                                              "Timeout=30\r"
                                              "Flag=2\r");
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("popclient", "SERVER", "x"), "pop.example.org");
    EXPECT_EQ(ini.ReadString("POPClient", "Password", ""), "  spaced ");
    EXPECT_EQ(ini.ReadInteger("POPClient", "DefPort", 110), 110);
    EXPECT_EQ(ini.ReadInteger("ProgSet", "Timeout", 60), 30);
    EXPECT_TRUE(ini.ReadBool("ProgSet", "Flag", false));
    EXPECT_EQ(ini.ReadString("ProgSet", "Missing", "Empty"), "Empty");
    EXPECT_EQ(ini.ReadString("Nowhere", "Timeout", "d"), "d");
    TStringList keys;
    ini.ReadSection("POPClient", keys);
    EXPECT_EQ(keys.Items(), (std::vector<std::string>{"Server", "Password", "DefPort"}));

    TIniFile missing((dir / "none.ini").string());
    EXPECT_EQ(missing.ReadInteger("a", "b", 7), 7);
}

TEST_F(TempDir, IniWritesKeepTheRestOfTheFile) {
    const std::string file = Write("win.ini", "[windows]\r\nrun=x\r\n\r\n[other]\r\nk=v\r\n");
    TIniFile ini(file);
    EXPECT_TRUE(ini.WriteString("Windows", "Load", "postvigil"));
    EXPECT_TRUE(ini.WriteString("windows", "RUN", "y"));
    EXPECT_TRUE(ini.WriteInteger("New", "n", 5));
    EXPECT_EQ(Read("win.ini"), "[windows]\r\nRUN=y\r\nLoad=postvigil\r\n\r\n[other]\r\nk=v\r\n"
                               "\r\n[New]\r\nn=5\r\n");
    EXPECT_TRUE(ini.DeleteKey("windows", "load"));
    EXPECT_EQ(TIniFile(file).ReadString("windows", "load", "gone"), "gone");
}

TEST_F(TempDir, FailedWriteIntoAFileInPlaceOfTheFolderReportsFalse) {
    Write("blocker", "x");
    TIniFile ini((dir / "blocker" / "reg.ini").string());
    EXPECT_FALSE(ini.WriteString("a", "k", "v"));
    EXPECT_EQ(ini.ReadString("a", "k", "def"), "def");
}

TEST_F(TempDir, RegistryKeysAndValues) {
    const std::string hive = (dir / "cfg" / "registry.ini").string();
    {
        TRegistry reg(hive);
        EXPECT_FALSE(reg.OpenKey("Software\\Tessmar\\Postkeeper\\Postvigil", false));
        EXPECT_EQ(reg.ReadInteger("Interval", 0), 0);
        ASSERT_TRUE(reg.OpenKey("\\Software\\Tessmar\\Postkeeper\\Postvigil", true));
        EXPECT_TRUE(reg.WriteInteger("Interval", 15));
        EXPECT_TRUE(reg.WriteBool("AutoConnect", false));
    }
    TRegistry reg(hive);
    ASSERT_TRUE(reg.OpenKey("software\\tessmar\\postkeeper\\postvigil", false));
    EXPECT_EQ(reg.ReadString("Interval"), "15");
    EXPECT_EQ(reg.ReadInteger("interval", 0), 15);
    EXPECT_FALSE(reg.ReadBool("AutoConnect", true));
    EXPECT_TRUE(reg.ReadBool("ShowInfos", true));
    TStringList names;
    reg.GetValueNames(names);
    EXPECT_EQ(names.Count(), 2);
}

TEST_F(TempDir, PathsFollowTheEnvironment) {
    setenv("POSTVIGIL_HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    EXPECT_EQ(ProgDir(), dir.string() + "/");
    EXPECT_EQ(RegistryFile(), (dir / "config" / "Tessmar" / "registry.ini").string());
    EXPECT_EQ(AutostartDir(), (dir / "config" / "autostart").string() + "/");
    unsetenv("POSTVIGIL_HOME");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(ProgDir(), "/data/Tessmar/");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");

    Write("DUMMY.SET", "");
    const std::string d = dir.string() + "/";
    EXPECT_EQ(FindFileNoCase(d, "Dummy.Set"), d + "DUMMY.SET");
    EXPECT_EQ(FindFileNoCase(d, "Other.Set"), d + "Other.Set");
    EXPECT_EQ(NativeRelative("eMails\\Attachments\\"), "eMails/Attachments/");
    EXPECT_TRUE(ForceDirectories(d + "eMails/Postoffice"));
}
