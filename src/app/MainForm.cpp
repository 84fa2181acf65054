// The main window's controls, menus and tray icon.
#include "app/HelpViewer.h"
#include "app/HintTiming.h"
#include "app/Hints.h"
#include "app/Icons.h"
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "app/TrayMenu.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "dialup/RasBinding.h"
#include "mailbox/AccountWatch.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "output/BTOdeum.h"
#include "platform/Registry.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <type_traits>

namespace {
// The window's smallest size; the controls below are placed for it.
constexpr int kWidth = 619;
constexpr int kHeight = 379;
// The bottom edge of the protocol memo at the smallest size.
constexpr int kMemoBottom = 334;
// The part of the height the window gains that goes to the memo; the list takes the rest.
constexpr int kMemoShare = 4;
// Where the window was and the list's column widths, kept under the program's key.
const char* const kWindowLeft = "WindowLeft";
const char* const kWindowTop = "WindowTop";
const char* const kWindowWidth = "WindowWidth";
const char* const kWindowHeight = "WindowHeight";
const char* const kWindowMaximized = "WindowMaximized";
const char* const kListColumns = "ListColumns";
const char* const kCheckModeHint = "Change mode temporary";
const char* const kUpdateHint = "Homepage for update checkup";

QPushButton* Button(QWidget* parent, const char* caption, QRect geometry, const char* hint = "") {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setGeometry(geometry);
    if (*hint) Hinted(b, hint);
    return b;
}
} // namespace

TFormMain::TFormMain(QWidget* parent)
    : QMainWindow(parent), Session(std::make_unique<TMailboxSession>(*this, ClientRec)),
      POPClient(&Session->Client()), Watch(std::make_unique<TAccountWatch>()),
      Background(std::make_unique<TBackgroundChecks>(*Watch)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());
    InstallHintTiming();
    QFont font("Arial", 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    BuildControls();
    BuildMenus();
    BuildTray();
    setMinimumSize(kWidth, kHeight);
    const bool maximized = RestorePlace();
    FormCreate();
    if (maximized && !isMinimized()) setWindowState(windowState() | Qt::WindowMaximized);
}

TFormMain::~TFormMain() {
    SetRasPhoneBookListener(nullptr);
    // A window that never showed (the headless modes) has no place of its own to keep.
    if (!FFirstShow) SavePlace();
    FormDestroy();
}

void TFormMain::BuildControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    auto* sections = new QStandardItemModel(0, 3, client);
    sections->setHorizontalHeaderLabels({"RAS entry name", "Device", "Device name"});
    HeaderControl = new QHeaderView(Qt::Horizontal, client);
    HeaderControl->setModel(sections);
    HeaderControl->resizeSection(0, 185);
    HeaderControl->resizeSection(1, 100);
    HeaderControl->resizeSection(2, 335);
    HeaderControl->setSectionsClickable(false);
    HeaderControl->setStretchLastSection(true);

    BtnListMail = new QToolButton(client);
    BtnListMail->setText("&Query eMail account");
    BtnListMail->setGeometry(4, 24, 140, 30);
    BtnListMail->setPopupMode(QToolButton::MenuButtonPopup);
    Hinted(BtnListMail, "Inquire for waiting eMail at the eMail server");
    BtnStopp = Button(client, "Cancel", QRect(4, 24, 140, 30));
    BtnStopp->hide();
    BtnGetMailList = Button(client, "&Collect eMail", QRect(148, 24, 96, 30),
                            "Get waiting eMail from the POP3 server");
    BtnGetMailList->setEnabled(false);
    BtnPostkeeper = Button(client, "&Postkeeper", QRect(248, 24, 84, 30),
                           "Download waiting eMail and open Tessmar Postkeeper");
    BtnOpenMail =
        Button(client, "&Open", QRect(336, 24, 58, 30), "Load eMail and open it at eMail program");
    BtnOpenMail->setProperty("tag", 11);
    BtnPrintMail =
        Button(client, "&Print", QRect(398, 24, 58, 30), "Load eMail and print it unformatted");
    BtnPrintMail->setProperty("tag", 22);
    BtnHelp = Button(client, "&Help", QRect(460, 24, 50, 30), "Help menu");
    BtnMinimize = Button(client, "&Symbol", QRect(514, 24, 52, 30), "Minimize Postvigil as symbol");
    BtnExit = Button(client, "&End", QRect(570, 24, 45, 30), "End of program");

    MsgLabel = Hinted(new QLabel(client), "Open session protocol by double clicking");
    MsgLabel->setFrameShape(QFrame::StyledPanel);

    BtnDialHang = Button(client, "OFFLINE", QRect(4, 80, 84, 22),
                         "Go online / offline by clicking (\"Autoconnect\" must be set)");
    BtnDialHang->setStyleSheet("QPushButton { color: #008080; font-weight: bold; }");
    LabelStatus = new QLabel("Status", client);
    LabelStatus->setAutoFillBackground(true);
    LabelStatus->setStyleSheet(
        "QLabel { color: #000080; font-weight: bold; background: #ffffe1; padding-left: 3px; }");
    ProgressBar = Hinted(new QProgressBar(client), "Remaining time until next check");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);

    auto* mode = new QLabel("Mode", client);
    mode->setGeometry(4, 106, 70, 18);
    mode->setAlignment(Qt::AlignCenter);
    mode->setFrameShape(QFrame::StyledPanel);
    BtnGetDel = Button(client, "&Get", QRect(4, 126, 70, 26),
                       "Tag for collecting from server and deleting at server");
    BtnCopyMail = Button(client, "&Copy", QRect(4, 154, 70, 26),
                         "Tag for collecting from server and leaving at server (copy)");
    BtnDelMail = Button(client, "&Delete", QRect(4, 182, 70, 26),
                        "Tag for NOT downloading but deleting at server");
    BtnReset =
        Button(client, "&Neutral", QRect(4, 210, 70, 26), "Tag for neutral, \"do nothing\" ");
    BtnGetDel->setIcon(ModeIcon(0));
    BtnCopyMail->setIcon(ModeIcon(1));
    BtnDelMail->setIcon(ModeIcon(2));
    BtnReset->setIcon(ModeIcon(3));
    for (QPushButton* b : {BtnGetDel, BtnCopyMail, BtnDelMail, BtnReset}) b->setEnabled(false);
    BtnPotocol = Button(client, "Protocol", QRect(4, 250, 70, 26), "Show the session protocol");
    BtnSetting = Button(client, "&Setting", QRect(4, 278, 70, 26), "Start setting dialog");

    MailRows = new TMailRowModel(Session->Rows(), this);
    ListViewRemoPOP = Hinted(new QTreeView(client), "Show header by double clicking");
    ListViewRemoPOP->setModel(MailRows);
    ListViewRemoPOP->setRootIsDecorated(false);
    ListViewRemoPOP->setItemsExpandable(false);
    ListViewRemoPOP->setUniformRowHeights(true);
    ListViewRemoPOP->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListViewRemoPOP->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewRemoPOP->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewRemoPOP->setStyleSheet(
        "QTreeView::item { border: 1px solid #d8d8d8; }"
        "QTreeView::item:selected { background: palette(highlight); color: "
        "palette(highlighted-text); }");
    const int widths[] = {185, 155, 25, 65, 120};
    for (int i = 0; i < TMailRowModel::colCount; ++i) ListViewRemoPOP->setColumnWidth(i, widths[i]);
    FitHeaderTexts(HeaderControl, 2);
    FitHeaderTexts(ListViewRemoPOP->header(), 0);

    MsgMemo = new QPlainTextEdit("No protocol written yet", client);
    MsgMemo->setReadOnly(true);
    MsgMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MsgMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MsgMemo->setLineWrapMode(QPlainTextEdit::NoWrap);

    ArrangeControls(QSize(kWidth, kHeight));
}

void TFormMain::FitHeaderTexts(QHeaderView* header, int donor) {
    header->ensurePolished();
    for (int i = 0; i < header->count(); ++i) {
        const int lack = header->sectionSizeHint(i) - header->sectionSize(i);
        if (lack <= 0 || i == donor) continue;
        header->resizeSection(i, header->sectionSize(i) + lack);
        // The donor gives what it can spare, so that the columns keep their total width.
        const int spare = header->sectionSize(donor) - header->sectionSizeHint(donor);
        header->resizeSection(donor, header->sectionSize(donor) - std::clamp(lack, 0, spare));
    }
}

void TFormMain::ArrangeControls(QSize size) {
    const int dx = std::max(0, size.width() - kWidth);
    const int dy = std::max(0, size.height() - kHeight);
    HeaderControl->setGeometry(0, 0, kWidth + dx, 20);
    MsgLabel->setGeometry(4, 58, 611 + dx, 18);
    LabelStatus->setGeometry(92, 80, 376 + dx, 22);
    ProgressBar->setGeometry(472 + dx, 80, 143, 22);
    // The memo shows whole lines: its text starts below the document margin and the view
    // ends where a line ends.
    const int line = MsgMemo->fontMetrics().lineSpacing();
    const int lines = 1 + dy / kMemoShare / line;
    const int memoHeight =
        2 * MsgMemo->frameWidth() + int(MsgMemo->document()->documentMargin()) + lines * line;
    const int memoTop = kMemoBottom + dy - memoHeight;
    MsgMemo->setGeometry(78, memoTop, 537 + dx, memoHeight);
    ListViewRemoPOP->setGeometry(78, 106, 537 + dx, memoTop - 4 - 106);
}

void TFormMain::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    ArrangeControls(e->size());
}

bool TFormMain::RestorePlace() {
    TRegistry reg;
    reg.OpenKey(kPostvigilKey, false);
    const QStringList columns = QString::fromStdString(reg.ReadString(kListColumns)).split(',');
    if (columns.size() == TMailRowModel::colCount) {
        std::vector<int> widths;
        for (const QString& c : columns)
            if (const int w = c.toInt(); w > 0) widths.push_back(w);
        if (int(widths.size()) == TMailRowModel::colCount)
            for (int i = 0; i < TMailRowModel::colCount; ++i)
                ListViewRemoPOP->setColumnWidth(i, widths[std::size_t(i)]);
    }
    QRect place(reg.ReadInteger(kWindowLeft, 0), reg.ReadInteger(kWindowTop, 0),
                std::max(kWidth, reg.ReadInteger(kWindowWidth, kWidth)),
                std::max(kHeight, reg.ReadInteger(kWindowHeight, kHeight)));
    // Back on the screen it was on, whole; a place on no screen of this session is not used.
    QScreen* screen = reg.ValueExists(kWindowLeft) && reg.ValueExists(kWindowTop)
                          ? QGuiApplication::screenAt(place.center())
                          : nullptr;
    const bool placed = screen != nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        place.setWidth(std::max(kWidth, std::min(place.width(), area.width())));
        place.setHeight(std::max(kHeight, std::min(place.height(), area.height())));
        if (placed) {
            place.moveLeft(std::clamp(place.left(), area.left(), area.right() + 1 - place.width()));
            place.moveTop(std::clamp(place.top(), area.top(), area.bottom() + 1 - place.height()));
        } else {
            place.moveCenter(area.center());
        }
    }
    setGeometry(place);
    return reg.ReadBool(kWindowMaximized, false);
}

void TFormMain::SavePlace() {
    TRegistry reg;
    if (!reg.OpenKey(kPostvigilKey, true)) return;
    const QRect place = isMaximized() ? normalGeometry() : geometry();
    reg.WriteInteger(kWindowLeft, place.left());
    reg.WriteInteger(kWindowTop, place.top());
    reg.WriteInteger(kWindowWidth, place.width());
    reg.WriteInteger(kWindowHeight, place.height());
    reg.WriteBool(kWindowMaximized, isMaximized());
    QStringList columns;
    for (int i = 0; i < TMailRowModel::colCount; ++i)
        columns << QString::number(ListViewRemoPOP->columnWidth(i));
    reg.WriteString(kListColumns, columns.join(',').toStdString());
}

void TFormMain::BuildMenus() {
    PMRASCon = new QMenu(this);
    for (int i = 0; i < 10; ++i) {
        QAction* item = PMRASCon->addAction(" ");
        item->setData(i);
        item->setVisible(false);
        AccountItems[std::size_t(i)] = item;
    }
    PMRASCon->addSeparator();
    MINewAccount = PMRASCon->addAction(QString::fromUtf8("&New account…"));
    MIEditAccount = PMRASCon->addAction(QString::fromUtf8("&Edit this account…"));
    MIRemoveAccount = PMRASCon->addAction(QString::fromUtf8("&Remove this account…"));
    MIStartAccount = PMRASCon->addAction("Make this the &start-up account");

    HelpMenu = new QMenu(this);
    connect(HelpMenu->addAction("&Help for program"), &QAction::triggered, this,
            [this] { THelpViewer::ShowHelp(this, "index.html#contents"); });
    HelpMenu->addAction("&Info about program");
    MIUpdate = Hinted(HelpMenu->addAction("Program &update"), kUpdateHint);
    HelpCheckModeMenu = HelpMenu->addMenu("Check &Mode");
    Hinted(HelpCheckModeMenu->menuAction(), kCheckModeHint);
    HelpCheckModeMenu->addAction("&Reakt individual")->setData(4);
    HelpCheckModeMenu->addAction("Open &Postvigil")->setData(5);
    HelpCheckModeMenu->addAction("&Open Postkeeper")->setData(6);
    for (QAction* a : HelpCheckModeMenu->actions()) a->setCheckable(true);
    connect(BtnHelp, &QPushButton::clicked, this,
            [this] { HelpMenu->popup(BtnHelp->mapToGlobal(QPoint(0, BtnHelp->height()))); });
}

void TFormMain::BuildTray() {
    TrayMenu = new TTrayMenu(this);
    auto add = [this](QMenu* menu, int tag, const char* caption) {
        QAction* a = menu->addAction(TrayMenuImage(tag - 1), caption);
        a->setData(tag);
        TrayItems[std::size_t(tag)] = a;
        return a;
    };
    add(TrayMenu, 1, "&Tessmar Postvigil");
    TrayMenu->addSeparator();
    add(TrayMenu, 2, "&Check for waiting eMail");
    QMenu* checkMode = new QMenu("&Check mode", TrayMenu);
    TrayItems[3] = TrayMenu->addMenu(checkMode);
    TrayItems[3]->setIcon(TrayMenuImage(2));
    TrayItems[3]->setData(3);
    Hinted(TrayItems[3], kCheckModeHint);
    add(checkMode, 4, "&Reakt individual")->setCheckable(true);
    add(checkMode, 5, "Open &Postvigil")->setCheckable(true);
    add(checkMode, 6, "&Open Postkeeper")->setCheckable(true);
    TrayMenu->addSeparator();
    add(TrayMenu, 7, "Tessmar &Brightkit");
    add(TrayMenu, 8, "&Info about program");
    TrayMenu->addSeparator();
    add(TrayMenu, 9, "&End");

    TrayIcon = new QSystemTrayIcon(AppIcon(), this);
    TrayIcon->setToolTip("Postvigil");
    TrayIcon->setContextMenu(TrayMenu);
}

void TFormMain::SetStatusText(const QString& text) {
    statusBar()->showMessage(text);
}

QString TFormMain::StatusText() const {
    return statusBar()->currentMessage();
}
