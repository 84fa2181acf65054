// Where the program reads and writes. POSTVIGIL_HOME and XDG_CONFIG_HOME relocate
// everything, so isolated copies (tests, demos) never touch the user's own files.
#pragma once

#include <string>
#include <string_view>

// The program folder with a trailing "/": $POSTVIGIL_HOME, else $XDG_DATA_HOME/Tessmar/,
// else ~/.local/share/Tessmar/. Account files and the eMails folders live here.
std::string ProgDir();
// $XDG_CONFIG_HOME/Tessmar/ (default ~/.config/Tessmar/), with a trailing "/".
std::string ConfigDir();
// $XDG_CACHE_HOME/Tessmar/ (default ~/.cache/Tessmar/), with a trailing "/": what can be
// thrown away and fetched again.
std::string CacheDir();
// The settings store and the profile that holds the "Load" line.
std::string RegistryFile();
std::string WinIniFile();
// $XDG_CONFIG_HOME/autostart/ (default ~/.config/autostart/).
std::string AutostartDir();

// dir + name when that exists; otherwise the entry of dir whose name equals name without
// regard to letter case; otherwise dir + name. dir ends with "/".
std::string FindFileNoCase(const std::string& dir, std::string_view name);
// Turns the backslashes of a relative folder name into "/".
std::string NativeRelative(std::string_view windowsPath);
// Creates the folder and any missing parents; false when that failed.
bool ForceDirectories(const std::string& path);
