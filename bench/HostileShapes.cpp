// Time and peak memory of decoding and saving one hostile message shape.
//
//   hostile_shapes fields|tiny|folded|parts|lines SIZE
//
//   fields  SIZE lines "Content-Type: text/plain" in the header block
//   tiny    a header block of SIZE bytes of empty "X:" fields
//   folded  a header block of one field folded over SIZE bytes of " x" lines
//   parts   a multipart of empty parts, SIZE bytes
//   lines   a body of SIZE bare line ends
//
// Prints the message size, the seconds of each step and the growth of the process's peak
// resident size (VmHWM) over each step, counted from before the input is copied into a stream.
#include "base/Streams.h"
#include "message/msmsg.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long long PeakKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
    return 0;
}

std::string Shape(const std::string& kind, std::size_t n) {
    std::string text = "From: a@b\r\nSubject: s\r\nMIME-Version: 1.0\r\n";
    if (kind == "fields") {
        for (std::size_t i = 0; i < n; ++i) text += "Content-Type: text/plain\r\n";
        text += "\r\nbody\r\n";
    } else if (kind == "tiny" || kind == "folded") {
        if (kind == "folded") text += "X-Folded:\r\n";
        const char* unit = kind == "tiny" ? "X:\r\n" : " x\r\n";
        while (text.size() < n) text += unit;
        text += "\r\nbody\r\n";
    } else if (kind == "parts") {
        text += "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
        while (text.size() < n) text += "--b\r\n\r\n";
        text += "--b--\r\n";
    } else {
        text += "\r\n";
        text.append(n, '\n');
    }
    return text;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hostile_shapes fields|tiny|folded|parts|lines SIZE\n");
        return 2;
    }
    const std::string text = Shape(argv[1], std::size_t(std::atoll(argv[2])));
    const long long base = PeakKB();
    auto start = std::chrono::steady_clock::now();
    TmsMessage message;
    {
        TMemoryStream input;
        input.WriteString(text);
        input.SetPosition(0);
        message.LoadFromStream(input);
    }
    const double decode = Since(start);
    const long long afterDecode = PeakKB();
    start = std::chrono::steady_clock::now();
    TMemoryStream saved;
    message.SaveToStream(saved);
    const double encode = Since(start);
    std::printf("%s %s: %zu KB, decode %.3f s (+%lld KB peak), save %.3f s (+%lld KB peak, "
                "%zu KB written), %d attachments\n",
                argv[1], argv[2], text.size() / 1024, decode, afterDecode - base, encode,
                PeakKB() - base, saved.View().size() / 1024, message.Attachments().Count());
    return 0;
}
