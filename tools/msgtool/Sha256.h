// SHA-256 of a byte string, as 64 lower-case hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

std::string Sha256Hex(std::string_view data);
