// The session's transfer of marked messages: retrieving, saving and deleting, the mail files,
// the record of saved messages and the hand-over list.
#include "mailbox/MailFiles.h"
#include "mailbox/MailboxSession.h"

#include "base/Clock.h"
#include "base/StrUtils.h"
#include "mailbox/Delivery.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {
const char* const kHandled = "%d eMail(s) handled";
const char* const kNewAtPostoffice = "%d new eMail at Postoffice";
const char* const kSavedAs = "eMail %d saved as file %s";
const char* const kProtocolBegin = "------- POP3-Transfer protocol, begin -------";
const char* const kProtocolEnd = "------- POP3-Transfer protocol, end -------";
const char* const kTerminated = "POP3 connection terminated";
const char* const kTransListFile = "TransList.DAT";
const char* const kGone = "eMail %d is no longer on the server as listed; left alone";
const char* const kTooLarge = "eMail %d was not collected: larger than the size to confirm";
const char* const kSavedBefore = "eMail %d was saved before as %s";
const char* const kShortAnswer = "eMail %1: the server sent %2 of the %3 bytes it listed; saved as "
                                 "%4 and left on the server";
const char* const kDeliveredTo = "eMail %d delivered: %s";
const char* const kNotDelivered = "eMail %d was not delivered and stays on the server: %s";
const char* const kNoneDeleted = ", nothing deleted on the server";
const char* const kNothingDeleted =
    "Nothing was deleted on the server: the transfer did not finish, and the %d eMail(s) marked "
    "for deletion stay there until the next collect";
// An answer shorter than the size the server listed divided by this is not the message:
// it is saved (nothing is lost) but never deleted. Servers that count their sizes loosely
// stay far above it; a message of empty lines sent with CR LF for a stored LF is twice its
// listed size, not half.
constexpr int64_t kShortAnswerShare = 2;
// A burst of saves takes two-second steps ahead of the clock; this many names are tried.
constexpr int kNameTries = 100000;

std::string ReplaceFirst(std::string text, std::string_view what, std::string_view with) {
    const std::size_t at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

std::string Printf(const char* format, int n) {
    return ReplaceFirst(format, "%d", std::to_string(n));
}

std::string FileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string TransListPath() {
    return PostofficeDir() + "/" + kTransListFile;
}

// An empty answer, or one far shorter than listed, is kept on the server whatever it was
// marked: the server may have lost or cut the message.
bool IsShortAnswer(int64_t received, int64_t listed) {
    return received == 0 || (listed > 0 && received * kShortAnswerShare < listed);
}

std::string ServerOf(const TmsPOPClient& client) {
    return client.Host() + ":" + std::to_string(client.Port());
}

bool IsTransferMode(int mode) {
    return mode == tmGet || mode == tmCopy;
}

// The server's number of the message a row was listed for: found by its unique id when both
// the row and the server have ids, else by number and size; 0 when it is gone or changed.
int FindRowMessage(const TMailRow& row, const std::vector<TmsMessageId>& ids,
                   const std::unordered_map<std::string, int>* byUidl) {
    if (byUidl && !row.Uidl.empty()) {
        const auto it = byUidl->find(row.Uidl);
        return it == byUidl->end() ? 0 : it->second;
    }
    if (row.Number < 1 || row.Number > int(ids.size())) return 0;
    return ids[std::size_t(row.Number - 1)].Size == row.Size ? row.Number : 0;
}

} // namespace

void TMailboxSession::Collect(bool keepConnected) {
    AllRetrieved = false;
    NewMailCount = 0;
    TransferNotes.clear();
    SavedFiles.clear();
    FUnflushedUidls.clear();
    FDeletions.clear();
    SkippedForSize = 0;
    DeletionsVoid = false;
    FCancelled = false;
    FHandOverWritten = false;
    if (FRows.empty()) return;
    // Post office files (no target), or where the account delivers to.
    FTarget = MakeDeliveryTarget(FAccount.Deliver, FAccount.Timeout);
    struct TCollecting {
        bool& flag;
        ~TCollecting() { flag = false; }
    } collecting{FCollecting = true};
    // What a killed run left half-written; files other runs are still writing are locked.
    RemoveStaleTempFiles(PostofficeDir());
    RemoveStaleTempFiles(ProgDir());
    // The list of an earlier run that Postkeeper has not taken over yet is kept whole.
    HandOver.Clear();
    if (!FTarget) ReadTransList(TransListPath(), HandOver);
    FEvents.Status("");
    int handled = 0;
    std::exception_ptr failure;
    try {
        if (!FClient->IsConnected()) LogIn();
        // This account's record: another account's messages may carry the same ids.
        FSavedIds = std::make_unique<TSavedIds>(
            TSavedIds::FileFor(PostofficeDir(), ServerOf(*FClient), FClient->UserName()),
            ServerOf(*FClient), FClient->UserName());
        FSavedIds->Load();
        if (FClient->MessageCount() > 0) {
            // What is on the server now; rows are matched to it by identity, not position. A
            // check that kept this connection open has asked for both already.
            if (!FClient->EnsureSizes()) throw EmsServerError(FClient->LastResponse);
            const bool hasUidl = FClient->EnsureUidls();
            const std::vector<TmsMessageId>& ids = FClient->MessageIds();
            TUidlIndex byUidl;
            if (hasUidl) {
                for (const TmsMessageId& id : ids)
                    if (!id.Uidl.empty()) byUidl.emplace(id.Uidl, id.Number);
                ForgetSavedIdsNotOn(byUidl);
            }
            // Every row's course is set before the first retrieval (the questions asked
            // first), so the retrievals can go out ahead of their answers.
            std::vector<TRowStep> steps;
            steps.reserve(FRows.size());
            std::vector<int> retrievals;
            for (int i = 0; i < int(FRows.size()); ++i) {
                steps.push_back(PlanRow(i, ids, hasUidl ? &byUidl : nullptr));
                if (steps.back().Retrieve) retrievals.push_back(steps.back().Number - 1);
            }
            FClient->PlanMessages(std::move(retrievals));
            for (int i = 0; i < int(FRows.size()); ++i) {
                CarryRow(i, steps[std::size_t(i)]);
                SetMode(i, -1);
                ++handled;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    FinishTransfer(keepConnected, failure);
    FEvents.StatusBar(Printf(kHandled, handled) + (DeletionsVoid ? kNoneDeleted : ""));
    FEvents.Status(Printf(kNewAtPostoffice, NewMailCount));
    if (failure) std::rethrow_exception(failure);
}

void TMailboxSession::ForgetSavedIdsNotOn(const std::unordered_map<std::string, int>& byUidl) {
    // A message no longer on the server has been deleted (by our QUIT or by someone else):
    // there is nothing left to save twice.
    std::vector<std::string> gone;
    for (const auto& [uidl, entry] : FSavedIds->Entries())
        if (!byUidl.count(uidl)) gone.push_back(uidl);
    for (const std::string& uidl : gone) FSavedIds->Remove(uidl);
    if (!gone.empty()) FSavedIds->Save();
}

TMailboxSession::TRowStep TMailboxSession::PlanRow(int index, const std::vector<TmsMessageId>& ids,
                                                   const TUidlIndex* byUidl) {
    const TMailRow& row = FRows[std::size_t(index)];
    TRowStep step;
    step.Number = FindRowMessage(row, ids, byUidl);
    if (step.Number == 0 || !IsTransferMode(row.Mode)) return step;
    if (row.Size > MailMaxSize && !FEvents.ConfirmSize(row)) {
        step.Declined = true;
        return step;
    }
    const TmsMessageId& id = ids[std::size_t(step.Number - 1)];
    const TSavedIds::TEntry* saved = id.Uidl.empty() ? nullptr : FSavedIds->Find(id.Uidl, id.Size);
    // Saved by an earlier transfer: listed once, never saved twice, but only while its file is
    // there as it was written (an unconfirmed one is brought to the disk first). A file that
    // went is saved again: a duplicate is cheaper than a loss. A message delivered elsewhere
    // belongs to the mail program that reads it there, which may move or remove it: its record
    // is trusted once the delivery was flushed, never before.
    step.SavedBefore =
        saved &&
        (FTarget ? saved->Confirmed : IsFileThere(saved->Path, saved->FileSize, !saved->Confirmed));
    step.Retrieve = !step.SavedBefore;
    return step;
}

void TMailboxSession::CarryRow(int index, const TRowStep& step) {
    const int mode = FRows[std::size_t(index)].Mode;
    if (step.Number == 0) {
        if (mode >= tmGet && mode <= tmDelete) {
            TransferNotes.push_back(Printf(kGone, index + 1));
            Log(TransferNotes.back());
        }
        return;
    }
    if (step.Declined) {
        SetMode(index, tmNeutral);
        ++SkippedForSize;
        TransferNotes.push_back(Printf(kTooLarge, index + 1));
        Log(TransferNotes.back());
        return;
    }
    FMsgSize = FRows[std::size_t(index)].Size;
    FClient->SetCurrentMessage(step.Number - 1);
    const TmsMessageId id = FClient->MessageIds()[std::size_t(step.Number - 1)];
    // True when the message stays on the server whatever it was marked.
    bool keep = false;
    if (step.SavedBefore) {
        const std::string path = FSavedIds->Find(id.Uidl, id.Size)->Path;
        if (!FTarget && HandOver.IndexOf(path) < 0) {
            HandOver.Add(path);
            WriteTransList(TransListPath(), HandOver);
        }
        if (mode == tmGet) FSavedIds->SetKind(id.Uidl, TSavedIds::skGet);
        FSavedIds->Confirm(id.Uidl);
        FSavedIds->Save();
        Log(ReplaceFirst(Printf(kSavedBefore, index + 1), "%s", FileNameOf(path)));
    } else if (step.Retrieve) {
        keep = FTarget ? DeliverMessage(index, id) : RetrieveMailFile(index, id);
    }
    if ((mode == tmGet && !keep) || mode == tmDelete) {
        // Deleted together at the end, once its file is on the disk: a DELE sent between two
        // retrievals would cost a round trip each, and more on servers that hold an answer
        // written right after another until the client acknowledges the first.
        FDeletions.push_back(step.Number - 1);
    }
}

void TMailboxSession::FinishTransfer(bool keepConnected, std::exception_ptr& failure) {
    // Deletions are committed only by a session that went through without a failure: after
    // a failed save, a lost connection or Cancel the server keeps every message, and the
    // record of saved messages lets the next transfer delete those already saved.
    try {
        FlushSavedFiles();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    try {
        if (failure) {
            if (FClient->IsConnected()) FClient->Disconnect();
        } else if (FClient->IsConnected() && !FDeletions.empty()) {
            // Every file is on the disk now: the messages saved may go.
            FClient->DeleteMessages(FDeletions);
            CrashPoint("deleted");
        }
        if (!failure && FClient->IsConnected() && !keepConnected) {
            CrashPoint("quit");
            FClient->Logout();
            // Committed: what was deleted is nothing to remember any more.
            if (FSavedIds && !FDeletions.empty()) {
                for (const int n : FDeletions)
                    FSavedIds->Remove(FClient->MessageIds()[std::size_t(n)].Uidl);
                FSavedIds->Save();
            }
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
        // A refused DELE: no later QUIT may commit the others.
        if (FClient->IsConnected()) FClient->Disconnect();
    }
    FRows.clear();
    FEvents.RowsCleared();
    // A failed session ends without QUIT, so its DELE commands are void: say so.
    DeletionsVoid = failure && !FDeletions.empty();
    if (DeletionsVoid) {
        TransferNotes.push_back(Printf(kNothingDeleted, int(FDeletions.size())));
        Log(TransferNotes.back());
    }
    try {
        if (!FTarget) WriteTransList(TransListPath(), HandOver);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    FLog->Add(kProtocolBegin);
    TStringList& protocol = FClient->ProtocolLog();
    for (int i = 0; i < protocol.Count(); ++i) FLog->Add(protocol[i]);
    FLog->Add(kProtocolEnd);
    FLog->Add(kTerminated);
    protocol.Clear();
    try {
        WriteProtocolFile();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
}

void TMailboxSession::FlushSavedFiles() {
    if (SavedFiles.empty() || !FSavedIds) return;
    if (FTarget) {
        try {
            FTarget->Flush();
        } catch (...) {
            // What did not reach the target is not reported as delivered.
            std::erase_if(SavedFiles, [](const std::string& where) {
                std::error_code error;
                return !std::filesystem::exists(where, error);
            });
            throw;
        }
    } else
        FlushFileSystem(PostofficeDir());
    for (const std::string& uidl : FUnflushedUidls) FSavedIds->Confirm(uidl);
    FUnflushedUidls.clear();
    FSavedIds->Save();
}

bool TMailboxSession::DeliverMessage(int index, const TmsMessageId& id) {
    const auto kind =
        FRows[std::size_t(index)].Mode == tmGet ? TSavedIds::skGet : TSavedIds::skCopy;
    // An unfinished delivery takes itself back: nothing half is left in the target.
    const std::unique_ptr<TDeliverySink> sink = FTarget->Begin();
    int64_t written = 0;
    const int64_t received = FClient->RetrieveMessageTo([&](std::string_view piece) {
        written += int64_t(piece.size());
        sink->Write(piece);
    });
    std::string where;
    try {
        where = sink->Finish();
    } catch (const Exception& e) {
        // Refused or deferred by the target: the server keeps the message for the next collect.
        if (!dynamic_cast<const EDeliveryDeferred*>(&e) &&
            !dynamic_cast<const EDeliveryFailed*>(&e))
            throw;
        TransferNotes.push_back(ReplaceFirst(Printf(kNotDelivered, index + 1), "%s", e.Message));
        Log(TransferNotes.back());
        return true;
    }
    ++NewMailCount;
    // Delivered whole: recorded, so a Copy does not deliver it twice once the session's flush
    // brought it to the disk. An answer too
    // short to be the message is delivered too (nothing is lost) but neither recorded nor
    // deleted.
    const bool keep = IsShortAnswer(received, id.Size);
    if (!keep && !id.Uidl.empty()) {
        FSavedIds->Set(id.Uidl, {kind, id.Size, written, where, false});
        FSavedIds->Append(id.Uidl, false);
        FUnflushedUidls.push_back(id.Uidl);
    }
    // A kill here, recorded but not flushed, delivers the message again at the next collect.
    CrashPoint("delivered");
    SavedFiles.push_back(where);
    const std::string line = ReplaceFirst(Printf(kDeliveredTo, index + 1), "%s", where);
    FEvents.StatusBar(line);
    FEvents.Memo(line);
    if (keep) {
        TransferNotes.push_back(
            FillPlaces(kShortAnswer, {std::to_string(index + 1), std::to_string(received),
                                      std::to_string(std::max<int64_t>(id.Size, 0)), where}));
        Log(TransferNotes.back());
    }
    return keep;
}

bool TMailboxSession::RetrieveMailFile(int index, const TmsMessageId& id) {
    const auto kind =
        FRows[std::size_t(index)].Mode == tmGet ? TSavedIds::skGet : TSavedIds::skCopy;
    // Names rise with every save, so two saves in one second never meet.
    const QDateTime now = ClockNow();
    const QDateTime first = FNextNameTime.isValid() && FNextNameTime > now ? FNextNameTime : now;
    int step = 0;
    int64_t received = 0;
    int64_t written = 0;
    // An answer that cannot be the whole message is saved, but not recorded: it must not
    // spare a later retrieval.
    bool keep = false;
    const std::string path = CreateFileDurably(
        PostofficeDir(),
        [&](int tried) {
            step = tried;
            return MailFileName(first.addSecs(2 * qint64(tried)));
        },
        // The message goes to its file as it arrives: memory does not grow with it.
        [&](const TFileWrite& write) {
            received = FClient->RetrieveMessageTo([&](std::string_view piece) {
                written += int64_t(piece.size());
                write(piece);
            });
            keep = IsShortAnswer(received, id.Size);
        },
        kNameTries,
        [&](const std::string& target) {
            if (keep || id.Uidl.empty()) return;
            FSavedIds->Set(id.Uidl, {kind, id.Size, written, target, false});
            FSavedIds->Append(id.Uidl, false);
        },
        false);
    FNextNameTime = first.addSecs(2 * qint64(step + 1));
    ++NewMailCount;
    // The file, its record and the list reach the disk with the session's one flush, before
    // any DELE (FinishTransfer).
    if (!keep && !id.Uidl.empty()) FUnflushedUidls.push_back(id.Uidl);
    HandOver.Add(path);
    SavedFiles.push_back(path);
    // The list is written whole once per transfer, then grows a line per file: a rewrite per
    // file would cost the whole list each time. It reaches the disk with the session's flush.
    if (std::exchange(FHandOverWritten, true))
        AppendToFile(TransListPath(), path + "\r\n", false);
    else
        WriteTransList(TransListPath(), HandOver, false);
    const std::string line = ReplaceFirst(Printf(kSavedAs, index + 1), "%s", FileNameOf(path));
    FEvents.StatusBar(line);
    FEvents.Memo(line);
    if (keep) {
        TransferNotes.push_back(FillPlaces(
            kShortAnswer, {std::to_string(index + 1), std::to_string(received),
                           std::to_string(std::max<int64_t>(id.Size, 0)), FileNameOf(path)}));
        Log(TransferNotes.back());
    }
    return keep;
}
