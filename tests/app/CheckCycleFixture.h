// The check cycle's test fixture: the main window on a scripted POP3 server, with a manual
// clock and recorded sounds.
#pragma once

#include "FakePop3Server.h"
#include "MainWindowFixture.h"
#include "app/HelpUnit.h"
#include "base/Clock.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include <QDateTime>
#include <QLocale>

using pvtest::TFakePop3Server;

struct CheckCycle : MainWindowFixture {
    TFakePop3Server server;
    TManualClock clock;
    TRecordingSystemSounds sounds;
    TRecordingTonePlayer tones;
    TStringList shownHeaders;

    pvtest::TScopedSeam<TClock*> clockSeam{SetClock, &clock};
    pvtest::TScopedSeam<TSystemSounds*> soundsSeam{SetSystemSounds, &sounds};
    pvtest::TScopedSeam<TTonePlayer*> tonesSeam{SetTonePlayer, &tones};
    pvtest::TScopedValue<decltype(TFormMain::ExecModal)> helpModal{
        TFormMain::ExecModal, [this, answer = TFormMain::ExecModal](QDialog& d) {
            if (auto* h = qobject_cast<TFormHelp*>(&d)) shownHeaders = h->Lines();
            return answer(d);
        }};

    // The start-up account on the fake server; "Dummy" keeps its password in plain text. An
    // empty security leaves the key out, as accounts from before automatic security have it.
    void PopAccount(const std::string& ras = "-1", const std::string& password = "secret",
                    const std::string& security = "none") {
        Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=5\n[RASSet]\nRASService=" + ras +
                             "\n[POPClient]\n" +
                             (security.empty() ? "" : "Security=" + security + "\n") +
                             "Server=127.0.0.1\nDefPort=" + std::to_string(server.Port()) +
                             "\nUserName=bob\nPassword=" + password + "\n");
    }
    // A check that finds mail asks for the unique ids; by default this server has none.
    void LogIn(int count, const std::string& uidlAnswer = "-ERR unknown command\r\n") {
        server.Say("+OK ready")
            .ServeLogin("bob", "secret", "", "+OK " + std::to_string(count) + " 9000");
        if (count > 0) server.Expect("UIDL").SayRaw(uidlAnswer);
    }
    void Header(int n, const std::string& lines, const std::string& list) {
        server.Expect("TOP " + std::to_string(n) + " 1").Say("+OK").SayRaw(lines + "\r\n.\r\n");
        server.Expect("LIST " + std::to_string(n)).Say(list);
    }
    static QString Local(const QDateTime& t) { return QLocale().toString(t, QLocale::ShortFormat); }
};
