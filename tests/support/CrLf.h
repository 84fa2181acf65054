// The line ends a saved message has, worked out on the whole text at once: what a message
// streamed to its file piece by piece must come out as.
#pragma once

#include <string>

namespace pvtest {
// Makes every line end in CR LF (a lone LF or CR becomes CR LF, a run of CRs before an LF
// one CR LF); text already in that form is left as it is.
void MakeCrLf(std::string& text);
} // namespace pvtest
