// The account commands for scripts: --add-account and --list-accounts.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// args are the words after --add-account: --server, --port, --user, --description, each
// followed by its value. The password is the first line of in (never an argument); when in
// is a terminal it is asked for without echo. Exit status 0 when the account was written,
// 1 when it could not be, 2 for wrong arguments.
int RunAddAccount(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);
// One line per listed account: description, file name and, for the start-up account,
// "start-up", separated by TAB.
int RunListAccounts(std::ostream& out);
