// The rows of a mailbox listing: one record per message a check found, with the message's
// identity on the server (its number at check time, its size and, when the server offers it,
// its unique id), the columns a person reads and the transfer mode. The check fills the
// records, the transfer works on them, and the window and the command line only show them.
#pragma once

#include <cstdint>
#include <string>

struct TMailRow {
    // Identity: the 1-based number on the server when the row was listed, the size LIST
    // gave (-1 when none) and the UIDL ("" when the server does not answer UIDL).
    int Number = 0;
    int64_t Size = -1;
    std::string Uidl;
    // The columns as shown, in UTF-8.
    std::string Subject;
    std::string Sender;
    int Priority = 1;
    std::string Date;
    // The header lines of the message, one per line ending in LF.
    std::string Headers;
    // The transfer mode (tmGet..tmNeutral), shown as the state image; -1 once handled.
    int Mode = 3;
};

// The columns of a listing, left to right.
enum TMailColumn { colSubject, colSender, colPriority, colSize, colDate, colCount };

// The text of a row's column as a person reads it, in UTF-8.
std::string RowText(const TMailRow& row, int column);
// "%8.0n": no decimals, the locale's thousands separators, right-aligned in 8 positions.
std::string SizeText(int64_t size);
