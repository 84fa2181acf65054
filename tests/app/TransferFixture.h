// The transfer's test fixture: a scripted server, a manual clock, and the conversations of a
// check and of a collect over a mailbox of given messages.
#pragma once

#include "FakePop3Server.h"
#include "MainWindowFixture.h"
#include "app/MailRows.h"
#include "base/Clock.h"
#include "mailbox/MailFiles.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include <string>
#include <vector>

namespace pvtest {
struct TMail {
    std::string Uidl;
    std::string Text; // as stored, CR LF; served dot-stuffed
};

inline std::string Stuffed(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        if (text[start] == '.') out += '.';
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

inline std::string Slurp(const fs::path& path) {
    return ReadWholeFile(path.string());
}

struct Transfer : MainWindowFixture {
    TFakePop3Server server;
    TManualClock clock;
    TRecordingSystemSounds sounds;
    TRecordingTonePlayer tones;
    TScriptedPrompts prompts;

    pvtest::TScopedSeam<TClock*> clockSeam{SetClock, &clock};
    pvtest::TScopedSeam<TSystemSounds*> soundsSeam{SetSystemSounds, &sounds};
    pvtest::TScopedSeam<TTonePlayer*> tonesSeam{SetTonePlayer, &tones};
    pvtest::TScopedSeam<TPrompts*> promptsSeam{SetPrompts, &prompts};

    void SetUp() override {
        MainWindowFixture::SetUp();
        Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=5\n[RASSet]\nRASService=-1\n"
                         "[POPClient]\nSecurity=none\nServer=127.0.0.1\nDefPort=" +
                             std::to_string(server.Port()) + "\nUserName=bob\nPassword=secret\n");
    }
    // capabilities: the lines of the CAPA answer; none for a server that does not know CAPA.
    void LogIn(std::size_t count, const std::string& capabilities = "") {
        server.Say("+OK ready")
            .ServeLogin("bob", "secret", capabilities, "+OK " + std::to_string(count) + " 9000");
    }
    void Ids(const std::vector<TMail>& box, bool uidl) {
        if (!uidl) {
            server.Expect("UIDL").Say("-ERR no UIDL here");
            return;
        }
        std::string answer = "+OK\r\n";
        for (std::size_t i = 0; i < box.size(); ++i)
            answer += std::to_string(i + 1) + " " + box[i].Uidl + "\r\n";
        server.Expect("UIDL").SayRaw(answer + ".\r\n");
    }
    // The check's conversation over mailbox box.
    void Check(const std::vector<TMail>& box, bool uidl = true) {
        LogIn(box.size());
        if (box.empty()) {
            server.Expect("QUIT").Say("+OK").NextConnection();
            return;
        }
        Ids(box, uidl);
        for (std::size_t i = 0; i < box.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            const std::string& text = box[i].Text;
            server.Expect("TOP " + n + " 1").Say("+OK");
            server.SayRaw(Stuffed(text.substr(0, text.find("\r\n\r\n") + 4)) + ".\r\n");
            server.Expect("LIST " + n).Say("+OK " + n + " " + std::to_string(text.size()));
        }
        server.Expect("QUIT").Say("+OK").NextConnection();
    }
    // The start of the transfer's session: log-in, sizes and ids of box.
    void Session(const std::vector<TMail>& box, bool uidl = true,
                 const std::string& capabilities = "") {
        LogIn(box.size(), capabilities);
        std::string list = "+OK\r\n";
        for (std::size_t i = 0; i < box.size(); ++i)
            list += std::to_string(i + 1) + " " + std::to_string(box[i].Text.size()) + "\r\n";
        // A server that knows CAPA is asked for ids and sizes with the log-in; an older one
        // when the transfer needs them.
        if (!capabilities.empty()) Ids(box, uidl);
        server.Expect("LIST").SayRaw(list + ".\r\n");
        if (capabilities.empty()) Ids(box, uidl);
    }
    void Retr(int n, const TMail& mail) {
        server.Expect("RETR " + std::to_string(n))
            .Say("+OK " + std::to_string(mail.Text.size()) + " octets")
            .SayRaw(Stuffed(mail.Text) + ".\r\n");
    }
    void Dele(int n) { server.Expect("DELE " + std::to_string(n)).Say("+OK"); }
    // The check of a and b, then a session that gets a; what happens to b is the test's (and
    // a's DELE comes after it).
    void GetFirstOfTwo(const TMail& a, const TMail& b) {
        Check({a, b});
        Session({a, b});
        Retr(1, a);
    }
    // Marks the one message of the box for Get, over the size limit; the prompt answers No.
    // Returns the transfer's notes.
    std::vector<std::string> DeclineLarge(const TMail& big) {
        MailMaxSize = 10;
        Check({big});
        Session({big});
        server.Expect("QUIT").Say("+OK");
        TFormMain w;
        MailMaxSize = 10;
        w.BtnListMailClick();
        Mark(w, {tmGet});
        w.BtnGetMailListClick();
        return w.Session->TransferNotes;
    }
    void Mark(TFormMain& w, std::initializer_list<int> modes) {
        int i = 0;
        for (int m : modes) w.MailRows->SetMode(i++, m);
    }
    fs::path Postoffice() const { return fs::path(PostofficeDir()); }
    std::vector<std::string> Listed() const {
        TStringList list;
        ReadTransList(PostofficeDir() + "/TransList.DAT", list);
        std::vector<std::string> lines;
        for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
        return lines;
    }
};

inline TMail Mail(const std::string& uidl, const std::string& subject,
                  const std::string& body = "") {
    return {uidl, "Subject: " + subject + "\r\nFrom: Ann <ann@example.com>\r\n\r\n" + body +
                      "Text of " + subject + "\r\n"};
}
} // namespace pvtest
