// A whole check as a modern server answers it, scripted on the fake server: greeting, log-in
// with CAPA (TOP, UIDL), the ids ("id-" + subject) and sizes, the header of each message
// (from Ann, with its subject) and the goodbye. The first known messages were seen before:
// they are listed from the header cache, their headers are not asked for.
#pragma once

#include "FakePop3Server.h"

#include <string>
#include <vector>

namespace pvtest {
void ServeListing(TFakePop3Server& server, const std::string& user, const std::string& password,
                  const std::vector<std::string>& subjects, std::size_t known = 0);
} // namespace pvtest
