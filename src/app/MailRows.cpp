#include "app/MailRows.h"

#include "app/Icons.h"

#include <QTimer>

#include <algorithm>

namespace {
const char* const kColumnNames[] = {"Subject", "Sender", "Priority", "Size", "Date"};
// Rows that arrive within this many milliseconds go on show together: a long list is laid
// out and painted a few times a second, not once per row.
constexpr int kBatchMs = 50;
} // namespace

TMailRowModel::TMailRowModel(std::vector<TMailRow>& rows, QObject* parent)
    : QAbstractTableModel(parent), FRows(rows), FFlushTimer(new QTimer(this)) {
    FFlushTimer->setSingleShot(true);
    FFlushTimer->setInterval(kBatchMs);
    connect(FFlushTimer, &QTimer::timeout, this, &TMailRowModel::Flush);
    for (int i = 0; i < int(FModeIcons.size()); ++i) FModeIcons[std::size_t(i)] = ModeIcon(i);
}

void TMailRowModel::Append(TMailRow row) {
    FRows.push_back(std::move(row));
    RowsAppended();
}

void TMailRowModel::RowsAppended() {
    if (!FFlushTimer->isActive()) FFlushTimer->start();
}

void TMailRowModel::Flush() {
    FFlushTimer->stop();
    const int count = Count();
    if (FShown == count) return;
    beginInsertRows({}, FShown, count - 1);
    FShown = count;
    endInsertRows();
}

void TMailRowModel::SetMode(int index, int mode) {
    FRows.at(std::size_t(index)).Mode = mode;
    RowChanged(index);
}

void TMailRowModel::RowChanged(int index) {
    if (index < FShown) emit dataChanged(this->index(index, 0), this->index(index, 0));
}

void TMailRowModel::Clear() {
    FRows.clear();
    Reset();
}

void TMailRowModel::Reset() {
    FFlushTimer->stop();
    beginResetModel();
    FShown = 0;
    endResetModel();
}

QString TMailRowModel::Text(int index, int column) const {
    return QString::fromStdString(RowText(Row(index), column));
}

int TMailRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FShown;
}

int TMailRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : colCount;
}

QVariant TMailRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= FShown) return {};
    const TMailRow& row = Row(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return Text(index.row(), index.column());
    case Qt::DecorationRole:
        // The state image; a handled row (-1) has none, an unknown mode shows as Neutral.
        if (index.column() != colSubject || row.Mode < 0) return {};
        return FModeIcons[std::size_t(std::min(row.Mode, int(FModeIcons.size()) - 1))];
    case Qt::TextAlignmentRole:
        if (index.column() == colPriority) return int(Qt::AlignCenter);
        if (index.column() == colSize) return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case ModeRole:
        return row.Mode;
    default:
        return {};
    }
}

QVariant TMailRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= colCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kColumnNames[section]);
    if (role == Qt::TextAlignmentRole) {
        if (section == colPriority) return int(Qt::AlignCenter);
        if (section == colSize) return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}
