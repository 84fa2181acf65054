// The demo's sample mailbox: a dozen varied messages.
#pragma once

#include <string>
#include <vector>

// Whole messages with CR LF line ends: the three priorities, attachments, encoded subjects,
// one message over 100000 bytes and body lines that start with a dot.
std::vector<std::string> DemoMessages();
