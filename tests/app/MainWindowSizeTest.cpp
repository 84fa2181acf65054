// The main window at any size: what grows, what is kept for the next start, what stays readable.
#include "MainWindowFixture.h"
#include "app/MainUnit.h"
#include "mailbox/Settings.h"

#include <QAbstractItemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QTreeView>

namespace {
std::vector<int> ColumnWidths(const TFormMain& w) {
    std::vector<int> widths;
    for (int i = 0; i < TMailRowModel::colCount; ++i)
        widths.push_back(w.ListViewRemoPOP->columnWidth(i));
    return widths;
}

// The memo's lines that show at all, each of which must show whole; returns how many.
int WholeLinesShown(QPlainTextEdit* memo) {
    const QRect view = memo->viewport()->rect();
    int shown = 0;
    for (QTextBlock b = memo->document()->firstBlock(); b.isValid(); b = b.next()) {
        const QRect line = memo->cursorRect(QTextCursor(b));
        if (!line.intersects(view)) continue;
        EXPECT_TRUE(view.contains(line))
            << "line " << b.blockNumber() << " is cut at the height " << memo->height();
        ++shown;
    }
    return shown;
}

void Settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
} // namespace

TEST_F(MainWindowFixture, ResizedWindowComesBackWithItsPlaceAndColumns) {
    const QRect place(40, 50, 700, 520);
    std::vector<int> widths;
    {
        TFormMain w;
        w.show();
        Settle();
        EXPECT_EQ(w.minimumSize(), QSize(619, 379));
        const int listWidth = w.ListViewRemoPOP->width();
        const int listHeight = w.ListViewRemoPOP->height();
        const int memoHeight = w.MsgMemo->height();
        w.setGeometry(place);
        Settle();
        // The list and the memo take the room the window gained; the buttons stay.
        EXPECT_EQ(w.ListViewRemoPOP->width(), listWidth + 81);
        EXPECT_EQ(w.MsgMemo->width(), w.ListViewRemoPOP->width());
        EXPECT_EQ(w.HeaderControl->length(), 700);
        EXPECT_GT(w.ListViewRemoPOP->height(), listHeight + 70);
        EXPECT_GT(w.MsgMemo->height(), memoHeight);
        EXPECT_EQ(w.MsgMemo->geometry().bottom() + 1, 334 + place.height() - 379);
        EXPECT_EQ(w.BtnSetting->geometry(), QRect(4, 278, 70, 26));
        for (int i = 0; i < TMailRowModel::colCount; ++i)
            w.ListViewRemoPOP->setColumnWidth(i, 60 + 10 * i);
        widths = ColumnWidths(w);
    }
    {
        TFormMain again;
        again.show();
        Settle();
        EXPECT_EQ(again.geometry(), place);
        EXPECT_EQ(ColumnWidths(again), widths);
    }
    // A place on no screen of this session is not used: the window comes up in the middle of
    // the primary screen, at the size it had.
    Registry(kPostvigilKey, "WindowLeft", "-5000");
    Registry(kPostvigilKey, "WindowTop", "-4000");
    TFormMain moved;
    moved.show();
    Settle();
    EXPECT_EQ(moved.size(), place.size());
    EXPECT_EQ(moved.geometry().center(),
              QGuiApplication::primaryScreen()->availableGeometry().center());
}

TEST_F(MainWindowFixture, AtTheSmallestSizeEveryHeaderIsReadable) {
    TFormMain w;
    w.show();
    Settle();
    ASSERT_EQ(w.size(), QSize(619, 379));
    for (QHeaderView* header : {w.HeaderControl, w.ListViewRemoPOP->header()}) {
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const QFontMetrics metrics(header->font());
        for (int i = 0; i < header->count(); ++i) {
            const QString text = header->model()->headerData(i, Qt::Horizontal).toString();
            EXPECT_LE(metrics.horizontalAdvance(text) + 2 * margin, header->sectionSize(i))
                << text.toStdString();
        }
    }
}

TEST_F(MainWindowFixture, ProtocolMemoShowsWholeLines) {
    TFormMain w;
    w.show();
    QStringList lines;
    for (int i = 0; i < 60; ++i) lines << QString("Protocol line %1").arg(i);
    w.MsgMemo->setPlainText(lines.join('\n'));
    std::vector<int> shown;
    for (const QSize size : {QSize(619, 379), QSize(640, 430), QSize(900, 700), QSize(1000, 777)}) {
        w.resize(size);
        Settle();
        shown.push_back(WholeLinesShown(w.MsgMemo));
    }
    EXPECT_GE(shown.front(), 1);
    EXPECT_GT(shown.back(), shown.front());
}
