#include "platform/AutoStart.h"
#include "platform/DurableFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

TEST(LoadLine, AddsAndRemovesTheProgramLikeTheProfileLists) {
    const std::string me = "/opt/pv/Postvigil.exe";
    // An empty line gets a leading comma; a listed program is not added twice.
    std::string value;
    EXPECT_TRUE(AddToLoadLine(value, me));
    EXPECT_EQ(value, "," + me);
    EXPECT_FALSE(AddToLoadLine(value, me));
    EXPECT_EQ(value, "," + me);
    // Case counts: another spelling is another program.
    value = "/OPT/PV/POSTVIGIL.EXE";
    EXPECT_TRUE(AddToLoadLine(value, me));
    EXPECT_EQ(value, "/OPT/PV/POSTVIGIL.EXE," + me);

    // First in the line: only the path goes, the comma after it stays.
    value = me + ",other.exe";
    EXPECT_TRUE(RemoveFromLoadLine(value, me));
    EXPECT_EQ(value, ",other.exe");
    // After another program: its comma goes too, and only the first occurrence.
    value = "other.exe," + me + "," + me;
    EXPECT_TRUE(RemoveFromLoadLine(value, me));
    EXPECT_EQ(value, "other.exe," + me);
    value = "other.exe";
    EXPECT_FALSE(RemoveFromLoadLine(value, me));
    EXPECT_FALSE(RemoveFromLoadLine(value, ""));
    EXPECT_EQ(value, "other.exe");
}

TEST(AutostartEntry, NamesTheProgramInAValidEntryAndGoesAgain) {
    char tmpl[] = "/tmp/pv-autostart-XXXXXX";
    const fs::path home = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    // Spaces, "$" and "%" must survive both the string and the argument quoting.
    const std::string program = "/opt/my apps/post$vigil%";
    ASSERT_TRUE(WriteAutostartEntry(program));
    const std::string file = AutostartEntryFile();
    EXPECT_EQ(file, (home / "autostart/postvigil.desktop").string());
    const std::string text = ReadWholeFile(file);
    EXPECT_NE(text.find("\nExec=\"/opt/my apps/post\\\\$vigil%%\"\n"), std::string::npos) << text;
    if (fs::exists("/usr/bin/desktop-file-validate")) {
        const std::string command = "/usr/bin/desktop-file-validate '" + file + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << text;
    }
    // A path a line-based file cannot hold is refused, and the entry stays as it was.
    EXPECT_FALSE(WriteAutostartEntry("/opt/pv\nExec=evil"));
    EXPECT_EQ(ReadWholeFile(file), text);
    EXPECT_TRUE(RemoveAutostartEntry());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(RemoveAutostartEntry());
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(home);
}
