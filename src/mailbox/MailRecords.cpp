#include "mailbox/MailRecords.h"

#include <QLocale>

#include <algorithm>

std::string SizeText(int64_t size) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(qlonglong(size)).rightJustified(8, ' ').toStdString();
}

std::string RowText(const TMailRow& row, int column) {
    switch (column) {
    case colSubject:
        return row.Subject;
    case colSender:
        return row.Sender;
    case colPriority:
        return std::string(std::size_t(std::max(row.Priority + 1, 0)), '!');
    case colSize:
        return SizeText(row.Size);
    case colDate:
        return row.Date;
    default:
        return {};
    }
}
