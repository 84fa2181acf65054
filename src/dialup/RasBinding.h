// Run-time binding to RAS. Every RAS function is looked up by name at each call through
// GetRasProc, which loads "rasapi32.dll" on first use and falls back to "rnaph.dll" when the
// first library lacks the function. Loading a library asks the installed loader (the
// program installs the configured provider of RasConfig.h at start); without one nothing
// loads, as on a system without RAS. The binding is process-wide and stays until UnloadRas or
// program end.
#pragma once

#include "dialup/RasApi.h"

#include <functional>
#include <memory>
#include <string>

// Loads a library by file name; nullptr when it cannot be loaded.
using TRasLoader = std::function<std::shared_ptr<TRasLibrary>(const std::string& fileName)>;

// The library that exports name under the look-up rules (name + "A" first, then name; in
// fall-back mode only name). Raises Exception "Error opening rasapi.dll", "Error opening
// rnaph.dll" or "Function " + name + " not found!".
TRasLibrary& GetRasProc(const std::string& name);

// Drops the loaded libraries and uses loader from now on; an empty loader loads nothing.
void SetRasLoader(TRasLoader loader);
// Drops the loaded libraries; the next look-up loads again.
void UnloadRas();
// True once a look-up has succeeded.
bool RasLoaded();

// True while the loaded provider is still reading its phone book.
bool RasPhoneBookPending();
// Runs the event loop until the loaded provider has read its phone book, at most limitMs;
// false when it is still reading. For runs without a window, which may wait.
bool WaitForRasPhoneBook(int limitMs);
// Who is told, on the GUI thread, that the provider has read its phone book (again: its
// service came back); nullptr for nobody.
void SetRasPhoneBookListener(std::function<void()> listener);
// Called by a provider when it has read its phone book.
void RasPhoneBookRead();
