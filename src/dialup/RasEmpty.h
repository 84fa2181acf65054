// The RAS provider of a machine without connection management: an empty phone book and no
// connections, so the program runs normally and simply never dials.
#pragma once

#include "dialup/RasProvider.h"

class TRasEmpty : public TRasProvider {
protected:
    std::vector<std::string> PhoneBook() override { return {}; }
    uint32_t DialParams(const std::string&, TRasDialCredentials&) override {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    uint32_t Dial(const std::string&, TRasDialFunc1, THRasConn&) override {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    std::vector<TRasConnInfo> Connections() override { return {}; }
    uint32_t Status(THRasConn, TRasLinkStatus&) override { return ERROR_INVALID_HANDLE; }
    uint32_t HangUp(THRasConn) override { return ERROR_INVALID_HANDLE; }
    uint32_t Addresses(THRasConn, TRasAddresses&) override { return ERROR_INVALID_HANDLE; }
};
