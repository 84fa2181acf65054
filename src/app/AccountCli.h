// The account commands for scripts: --add-account, --list-accounts, --trust-certificate and
// --sign-in.
#pragma once

#include "mailbox/OAuthFlow.h"

#include <iosfwd>
#include <string>
#include <vector>

// args are the words after --add-account: --server, --port, --user, --description, each
// followed by its value. The password is the first line of in (never an argument); when in
// is a terminal it is asked for without echo. With --oauth PROVIDER (a preset's id, or
// "other") the account signs in with OAuth 2.0 instead and no password is read: --client-id
// is needed, the preset fills server, port, security, addresses and scopes unless given
// (--authorization-url, --token-url, --scopes, --client-secret). Exit status 0 when the account was
// written, 1 when it could not be, 2 for wrong arguments.
int RunAddAccount(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);
// One line per listed account: description, file name and, for the start-up account,
// "start-up", separated by TAB.
int RunListAccounts(std::ostream& out);
// Connects to the start-up account's server as the account says (TLS or STLS), and when the
// certificate it shows has this fingerprint, prints whose it is and stores the fingerprint
// in the account file, so that this certificate, and no other, is accepted. Nothing about
// the user is sent. Exit status 0 when stored, 1 when not, 2 for a fingerprint that is none.
int RunTrustCertificate(const std::string& fingerprint, std::ostream& out, std::ostream& err);
// The browser's sign-in of the start-up account (an OAuth 2.0 one): prints the address it
// opens with browser, waits for the answer and keeps the refresh token in the keyring. Exit
// status 0 when signed in, 1 when not.
int RunSignIn(const TBrowserOpener& browser, std::ostream& out, std::ostream& err);
