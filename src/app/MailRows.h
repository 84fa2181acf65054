// The message list's model: a view of the rows a mailbox session owns, with the state images.
#pragma once

#include "mailbox/MailRecords.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <array>
#include <vector>

class QTimer;

class TMailRowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int colCount = ::colCount;
    // The transfer mode of a row, as the state image index.
    static constexpr int ModeRole = Qt::UserRole;

    // rows belongs to the session and outlives the model.
    explicit TMailRowModel(std::vector<TMailRow>& rows, QObject* parent = nullptr);

    // Every record, also those the view has not taken yet.
    int Count() const { return int(FRows.size()); }
    const TMailRow& Row(int index) const { return FRows.at(std::size_t(index)); }
    // Records appended since the view last took rows are shown together, at most 50 ms after
    // the first of them (or at Flush), so a long list is not laid out once per row.
    void Append(TMailRow row);
    void RowsAppended();
    void Flush();
    void SetMode(int index, int mode);
    void RowChanged(int index);
    void Clear();
    // The records were cleared by their owner.
    void Reset();
    // The text of a cell as the view shows it.
    QString Text(int index, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TMailRow>& FRows;
    int FShown = 0;
    QTimer* FFlushTimer;
    std::array<QIcon, 4> FModeIcons;
};
