#include "mailbox/DeliveryText.h"

#include "base/Exceptions.h"
#include "base/StringList.h"
#include "message/mspars.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace delivery {
namespace {
constexpr std::string_view kFrom = "From ";

// A sender goes into a separator line and onto a command line: one word, never an option.
bool IsPlainWord(std::string_view address) {
    if (address.empty() || address.front() == '-') return false;
    for (const char c : address)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') return false;
    return true;
}
} // namespace

TLfText::TLfText(TOutput output, bool quoteFrom)
    : FOutput(std::move(output)), FQuote(quoteFrom), FLineStart(quoteFrom) {
    FRun.reserve(kRunSize);
}

void TLfText::Put(std::string_view piece) {
    for (std::size_t at = 0; at < piece.size();) {
        if (!FCr && !FLineStart) {
            // A stretch that needs no change: up to the next CR and, where lines are quoted,
            // through the next line end (the line after it may need a mark).
            std::size_t end = piece.find('\r', at);
            if (FQuote) end = std::min(end, piece.find('\n', at));
            if (end == std::string_view::npos) end = piece.size() - 1;
            if (piece[end] != '\r') {
                Append(piece.substr(at, end + 1 - at));
                FLineStart = FQuote && piece[end] == '\n';
                at = end + 1;
                continue;
            }
            Append(piece.substr(at, end - at));
            at = end;
        }
        const char c = piece[at++];
        if (FCr) {
            FCr = false;
            if (c == '\n') {
                Take('\n');
                continue;
            }
            Take('\r');
        }
        if (c == '\r')
            FCr = true;
        else
            Take(c);
    }
}

void TLfText::Append(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = std::min(text.size(), kRunSize - FRun.size());
        FRun.append(text.substr(0, n));
        text.remove_prefix(n);
        if (FRun.size() >= kRunSize) Pass();
    }
}

void TLfText::Take(char c) {
    if (FLineStart) {
        if (FFrom == 0 && c == '>') {
            ++FMarks;
            return;
        }
        if (c == kFrom[FFrom] && ++FFrom < kFrom.size()) return;
        const bool fromLine = FFrom == kFrom.size();
        EmitMany('>', FMarks + (fromLine ? 1 : 0));
        for (std::size_t i = 0; i < FFrom; ++i) Emit(kFrom[i]);
        FLineStart = false;
        FMarks = FFrom = 0;
        if (fromLine) return; // c ended "From ", emitted just now
    }
    Emit(c);
    if (c == '\n' && FQuote) FLineStart = true;
}

void TLfText::EmitMany(char c, std::size_t count) {
    while (count > 0) {
        const std::size_t n = std::min(count, kRunSize - FRun.size());
        FRun.append(n, c);
        count -= n;
        if (FRun.size() >= kRunSize) Pass();
    }
}

void TLfText::Pass() {
    if (FRun.empty()) return;
    FLast = FRun.back();
    FOutput(FRun);
    FRun.clear();
}

void TLfText::Close(bool endLine) {
    if (FCr) Take('\r');
    FCr = false;
    if (FLineStart) {
        EmitMany('>', FMarks);
        for (std::size_t i = 0; i < FFrom; ++i) Emit(kFrom[i]);
        FMarks = FFrom = 0;
    }
    FLineStart = false;
    const char last = FRun.empty() ? FLast : FRun.back();
    if (endLine && last != '\n') Emit('\n');
    Pass();
}

THeaderGate::THeaderGate(std::function<void(const std::string& sender)> start, TOutput output)
    : FStart(std::move(start)), FOutput(std::move(output)) {}

void THeaderGate::Put(std::string_view text) {
    if (text.empty()) return;
    if (FStarted) {
        FOutput(text);
        return;
    }
    const std::size_t from = FHeld.empty() ? 0 : FHeld.size() - 1;
    FHeld.append(text);
    // An empty first line: no header block at all.
    const std::size_t end = FHeld.front() == '\n' ? 0 : FHeld.find("\n\n", from);
    if (end != std::string::npos)
        Release(EnvelopeSender(std::string_view(FHeld).substr(0, end + 1)));
    else if (FHeld.size() >= kHeaderLimit)
        Release(kNoSender);
}

void THeaderGate::Close() {
    if (!FStarted) Release(EnvelopeSender(FHeld));
}

void THeaderGate::Release(const std::string& sender) {
    FStart(sender);
    FStarted = true;
    std::string held;
    held.swap(FHeld);
    if (!held.empty()) FOutput(held);
}

std::string EnvelopeSender(std::string_view header) {
    TStringList headers;
    headers.SetText(header);
    TStringList items;
    std::string name, address;
    for (const char* field : {"Return-Path", "From"}) {
        GetHeaderAddresses(headers, field, items);
        if (items.Empty()) continue;
        try {
            SplitMailAddress(items[0], name, address);
        } catch (const Exception&) {
            continue;
        }
        if (IsPlainWord(address)) return address;
    }
    return kNoSender;
}

void TUndoingSink::Write(std::string_view piece) {
    try {
        Put(piece);
    } catch (...) {
        Undo();
        throw;
    }
}

std::string TUndoingSink::Finish() {
    try {
        return Complete();
    } catch (...) {
        Undo();
        throw;
    }
}

} // namespace delivery
