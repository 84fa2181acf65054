// The demo for newcomers: a sample post office on a loopback port and a "Demo" account on it,
// in program and settings folders of its own.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TDemoPop3Server;

// Starts the demo's server and points the program at a fresh folder below the user's cache
// folder (POSTVIGIL_HOME and XDG_CONFIG_HOME are set for this process), with the "Demo"
// account as the start-up account. Raises Exception when no port can be had.
std::unique_ptr<TDemoPop3Server> PrepareDemo();
// The same with a mailbox of its own (whole messages with CR LF line ends).
std::unique_ptr<TDemoPop3Server> PrepareDemo(std::vector<std::string> messages);
// The demo's folder: $XDG_CACHE_HOME/postvigil-demo (default ~/.cache/postvigil-demo).
std::string DemoFolder();
