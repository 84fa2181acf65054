#include "platform/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace {
bool StartDetached(const QString& program, const QStringList& arguments, const QString& dir) {
    return QProcess::startDetached(program, arguments, dir);
}

// "scheme:" with at least two characters, so "C:\x" is no address.
bool HasScheme(const QString& target, QString& scheme) {
    static const QRegularExpression re("^([A-Za-z][A-Za-z0-9+.-]+):");
    const auto m = re.match(target);
    if (!m.hasMatch()) return false;
    scheme = m.captured(1).toLower();
    return true;
}

// The code of a path that cannot be used: 3 when its folder is missing, else 2.
int MissingPathCode(const QFileInfo& info) {
    return info.absoluteDir().exists() ? SE_ERR_FNF : SE_ERR_PNF;
}

TShell* gShell = nullptr;
} // namespace

TDesktopShell::TDesktopShell() : FStarter(StartDetached) {}

TDesktopShell::TDesktopShell(TXdgDirs dirs, TProcessStarter starter)
    : FDirs(std::move(dirs)), FDirsFromEnvironment(false), FStarter(std::move(starter)) {}

int TDesktopShell::Open(const std::string& target, int) {
    QString text = QFile::decodeName(QByteArray::fromStdString(target)).trimmed();
    if (text.isEmpty()) return SE_ERR_FNF;
    QString scheme;
    QString path;
    if (HasScheme(text, scheme)) {
        if (scheme != "file") return OpenWith("x-scheme-handler/" + scheme, text, false);
        path = QUrl(text).toLocalFile();
    } else if (text.startsWith("www.", Qt::CaseInsensitive) && !QFileInfo::exists(text)) {
        return OpenWith("x-scheme-handler/http", "http://" + text, false);
    } else {
        path = text;
    }
    // Always absolute, so a file name can never be taken for an option of the application.
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    if (!info.exists()) return MissingPathCode(info);
    if (!info.isReadable()) return SE_ERR_ACCESSDENIED;
    const QString mimeType = info.isDir() ? QStringLiteral("inode/directory")
                                          : QMimeDatabase().mimeTypeForFile(info).name();
    return OpenWith(mimeType, info.absoluteFilePath(), true);
}

int TDesktopShell::OpenWith(const QString& mimeType, const QString& target, bool isLocalFile) {
    if (FDirsFromEnvironment) FDirs = TXdgDirs::FromEnvironment();
    TDesktopEntry app;
    if (!FindDefaultApplication(FDirs, mimeType, app)) return SE_ERR_NOASSOC;
    QStringList command;
    if (!ExpandExec(app, target, isLocalFile, command)) return SE_ERR_ASSOCINCOMPLETE;
    const QString program = command.takeFirst();
    return FStarter(program, command, QString()) ? kShellSuccess : SE_ERR_ASSOCINCOMPLETE;
}

int TDesktopShell::StartProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& workingDir) {
    QString path = QFile::decodeName(QByteArray::fromStdString(program));
    if (path.isEmpty()) return SE_ERR_FNF;
    if (path.contains('/')) {
        const QFileInfo info(QDir::current().absoluteFilePath(path));
        if (!info.exists()) return MissingPathCode(info);
        if (info.isDir() || !info.isExecutable()) return SE_ERR_ACCESSDENIED;
        path = info.absoluteFilePath();
    } else {
        path = QStandardPaths::findExecutable(path);
        if (path.isEmpty()) return SE_ERR_FNF;
    }
    const QString dir = QFile::decodeName(QByteArray::fromStdString(workingDir));
    if (!dir.isEmpty() && !QFileInfo(dir).isDir()) return SE_ERR_PNF;
    QStringList args;
    for (const std::string& a : arguments) args << QFile::decodeName(QByteArray::fromStdString(a));
    return FStarter(path, args, dir) ? kShellSuccess : ERROR_BAD_FORMAT;
}

TShell& Shell() {
    static TDesktopShell desktop;
    return gShell ? *gShell : desktop;
}

void SetShell(TShell* shell) {
    gShell = shell;
}
