#include "ScopedSeam.h"
#include "app/Application.h"
#include "app/FormLogo.h"
#include "app/HelpUnit.h"
#include "app/HelpViewer.h"
#include "app/MainUnit.h"
#include "app/PaWoUnit.h"
#include "app/SingleInstance.h"
#include "base/Exceptions.h"
#include "platform/Prompts.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

TEST(PasswordDialog, HasNoCancel) {
    TFormPassword dlg;
    EXPECT_EQ(dlg.windowTitle(), "Insert password");
    EXPECT_EQ(dlg.EditPassword->echoMode(), QLineEdit::Password);
    dlg.show();
    dlg.reject(); // Esc
    EXPECT_TRUE(dlg.isVisible());
    dlg.accept();
    EXPECT_FALSE(dlg.isVisible());
}

TEST(InfoDialog, RowsAskBeforeOpening) {
    TScriptedPrompts prompts;
    const pvtest::TScopedSeam promptsSeam(SetPrompts, &prompts);
    TLogoForm dlg(false);
    EXPECT_FALSE(dlg.CBShowInfo->isChecked());
    std::vector<std::string> opened;
    dlg.OnOpenTarget = [&](const std::string& t) { opened.push_back(t); };
    dlg.RowClicked(2); // answered No
    prompts.QueueAnswer(mrYes);
    dlg.RowClicked(0);
    ASSERT_EQ(prompts.Shown.size(), 2u);
    EXPECT_EQ(prompts.Shown[1].Text,
              std::string("Open internet site for:\r") + TLogoForm::kRows[0].Description);
    EXPECT_EQ(opened, std::vector<std::string>{TLogoForm::kRows[0].Target});
}

TEST(TextDisplay, ShowsLinesAndSavesOverAnExistingFile) {
    TFormHelp dlg;
    EXPECT_EQ(dlg.windowTitle(), "Text display");
    dlg.SetLines(TStringList{"Return-Path: <a@b>", "Subject: Caf\xe9"});
    EXPECT_EQ(dlg.Memo->toPlainText(), QString::fromUtf8("Return-Path: <a@b>\nSubject: Café"));
    const auto path = std::filesystem::temp_directory_path() / "pv-protocol.txt";
    std::ofstream(path) << "old content that is longer than the new one\r\n";
    ASSERT_TRUE(dlg.SaveText(path.string()));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "Return-Path: <a@b>\r\nSubject: Caf\xe9\r\n");
    // Text that Windows-1252 cannot hold is saved as UTF-8 rather than as "?".
    dlg.SetUnicodeLines(TStringList{"Subject: Привет", "From: Zoë"});
    ASSERT_TRUE(dlg.SaveText(path.string()));
    std::ifstream utf8(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(utf8), {}),
              "Subject: Привет\r\nFrom: Zoë\r\n");
    std::filesystem::remove(path);
}

namespace {
// An object whose event handler lets an exception escape, as a faulty slot would.
struct Thrower : QObject {
    std::string Message;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        throw EInOutError(Message);
    }
};
} // namespace

TEST(ExceptionHandler, EscapedExceptionsReachTheStatusBarText) {
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    std::vector<std::string> shown;
    const pvtest::TScopedValue onException(app->OnException,
                                           [&](const std::string& t) { shown.push_back(t); });
    Thrower t;
    t.Message = "boom";
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&t);
    t.Message = "";
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&t);
    EXPECT_EQ(shown, std::vector<std::string>{"Error: boom"});
}

TEST(SingleInstance, SecondStartActivatesTheFirst) {
    const QString name = "pv-test-" + QString::number(QCoreApplication::applicationPid());
    TSingleInstance first(name);
    ASSERT_TRUE(first.Listen());
    bool activated = false;
    QEventLoop loop;
    QObject::connect(&first, &TSingleInstance::Activate, [&] {
        activated = true;
        loop.quit();
    });
    TSingleInstance second(name);
    EXPECT_TRUE(second.NotifyRunning());
    QTimer::singleShot(5000, &loop, &QEventLoop::quit); // guard only
    if (!activated) loop.exec();
    EXPECT_TRUE(activated);

    TSingleInstance lonely(name + "-none");
    EXPECT_FALSE(lonely.NotifyRunning());
}

TEST(HelpViewer, ShowsBuiltInPagesInOneWindow) {
    THelpViewer* first = THelpViewer::ShowHelp(nullptr);
    EXPECT_TRUE(first->Browser->toPlainText().contains("Query eMail account"));
    // Every page the information window links to exists.
    for (const TLogoRow& row : TLogoForm::kRows) {
        THelpViewer* v = THelpViewer::ShowHelp(nullptr, row.Target);
        EXPECT_EQ(v, first);
        EXPECT_FALSE(v->Browser->toPlainText().isEmpty()) << row.Target;
    }
    THelpViewer::CloseHelp();
}
