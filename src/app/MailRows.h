// The rows of the message list: one record per message the last check found, with the
// message's identity on the server (its number at check time, its size and, when the server
// offers it, its unique id), the columns shown and the transfer mode. The check fills the
// records and the transfer works on them; the list view only shows them.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QIcon>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QTimer;

struct TMailRow {
    // Identity: the 1-based number on the server when the row was listed, the size LIST
    // gave (-1 when none) and the UIDL ("" when the server does not answer UIDL).
    int Number = 0;
    int64_t Size = -1;
    std::string Uidl;
    // The columns as shown.
    QString Subject;
    QString Sender;
    int Priority = 1;
    QString Date;
    // The header lines of the message, one per line ending in LF.
    std::string Headers;
    // The transfer mode (tmGet..tmNeutral), shown as the state image; -1 once handled.
    int Mode = 3;
};

class TMailRowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { colSubject, colSender, colPriority, colSize, colDate, colCount };
    // The transfer mode of a row, as the state image index.
    static constexpr int ModeRole = Qt::UserRole;

    explicit TMailRowModel(QObject* parent = nullptr);

    // Every record, also those the view has not taken yet.
    int Count() const { return int(FRows.size()); }
    const TMailRow& Row(int index) const { return FRows.at(std::size_t(index)); }
    // The records appended since the view last took rows are shown together, at most 50 ms
    // after the first of them (or at Flush), so a long list is not laid out once per row.
    void Append(TMailRow row);
    void Flush();
    void SetMode(int index, int mode);
    void Clear();
    // The text of a cell as the view shows it.
    QString Text(int index, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TMailRow> FRows;
    int FShown = 0;
    QTimer* FFlushTimer;
    std::array<QIcon, 4> FModeIcons;
};

// "%8.0n": no decimals, the locale's thousands separators, right-aligned in 8 positions.
QString SizeText(int64_t size);
