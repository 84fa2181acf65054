#include "platform/DesktopApps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class DesktopApps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Root.isValid());
        QDir(Root.path()).mkpath("data/applications/kde");
        QDir(Root.path()).mkpath("config");
        Dirs = {{Root.filePath("data/applications")}, {Root.filePath("config")}, {}};
    }
    void Write(const QString& relative, const QByteArray& text) {
        QFile f(Root.filePath(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    void App(const QString& name, const QByteArray& extra) {
        Write("data/applications/" + name, "[Desktop Entry]\nType=Application\nName=" +
                                               name.toUtf8() + "\nExec=true %f\n" + extra);
    }
    QString Find(const QString& mimeType) {
        TDesktopEntry entry;
        return FindDefaultApplication(Dirs, mimeType, entry) ? entry.Id : QString("-");
    }
    QTemporaryDir Root;
    TXdgDirs Dirs;
};

TEST_F(DesktopApps, ExecLineBecomesAnArgumentListWithFieldCodesFilledIn) {
    // As written in the file: a doubled backslash inside quotes escapes the quote.
    Write("data/applications/viewer.desktop",
          "[Desktop Entry]\nType=Application\nName=Viewer\nIcon=viewer\n"
          "Exec=true \"a b\" \"say \\\\\"hi\\\\\"\" --file=%f %i %c 100%% %d\n");
    TDesktopEntry entry;
    ASSERT_TRUE(ReadDesktopEntry(Root.filePath("data/applications/viewer.desktop"), entry));
    QStringList command;
    ASSERT_TRUE(ExpandExec(entry, "/tmp/x y.txt", true, command));
    EXPECT_EQ(command, (QStringList{"true", "a b", "say \"hi\"", "--file=/tmp/x y.txt", "--icon",
                                    "viewer", "Viewer", "100%"}));

    entry.Exec = "true %u";
    ASSERT_TRUE(ExpandExec(entry, "/tmp/x y.txt", true, command));
    EXPECT_EQ(command, (QStringList{"true", "file:///tmp/x y.txt"}));
    entry.Exec = "true --new-window"; // no field code: the target goes last
    ASSERT_TRUE(ExpandExec(entry, "https://example.org/", false, command));
    EXPECT_EQ(command, (QStringList{"true", "--new-window", "https://example.org/"}));

    entry.Exec = "true \"unterminated %f";
    EXPECT_FALSE(ExpandExec(entry, "/tmp/a", true, command));
    entry.Exec = "/nonexistent/program %f";
    EXPECT_FALSE(ExpandExec(entry, "/tmp/a", true, command));
}

TEST_F(DesktopApps, DefaultsThenAddedThenDeclaredMinusRemoved) {
    App("a.desktop", "MimeType=text/plain;image/png;\n");
    App("b.desktop", "MimeType=text/plain;\n");
    App("gone.desktop", "MimeType=text/plain;\nTryExec=/nonexistent/gone\n");
    App("hidden.desktop", "MimeType=text/x-pvhidden;\nHidden=true\n");
    App("kde/sub.desktop", "MimeType=text/x-pvother;\n");

    // Declared types, in id order.
    EXPECT_EQ(Find("text/plain"), "a.desktop");
    EXPECT_EQ(Find("text/x-pvhidden"), "-");
    // A parent type stands in: a mail file opens where plain text does.
    EXPECT_EQ(Find("message/rfc822"), "a.desktop");

    // A default that cannot run gives way to the next one in its list.
    Write("config/mimeapps.list", "[Default Applications]\ntext/plain=gone.desktop;b.desktop;\n");
    EXPECT_EQ(Find("text/plain"), "b.desktop");
    // The desktop's own list comes first; ids of entries in subfolders use "-".
    Dirs.Desktops = {"kde"};
    Write("config/kde-mimeapps.list", "[Default Applications]\ntext/plain=kde-sub.desktop\n");
    EXPECT_EQ(Find("text/plain"), "kde-sub.desktop");

    Dirs.Desktops.clear();
    Write("config/mimeapps.list", "[Added Associations]\nimage/png=b.desktop;\n"
                                  "[Removed Associations]\ntext/plain=a.desktop;\n");
    EXPECT_EQ(Find("image/png"), "b.desktop");
    EXPECT_EQ(Find("text/plain"), "b.desktop");
}
} // namespace
