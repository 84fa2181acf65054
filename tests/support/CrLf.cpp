#include "CrLf.h"

namespace pvtest {
void MakeCrLf(std::string& text) {
    bool clean = true;
    for (std::size_t i = 0; clean && i < text.size(); ++i) {
        if (text[i] == '\r')
            clean = i + 1 < text.size() && text[i + 1] == '\n' && ++i;
        else if (text[i] == '\n')
            clean = false;
    }
    if (clean) return;
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            out.append("\r\n");
        } else if (c == '\r') {
            // A run of CRs before an LF is one line end (CR CR LF from a server that puts a
            // CR before every LF of a message stored with CR LF); any other CR is one.
            std::size_t run = i + 1;
            while (run < text.size() && text[run] == '\r') ++run;
            if (run < text.size() && text[run] == '\n') {
                out.append("\r\n");
            } else {
                for (std::size_t k = i; k < run; ++k) out.append("\r\n");
                --run;
            }
            i = run;
        } else {
            out.push_back(c);
        }
    }
    text.swap(out);
}
} // namespace pvtest
