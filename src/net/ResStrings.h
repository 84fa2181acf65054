// The program's string table: texts compiled in as a resource and looked up by number.
#pragma once

#include <string>

// The text of string resource id, "" when there is none.
std::string LoadResString(int id);
