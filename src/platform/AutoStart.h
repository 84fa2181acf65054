// Starting the program when the user logs on: the "Load" line of the profile, which lists
// programs separated by commas, and the desktop's autostart entry that really starts it.
#pragma once

#include <string>
#include <string_view>

// Adds ",path" to a Load value that does not contain path yet (letter case counts). Returns
// false when path was listed already and value is unchanged.
bool AddToLoadLine(std::string& value, std::string_view path);
// Deletes the first occurrence of path, together with the comma in front of it when there is
// one. Returns false when path is not listed and value is unchanged.
bool RemoveFromLoadLine(std::string& value, std::string_view path);

// The Load value of the "Windows" section in the profile (WinIniFile()), "" when missing, and
// writing it back; false when the profile could not be written.
std::string ReadLoadLine();
bool WriteLoadLine(std::string_view value);

// AutostartDir() + "postvigil.desktop".
std::string AutostartEntryFile();
// The autostart entry that starts program (an absolute path); "" for a path a desktop entry
// cannot name (control characters).
std::string AutostartEntryText(std::string_view program);
// Writes the entry (the folder is created when missing) or removes it. False when that
// failed; a missing entry counts as removed.
bool WriteAutostartEntry(std::string_view program);
bool RemoveAutostartEntry();
