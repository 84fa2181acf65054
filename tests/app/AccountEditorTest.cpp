#include "FakePop3Server.h"
#include "MainWindowFixture.h"
#include "app/AccountUnit.h"
#include "app/MailRows.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/ConnectionTest.h"
#include "net/Mspop.h"
#include "platform/Ansi.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

using pvtest::TFakePop3Server;

namespace {
struct AccountEditor : MainWindowFixture {
    TScriptedPrompts prompts;
    // What the next account editor does with its form; empty: cancel it.
    std::function<void(TFormAccount&)> fill;

    pvtest::TScopedSeam<TPrompts*> promptsSeam{SetPrompts, &prompts};
    pvtest::TScopedValue<decltype(TFormMain::ExecModal)> editorModal{
        TFormMain::ExecModal, [this, answer = TFormMain::ExecModal](QDialog& d) {
            auto* editor = qobject_cast<TFormAccount*>(&d);
            if (!editor) return answer(d);
            dialogs.push_back(d.windowTitle());
            if (fill)
                fill(*editor);
            else
                editor->reject();
            return editor->result();
        }};

    static void Work(TFormAccount& f) {
        f.EditDescript->setText("Work");
        f.EditServer->setText("pop.example.org");
        f.EditPort->setValue(1110);
        f.EditUser->setText("joe");
        f.EditPassword->setText("s3cret");
        f.EditInterval->setValue(15);
        f.accept();
    }
};

unsigned Mode(const std::string& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mode & 0777;
}

TAccountSettings Probe(uint16_t port, const std::string& password = "p") {
    TAccountSettings s;
    s.Server = "127.0.0.1";
    s.DefPort = port;
    s.UserName = "u";
    s.Password = password;
    s.Timeout = 5;
    // Clear text chosen by name: the test logs in at once, nothing is looked for.
    s.Security = "none";
    return s;
}
} // namespace

TEST_F(AccountEditor, FreshStartOpensTheEditorAndCancelLeavesTheProgramAtEmpty) {
    TFormMain w;
    w.show();
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_EQ(dialogs, std::vector<QString>{"New account"});
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Empty");
    // Showing the window again asks for nothing: no editor, no password for no account.
    w.hide();
    w.show();
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_FALSE(w.MIEditAccount->isEnabled());
    EXPECT_FALSE(w.MIRemoveAccount->isEnabled());
}

TEST_F(AccountEditor, FreshStartEndsInAWorkingStartUpAccount) {
    fill = Work;
    TFormMain w;
    w.show();
    QCoreApplication::sendPostedEvents(&w);
    ASSERT_EQ(dialogs, std::vector<QString>{"New account"});
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Work");
    EXPECT_EQ(w.POPClient->Host(), "pop.example.org");
    EXPECT_EQ(w.POPClient->Port(), 1110);
    EXPECT_EQ(w.POPClient->Password(), "s3cret");
    EXPECT_EQ(CurSetName, "Work");
    EXPECT_EQ(StartSetName, "Work");
    EXPECT_EQ(StartAccountName(), "Work");
    EXPECT_EQ(ClientRec.Interval, 15);
    EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "Interval", ""), "15");
    // Not tested in the editor: the first check finds the security.
    EXPECT_EQ(TIniFile(AccountFileName("Work")).ReadString("POPClient", "Security", ""), "auto");
    EXPECT_EQ(ClientRec.SecuritySearch, ssFind);
    EXPECT_EQ(Mode(AccountFileName("Work")), 0600u);
    EXPECT_EQ(w.BtnListMail->menu(), w.PMRASCon);
    EXPECT_TRUE(w.AccountItems[0]->isVisible());
    EXPECT_EQ(w.AccountItems[0]->text(), "Work");
    EXPECT_FALSE(w.MIStartAccount->isEnabled()); // it already is
}

TEST_F(AccountEditor, EditShowsTheFileAndWritesWhatTheProgramReads) {
    Registry(kPostkeeperSetKey, "DFUIniName", "Box");
    Account("Box", "[ProgSet]\nIniDescript=Box\nTimeout=20\nRetrvMode=2\n[RASSet]\nRASService=1\n"
                   "MailMaxSize=5000\n[POPClient]\nServer=old.example.org\nUserName=ann\n"
                   "Password=" +
                       ScramblePassword("old") + "\nDefPort=110\n[Deliver]\nTarget=mbox:~/mbox\n");
    TFormMain w;
    w.MailRows->Append(TMailRow());
    fill = [](TFormAccount& f) {
        EXPECT_EQ(f.EditServer->text(), "old.example.org");
        EXPECT_EQ(f.EditPassword->text(), "old");
        EXPECT_EQ(f.EditPassword->echoMode(), QLineEdit::Password);
        f.CBShowPassword->setChecked(true);
        EXPECT_EQ(f.EditPassword->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(f.EditTimeout->value(), 20);
        EXPECT_EQ(f.EditMaxSize->value(), 5000);
        EXPECT_EQ(f.CBDialUp->currentData().toInt(), 1);
        EXPECT_EQ(f.CBDialUp->itemText(0), "none");
        EXPECT_EQ(f.CBSecurity->currentData().toString(), ""); // the file names none
        f.CBSecurity->setCurrentIndex(f.CBSecurity->findData(QString("starttls")));
        f.EditServer->setText("new.example.org");
        f.EditAddress->setText("ann@example.org");
        f.CBDialUp->setCurrentIndex(0);
        f.accept();
    };
    w.EditAccount();
    ASSERT_EQ(dialogs, std::vector<QString>{"Edit account"});
    EXPECT_EQ(w.POPClient->Host(), "new.example.org");
    EXPECT_EQ(w.MailMessage.Sender().Address(), "ann@example.org");
    EXPECT_TRUE(ClientRec.NoRAS);
    EXPECT_EQ(w.MailRows->Count(), 0); // another mailbox: rows go
    EXPECT_EQ(TIniFile(AccountFileName("Box")).ReadString("ProgSet", "RetrvMode", ""), "2");
    EXPECT_EQ(ClientRec.Security, "starttls");
    EXPECT_EQ(w.POPClient->Security(), secStartTls);
    EXPECT_EQ(ClientRec.Deliver, "mbox:~/mbox"); // kept as the file has it

    // A value the program could not read back keeps the editor open with the reason.
    fill = [](TFormAccount& f) {
        f.EditServer->setText("");
        f.accept();
        EXPECT_EQ(f.LabelError->text(), "Enter the name of the POP3 server");
        EXPECT_EQ(f.result(), QDialog::Rejected);
        f.reject();
    };
    w.EditAccount();
    EXPECT_EQ(w.POPClient->Host(), "new.example.org");
}

TEST_F(AccountEditor, DeliveryShowsEachKindFromTheFileAndGivesItBack) {
    bool askedFolder = false;
    std::string askedStart;
    pvtest::TScopedValue<decltype(TFormAccount::ChooseDeliveryPath)> choose{
        TFormAccount::ChooseDeliveryPath, [&](QWidget*, bool folder, const std::string& start) {
            askedFolder = folder;
            askedStart = start;
            return std::string("/var/mail/joe");
        }};
    for (const std::string target :
         {"", "files", "maildir:~/Maildir", "mbox:~/mbox", "mda:procmail -f %F"}) {
        TAccountSettings s = NewAccountSettings();
        s.Deliver = target;
        TFormAccount f(s, TStringList());
        const std::string kind = target == "files" ? "" : target.substr(0, target.find(':'));
        EXPECT_EQ(f.CBDeliver->currentData().toString().toStdString(), kind) << target;
        EXPECT_EQ(f.Settings().Deliver, target == "files" ? "" : target);
        EXPECT_EQ(f.EditDeliverPath->isEnabled(), !kind.empty()) << target;
        EXPECT_EQ(f.BtnBrowseDeliver->isEnabled(), kind == "maildir" || kind == "mbox") << target;
        EXPECT_EQ(f.LabelDeliverHint->isVisibleTo(&f), kind == "mda") << target;
        if (!f.BtnBrowseDeliver->isEnabled()) continue;
        // A folder for a Maildir, a file for an mbox, starting where the path points.
        f.BtnBrowseDeliver->click();
        EXPECT_EQ(askedFolder, kind == "maildir");
        EXPECT_EQ(askedStart, QToAnsi(QDir::homePath()) + target.substr(target.find('~') + 1));
        EXPECT_EQ(f.Settings().Deliver, kind + ":/var/mail/joe");
    }
    EXPECT_EQ(TFormAccount(NewAccountSettings(), TStringList()).LabelDeliverHint->text(),
              "The message on standard input; %F stands for the sender; exit status 75: try "
              "again later");
}

TEST_F(AccountEditor, AChosenMaildirIsWrittenAndAnEmptyOneRefused) {
    const std::string maildir = (home / "Maildir").string();
    fill = [&](TFormAccount& f) {
        f.EditDescript->setText("Work");
        f.EditServer->setText("pop.example.org");
        f.CBDeliver->setCurrentIndex(f.CBDeliver->findData(QString("maildir")));
        f.accept();
        EXPECT_EQ(f.LabelError->text(), "Enter the Maildir folder");
        EXPECT_EQ(f.result(), QDialog::Rejected);
        f.CBDeliver->setCurrentIndex(f.CBDeliver->findData(QString("mda")));
        f.EditDeliverPath->setText(" ");
        f.accept();
        EXPECT_EQ(f.LabelError->text(), "Enter the delivery program");
        f.CBDeliver->setCurrentIndex(f.CBDeliver->findData(QString("maildir")));
        f.EditDeliverPath->setText(AnsiToQ(maildir));
        f.accept();
    };
    TFormMain w;
    w.NewAccount();
    ASSERT_EQ(CurSetName, "Work");
    EXPECT_EQ(TIniFile(AccountFileName("Work")).ReadString("Deliver", "Target", ""),
              "maildir:" + maildir);
    EXPECT_EQ(ClientRec.Deliver, "maildir:" + maildir);
}

TEST_F(AccountEditor, RemoveAsksThenDeletesOnlyTheFile) {
    fill = Work;
    TFormMain w;
    w.NewAccount();
    fill = [](TFormAccount& f) {
        f.EditDescript->setText("Home");
        f.EditServer->setText("home.example.org");
        f.accept();
    };
    w.NewAccount();
    ASSERT_EQ(CurSetName, "Home");
    EXPECT_EQ(StartSetName, "Work");
    w.MakeStartAccount();
    EXPECT_EQ(StartAccountName(), "Home");
    const fs::path mail = fs::path(PostofficeDir()) / "E0001.EML";
    std::ofstream(mail) << "Subject: kept\r\n";

    w.RemoveAccount(); // the box says No
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_NE(prompts.Shown[0].Text.find("Remove the account \"Home\"?"), std::string::npos);
    EXPECT_TRUE(fs::exists(AccountFileName("Home")));

    prompts.QueueAnswer(mrYes);
    w.RemoveAccount();
    EXPECT_FALSE(fs::exists(home / "Home.Set"));
    EXPECT_TRUE(fs::exists(mail));
    EXPECT_TRUE(fs::is_directory(PostofficeDir()));
    // The start-up place passed to the account left, which is loaded now.
    EXPECT_EQ(StartAccountName(), "Work");
    EXPECT_EQ(CurSetName, "Work");
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Work");
    EXPECT_TRUE(w.AccountItems[0]->isVisible());
    EXPECT_FALSE(w.AccountItems[1]->isVisible());
}

TEST_F(AccountEditor, AFileOthersCanReadIsReportedOnceInTheProtocol) {
    Account("Dummy", "[POPClient]\nServer=a\nPassword=plain\n");
    ::chmod((home / "Dummy.Set").c_str(), 0644);
    TFormMain w;
    w.ReadAccount("Dummy"); // loaded again, as a switch or a timed check does
    w.ReadAccount("Dummy");
    EXPECT_EQ(std::count(ProgramLog.Items().begin(), ProgramLog.Items().end(),
                         "Warning: others can read the password in " +
                             (home / "Dummy.Set").string() + " (chmod 600 makes it yours alone)"),
              1);
}

TEST(WaitingText, CountsAndSizes) {
    EXPECT_EQ(WaitingText(0, 0), "No messages waiting");
    EXPECT_EQ(WaitingText(1, 812), "1 message (812 bytes) waiting");
    EXPECT_EQ(WaitingText(2, 4500), "2 messages (4.5 KB) waiting");
    EXPECT_EQ(WaitingText(3, 1234567), "3 messages (1.2 MB) waiting");
}

TEST_F(AccountEditor, TestConnectionLogsInWithTheEnteredValuesWithoutSaving) {
    TFakePop3Server server;
    server.Say("+OK ready").ServeLogin("u", "p", "", "+OK 3 1234567").Expect("QUIT").Say("+OK bye");
    TFormAccount f(Probe(server.Port()), TStringList());
    f.BtnTestClick();
    EXPECT_EQ(f.LabelTest->text(), "3 messages (1.2 MB) waiting");
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(f.Testing());
    EXPECT_TRUE(f.BtnOK->isEnabled());
    // Nothing was written: no account file, no start-up account.
    for (const auto& entry : fs::directory_iterator(home))
        EXPECT_NE(entry.path().extension(), ".Set");
    EXPECT_FALSE(StartAccountExists());
}

TEST_F(AccountEditor, NewAccountIsAutomaticAndClearTextOnlyAnExplicitChoice) {
    TFormAccount f(NewAccountSettings(), TStringList());
    EXPECT_EQ(f.CBSecurity->currentData().toString(), "auto");
    EXPECT_EQ(f.CBSecurity->findData(QString("")), -1); // "by port" is for old accounts only
    EXPECT_EQ(f.EditPort->value(), 0);
    EXPECT_EQ(f.EditPort->text(), "any (995, 110)");
    EXPECT_TRUE(f.LabelSecurity->text().startsWith("TLS, else STLS"));
    EXPECT_EQ(f.Settings().DefPort, 0);
    f.CBSecurity->setCurrentIndex(f.CBSecurity->findData(QString("none")));
    EXPECT_EQ(f.LabelSecurity->text(),
              "Clear text: anyone on the way can read the password and the mail");
    EXPECT_EQ(f.Settings().DefPort, 110);
    f.CBSecurity->setCurrentIndex(f.CBSecurity->findData(QString("tls")));
    EXPECT_EQ(f.Settings().DefPort, 995);

    // A server that offers neither TLS nor STLS: the test says what was tried, and the
    // choice stays automatic.
    TFakePop3Server server;
    server.OfferNoSecurity();
    f.CBSecurity->setCurrentIndex(f.CBSecurity->findData(QString("auto")));
    f.EditServer->setText("127.0.0.1");
    f.EditPort->setValue(server.Port());
    f.EditUser->setText("u");
    f.EditPassword->setText("p");
    f.BtnTestClick();
    const QString port = QString::number(server.Port());
    EXPECT_TRUE(
        f.LabelTest->text().startsWith("Test failed: No secure connection: TLS on port " + port))
        << f.LabelTest->text().toStdString();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received().find("USER"), std::string::npos);
    EXPECT_EQ(f.CBSecurity->currentData().toString(), "auto");
}

TEST_F(AccountEditor, TestConnectionShowsTheServersAnswerOrStopsOnCancel) {
    TFakePop3Server server;
    server.Say("+OK ready").RefuseLogin("u", "wrong");
    TFormAccount f(Probe(server.Port(), "wrong"), TStringList());
    f.BtnTestClick();
    EXPECT_EQ(f.LabelTest->text(), "Test failed: -ERR [AUTH] Authentication failed.");

    // Cancel while the server keeps the log-in waiting: the test ends, the editor stays.
    server.NextConnection().Say("+OK ready").Expect("CAPA").Say("-ERR").Expect("USER u").Pause();
    TFormAccount g(Probe(server.Port()), TStringList());
    bool cancelled = false;
    QTimer::singleShot(0, &g, [&] {
        EXPECT_TRUE(g.Testing());
        EXPECT_FALSE(g.BtnOK->isEnabled());
        g.reject();
        cancelled = true;
    });
    g.BtnTestClick();
    server.Resume();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(g.LabelTest->text(), "Test failed: Operation has been canceled");
    EXPECT_FALSE(g.Testing());
    EXPECT_EQ(g.result(), QDialog::Rejected);
    EXPECT_TRUE(g.BtnTest->isEnabled());
}

TEST_F(AccountEditor, OAuthPresetsFillTheAccountAndAnEditKeepsItsSignIn) {
    TFormAccount f(NewAccountSettings(), TStringList());
    EXPECT_EQ(f.CBAuth->currentText(), "Password");
    EXPECT_FALSE(f.EditClientId->isEnabled());
    EXPECT_FALSE(f.EditClientId->isVisibleTo(&f));
    // On a screen too short for every group (the virtual one is 600 pixels high) the groups
    // scroll and OK stays on the screen.
    f.CBAuth->setCurrentIndex(1);
    emit f.CBAuth->activated(1);
    ASSERT_TRUE(f.screen());
    EXPECT_LE(f.sizeHint().height(), f.screen()->availableGeometry().height());
    EXPECT_LT(f.FGroups->minimumHeight(), f.FGroups->widget()->sizeHint().height());
    f.CBAuth->setCurrentIndex(0);
    emit f.CBAuth->activated(0);
    EXPECT_TRUE(f.Settings().OAuth.Method == kAuthPassword);
    // Choosing OAuth 2.0 takes the first preset, from the data file.
    f.CBAuth->setCurrentIndex(1);
    emit f.CBAuth->activated(1);
    EXPECT_EQ(f.CBProvider->currentText(), "Microsoft (Outlook.com, Microsoft 365)");
    EXPECT_EQ(f.EditServer->text(), "outlook.office365.com");
    EXPECT_EQ(f.EditPort->value(), 995);
    EXPECT_EQ(f.CBSecurity->currentData().toString(), "tls");
    EXPECT_FALSE(f.EditPassword->isEnabled());
    EXPECT_TRUE(f.EditTokenUrl->isReadOnly());
    EXPECT_TRUE(f.EditTokenUrl->isVisibleTo(&f));
    const int google = f.CBProvider->findText("Google");
    ASSERT_GE(google, 0);
    f.CBProvider->setCurrentIndex(google);
    emit f.CBProvider->activated(google);
    EXPECT_EQ(f.EditServer->text(), "pop.gmail.com");
    EXPECT_EQ(f.EditScopes->text(), "https://mail.google.com/");
    // "Other": every address typed.
    const int other = f.CBProvider->findText("Other");
    f.CBProvider->setCurrentIndex(other);
    emit f.CBProvider->activated(other);
    EXPECT_FALSE(f.EditTokenUrl->isReadOnly());
    f.EditTokenUrl->setText("https://id.example.org/token");
    f.EditClientId->setText("client-7");
    f.EditPassword->setText("ignored");
    const TAccountSettings s = f.Settings();
    EXPECT_TRUE(s.OAuth.Enabled());
    EXPECT_EQ(s.OAuth.Provider, "");
    EXPECT_EQ(s.OAuth.TokenUrl, "https://id.example.org/token");
    EXPECT_EQ(s.OAuth.AuthorizationUrl, "https://accounts.google.com/o/oauth2/v2/auth");
    EXPECT_EQ(s.OAuth.ClientId, "client-7");
    EXPECT_EQ(s.Password, "");

    // An edit of an OAuth account shows its sign-in and gives it back unchanged.
    TAccountSettings stored = s;
    stored.OAuth.Provider = "google";
    stored.OAuth.ClientSecret = "from the command line";
    TFormAccount again(stored, TStringList());
    EXPECT_EQ(again.CBAuth->currentIndex(), 1);
    EXPECT_EQ(again.CBProvider->currentText(), "Google");
    EXPECT_EQ(again.Settings().OAuth.ClientSecret, "from the command line");
    EXPECT_EQ(again.Settings().OAuth.TokenUrl, "https://id.example.org/token");
}
