// What the delivery targets share: the message's text turned to LF line ends on its way, the
// header block held back until the envelope sender is known, and plain writes to a file.
#pragma once

#include "mailbox/Delivery.h"
#include "platform/DurableFile.h"

#include <functional>
#include <string>
#include <string_view>

namespace delivery {

using TOutput = std::function<void(std::string_view text)>;

// Turns the CR LF line ends of the pieces into LF (a CR without an LF stays) and, for an
// mbox, gives every line that matches "^>*From " one ">" more. Passes the text on in runs of
// up to 64 KB; a run's memory is taken once.
class TLfText {
public:
    TLfText(TOutput output, bool quoteFrom);
    void Put(std::string_view piece);
    // Passes on what is still held; with endLine, a last line without its line end gets one.
    void Close(bool endLine);

private:
    void Take(char c);
    void Emit(char c) {
        FRun.push_back(c);
        if (FRun.size() >= kRunSize) Pass();
    }
    void EmitMany(char c, std::size_t count);
    void Append(std::string_view text);
    void Pass();

    static constexpr std::size_t kRunSize = 65536;
    TOutput FOutput;
    std::string FRun;
    char FLast = '\n';
    bool FCr = false;
    bool FQuote;
    // At a line's start: how many ">" and how much of "From " are held back until the line
    // shows whether it has to be quoted.
    bool FLineStart;
    std::size_t FMarks = 0;
    std::size_t FFrom = 0;
};

// Holds back the start of the text until its header block is complete (or kHeaderLimit bytes
// long), then calls start with the envelope sender once and passes everything on.
class THeaderGate {
public:
    THeaderGate(std::function<void(const std::string& sender)> start, TOutput output);
    void Put(std::string_view text);
    // At the end of the message: starts with what came, if nothing did so yet.
    void Close();

private:
    void Release(const std::string& sender);

    std::function<void(const std::string& sender)> FStart;
    TOutput FOutput;
    std::string FHeld;
    bool FStarted = false;
};

// The message with LF line ends (quoted for an mbox), its start held back until the envelope
// sender is known: start(sender) runs before the first output.
class TSenderFirstText {
public:
    TSenderFirstText(std::function<void(const std::string& sender)> start, TOutput output,
                     bool quoteFrom)
        : FGate(std::move(start), std::move(output)),
          FText([this](std::string_view text) { FGate.Put(text); }, quoteFrom) {}
    TSenderFirstText(const TSenderFirstText&) = delete;
    TSenderFirstText& operator=(const TSenderFirstText&) = delete;
    void Put(std::string_view piece) { FText.Put(piece); }
    void Close(bool endLine) {
        FText.Close(endLine);
        FGate.Close();
    }

private:
    THeaderGate FGate;
    TLfText FText;
};

// The envelope sender named by a header block (LF line ends): the Return-Path's address,
// else the first From address, else kNoSender. An address that is not one plain word (or
// could be taken for an option) counts as none.
std::string EnvelopeSender(std::string_view header);

// A sink that undoes its work whenever writing or finishing fails, and when it goes unfinished.
class TUndoingSink : public TDeliverySink {
public:
    void Write(std::string_view piece) final;
    std::string Finish() final;

protected:
    virtual void Put(std::string_view piece) = 0;
    virtual std::string Complete() = 0;
    // Takes back whatever the message left in the target; also from the destructor.
    virtual void Undo() = 0;
};

} // namespace delivery
