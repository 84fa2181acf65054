#include "MailboxScript.h"

namespace pvtest {
void ServeListing(TFakePop3Server& server, const std::string& user, const std::string& password,
                  const std::vector<std::string>& subjects, std::size_t known) {
    const std::string count = std::to_string(subjects.size());
    server.Say("+OK ready").ServeLogin(user, password, "TOP\r\nUIDL\r\n", "+OK " + count + " 900");
    std::string uidl = "+OK\r\n", list = "+OK\r\n";
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        uidl += std::to_string(i + 1) + " id-" + subjects[i] + "\r\n";
        list += std::to_string(i + 1) + " " + std::to_string(100 + i) + "\r\n";
    }
    server.Expect("UIDL").SayRaw(uidl + ".\r\n");
    server.Expect("LIST").SayRaw(list + ".\r\n");
    for (std::size_t i = known; i < subjects.size(); ++i)
        server.Expect("TOP " + std::to_string(i + 1) + " 1")
            .Say("+OK")
            .SayRaw("From: Ann <ann@example.com>\r\nSubject: " + subjects[i] + "\r\n\r\n.\r\n");
    server.Expect("QUIT").Say("+OK bye");
}
} // namespace pvtest
