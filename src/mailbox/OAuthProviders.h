// The OAuth 2.0 providers the program knows: their POP3 server and their sign-in addresses,
// from the data file built in as the resource ":/oauth/providers.json".
#pragma once

#include <string>
#include <vector>

struct TOAuthPreset {
    // What the command line names it by ("microsoft") and what the editor shows.
    std::string Id;
    std::string Name;
    std::string Server;
    int Port = 0;
    std::string Security;
    std::string AuthorizationUrl;
    std::string TokenUrl;
    std::string Scopes;
};

// Every preset, in the file's order (empty when the file cannot be read).
const std::vector<TOAuthPreset>& OAuthPresets();
// The preset with this id (any case); nullptr when there is none.
const TOAuthPreset* FindOAuthPreset(const std::string& id);
