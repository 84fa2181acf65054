// Delivery of collected mail to where the user's own mail program reads it: a Maildir, an
// mbox file, or a delivery program that takes the message on its standard input.
//
// A message goes to a target as it arrives from the server, piece by piece, and is only
// complete once Finish returns and the target's Flush after it returned: then it is on the
// disk (or the program has taken it) and may be deleted on the server. Memory does not grow with
// the message: only the header block is held back (at most kHeaderLimit bytes) where the envelope
// sender has to be known first.
#pragma once

#include "base/Exceptions.h"

#include "base/StrUtils.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The target cannot take the message now but may later (a delivery program that exits with
// 75, EX_TEMPFAIL): the message stays on the server for the next collect.
PV_DECLARE_EXCEPTION(EDeliveryDeferred, Exception);
// The target refused the message or failed on it (an mbox still locked by another program
// after kMboxLockWaitMs among them). File errors raise EInOutError instead.
PV_DECLARE_EXCEPTION(EDeliveryFailed, Exception);

// One message on its way to a target. Pieces arrive in order, as the server sent the
// message: dot-stuffing undone and every line ended by CR LF (a CR LF may be split between
// two pieces). The targets store it with LF line ends.
class TDeliverySink {
public:
    // A sink that did not finish undoes what it wrote: no half message stays anywhere, and
    // a delivery program still running is killed.
    virtual ~TDeliverySink() = default;
    // Raises EInOutError, EDeliveryFailed or EDeliveryDeferred when the target fails; the
    // sink is then done with and only to be destroyed.
    virtual void Write(std::string_view piece) = 0;
    // Completes the delivery. Returns where the message went: the Maildir file's path,
    // "mbox PATH" or "program COMMAND". Raises EDeliveryDeferred (try again later) or another
    // exception (failed); in both cases nothing of the message is left in the target.
    virtual std::string Finish() = 0;
};

class TDeliveryTarget {
public:
    virtual ~TDeliveryTarget() = default;
    // Starts one message. Raises EInOutError when the target cannot be prepared (a Maildir
    // whose folders cannot be made).
    virtual std::unique_ptr<TDeliverySink> Begin() = 0;
    // Brings every message finished since the last flush to the disk, where the target holds
    // them back for one flush of all (a Maildir: they reach new/ only here). Raises
    // EInOutError; then none of the messages not yet in place is left in the target. A
    // target destroyed before its flush takes back what it held.
    virtual void Flush() {}
};

// How much of a message's start is held back to find the end of its header block; a header
// block longer than this is taken as one without a sender.
inline constexpr std::size_t kHeaderLimit = 4 << 20;
// The envelope sender of a message in the mbox separator line and for a delivery program when
// the header block names none (or none that can stand as one word).
inline constexpr const char* kNoSender = "MAILER-DAEMON";
// How long an mbox's locks are waited for, in all, and how often they are tried again.
inline constexpr int kMboxLockWaitMs = 5000;
inline constexpr int kMboxLockRetryMs = 100;
// The exit status by which a delivery program asks to be tried again later.
inline constexpr int kExitTempFail = 75;

// A Maildir at path: each message is written to tmp/ under a name no other delivery uses;
// Flush brings them to the disk and then links them into new/. Finish returns the name in new/. The
// Maildir and its tmp/, new/ and cur/ are made (owner only) when missing; its parent folder must
// exist.
std::unique_ptr<TDeliveryTarget> MaildirTarget(std::string path);

// An mbox file at path in the mboxrd form: each message after a "From SENDER DATE" line, its
// lines that start with any number of ">" and "From " given one ">" more, and a blank line
// after it. The file is locked as the system's mail programs lock it, with an fcntl write lock
// and a PATH.lock file, waited for kMboxLockWaitMs through the program's clock (in a folder
// the user may not write, the fcntl lock alone); DATE comes from that clock too.
std::unique_ptr<TDeliveryTarget> MboxTarget(std::string path);

// A delivery program, started without a shell from command: words split as in a desktop
// entry's Exec line (see SplitCommandLine), "%F" replaced by the envelope sender and "%%" by
// "%". The message goes to its standard input with LF line ends. Exit status 0 delivered,
// kExitTempFail deferred, anything else (and a signal) failed with the first line the program
// wrote to its standard error. The program may spend timeoutMs in all on the message (time
// waited for the server's pieces does not count); then it is killed and the delivery failed.
// Raises EDeliveryFailed when command is empty or malformed.
std::unique_ptr<TDeliveryTarget> ProgramTarget(std::string command, int timeoutMs);

// A target from its description in the account: "maildir:PATH", "mbox:PATH" (in both, a PATH
// starting with "~/" is below the home folder) or "mda:COMMAND". "files" and "" stand for the post
// office's own files, which the session writes itself: nullptr. timeoutSeconds: the account's
// timeout, for a delivery program. Raises EDeliveryFailed for anything else.
std::unique_ptr<TDeliveryTarget> MakeDeliveryTarget(std::string_view description,
                                                    int timeoutSeconds);
// What is wrong with a target's description, or "" when MakeDeliveryTarget takes it.
std::string CheckDeliveryTarget(std::string_view description);
