#include "platform/DesktopApps.h"
#include "base/StrUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <map>

namespace {
using TGroups = QHash<QString, QHash<QString, QString>>;

// Reads the groups of an ini-style file ("[Group]" lines, "Key=Value" lines, "#" comments).
// The first occurrence of a key wins.
TGroups ReadGroups(const QString& path) {
    TGroups groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return groups;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0 || group.isEmpty()) continue;
        auto& keys = groups[group];
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key)) keys.insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

// The escapes of a desktop entry string value: \s \n \t \r \\ (and "\;" kept for lists).
QString Unescape(const QString& value, bool keepSemicolons) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value[++i];
        if (n == 's')
            out += ' ';
        else if (n == 'n')
            out += '\n';
        else if (n == 't')
            out += '\t';
        else if (n == 'r')
            out += '\r';
        else if (n == ';' && keepSemicolons)
            out += "\\;";
        else
            out += n;
    }
    return out;
}

// A ";"-separated list value; "\;" is a semicolon inside an item.
QStringList SplitList(const QString& value) {
    QStringList items;
    QString item;
    const QString text = Unescape(value, true);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (text[i] == ';') {
            if (!item.isEmpty()) items << item;
            item.clear();
        } else {
            item += text[i];
        }
    }
    if (!item.isEmpty()) items << item;
    return items;
}

bool IsTrue(const QString& value) {
    return value == "true" || value == "1";
}

// Splits an Exec value into arguments (see SplitCommandLine). False for an unterminated quote.
bool SplitExec(const QString& exec, QStringList& args) {
    std::vector<std::string> words;
    if (!SplitCommandLine(exec.toStdString(), words)) return false;
    for (const std::string& word : words) args << QString::fromStdString(word);
    return true;
}

bool ProgramExists(const QString& program) {
    if (program.isEmpty()) return false;
    if (program.contains('/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// A terminal emulator and the option that hands it a command.
bool FindTerminal(QStringList& prefix) {
    static const char* const kTerminals[][2] = {{"x-terminal-emulator", "-e"},
                                                {"xterm", "-e"},
                                                {"konsole", "-e"},
                                                {"gnome-terminal", "--"}};
    for (const auto& t : kTerminals) {
        const QString path = QStandardPaths::findExecutable(t[0]);
        if (path.isEmpty()) continue;
        prefix = {path, t[1]};
        return true;
    }
    return false;
}

// Every desktop entry file by its id; an id found in an earlier folder hides later ones.
std::map<QString, QString> IndexApplications(const TXdgDirs& dirs) {
    std::map<QString, QString> index;
    for (const QString& dir : dirs.ApplicationDirs) {
        QDirIterator it(dir, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(dir).relativeFilePath(path);
            id.replace('/', '-');
            index.emplace(id, path);
        }
    }
    return index;
}

// The mimeapps.list files in the order they are consulted.
QStringList MimeAppsLists(const TXdgDirs& dirs) {
    QStringList lists;
    auto addFolder = [&](const QString& folder, bool legacy) {
        for (const QString& desktop : dirs.Desktops)
            lists << folder + "/" + desktop + "-mimeapps.list";
        lists << folder + "/mimeapps.list";
        if (legacy) lists << folder + "/defaults.list";
    };
    for (const QString& dir : dirs.ConfigDirs) addFolder(dir, false);
    for (const QString& dir : dirs.ApplicationDirs) addFolder(dir, true);
    return lists;
}

class TAppFinder {
public:
    explicit TAppFinder(const TXdgDirs& dirs) : FIndex(IndexApplications(dirs)) {
        for (const QString& path : MimeAppsLists(dirs))
            if (QFileInfo::exists(path)) FLists.push_back(ReadGroups(path));
    }

    bool Find(const QString& mimeType, TDesktopEntry& entry) {
        for (const TGroups& list : FLists)
            for (const QString& id : Ids(list, "Default Applications", mimeType))
                if (Usable(id, entry)) return true;
        QSet<QString> removed;
        for (const TGroups& list : FLists) {
            for (const QString& id : Ids(list, "Removed Associations", mimeType)) removed << id;
            for (const QString& id : Ids(list, "Added Associations", mimeType))
                if (!removed.contains(id) && Usable(id, entry)) return true;
        }
        for (const auto& [id, path] : FIndex) {
            if (removed.contains(id)) continue;
            const TDesktopEntry& candidate = Load(id);
            if (candidate.MimeTypes.contains(mimeType) && Usable(id, entry)) return true;
        }
        return false;
    }

private:
    static QStringList Ids(const TGroups& list, const QString& group, const QString& mimeType) {
        const auto g = list.constFind(group);
        if (g == list.constEnd()) return {};
        const auto v = g->constFind(mimeType);
        return v == g->constEnd() ? QStringList() : SplitList(*v);
    }

    const TDesktopEntry& Load(const QString& id) {
        auto cached = FEntries.find(id);
        if (cached != FEntries.end()) return cached->second;
        TDesktopEntry entry;
        const auto at = FIndex.find(id);
        if (at == FIndex.end() || !ReadDesktopEntry(at->second, entry)) entry.Application = false;
        entry.Id = id;
        return FEntries.emplace(id, entry).first->second;
    }

    bool Usable(const QString& id, TDesktopEntry& entry) {
        const TDesktopEntry& candidate = Load(id);
        if (!candidate.Application || candidate.Hidden) return false;
        if (!candidate.TryExec.isEmpty() && !ProgramExists(candidate.TryExec)) return false;
        QStringList command;
        if (!ExpandExec(candidate, "x", true, command)) return false;
        entry = candidate;
        return true;
    }

    std::map<QString, QString> FIndex;
    std::vector<TGroups> FLists;
    std::map<QString, TDesktopEntry> FEntries;
};
} // namespace

TXdgDirs TXdgDirs::FromEnvironment() {
    TXdgDirs dirs;
    dirs.ApplicationDirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    dirs.ConfigDirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString& d :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':', Qt::SkipEmptyParts))
        dirs.Desktops << d.toLower();
    return dirs;
}

bool ReadDesktopEntry(const QString& path, TDesktopEntry& entry) {
    const TGroups groups = ReadGroups(path);
    const auto g = groups.constFind("Desktop Entry");
    if (g == groups.constEnd()) return false;
    const auto value = [&](const char* key) { return Unescape(g->value(key), false); };
    entry = TDesktopEntry();
    entry.Path = path;
    entry.Id = QFileInfo(path).fileName();
    entry.Name = value("Name");
    entry.Exec = value("Exec");
    entry.TryExec = value("TryExec");
    entry.Icon = value("Icon");
    entry.MimeTypes = SplitList(g->value("MimeType"));
    entry.Terminal = IsTrue(g->value("Terminal"));
    entry.Hidden = IsTrue(g->value("Hidden"));
    entry.Application = g->value("Type") == "Application";
    return true;
}

bool FindDefaultApplication(const TXdgDirs& dirs, const QString& mimeType, TDesktopEntry& entry) {
    TAppFinder finder(dirs);
    if (finder.Find(mimeType, entry)) return true;
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    for (const QString& parent : type.allAncestors())
        if (parent != "application/octet-stream" && finder.Find(parent, entry)) return true;
    return false;
}

bool ExpandExec(const TDesktopEntry& entry, const QString& target, bool isLocalFile,
                QStringList& command) {
    QStringList args;
    if (!SplitExec(entry.Exec, args) || args.isEmpty()) return false;
    const QString asFile = target;
    const QString asUrl = isLocalFile ? QUrl::fromLocalFile(target).toString() : target;
    command.clear();
    bool targetGiven = false;
    for (const QString& arg : args) {
        if (arg == "%i") {
            if (!entry.Icon.isEmpty()) command << "--icon" << entry.Icon;
            continue;
        }
        QString out;
        bool dropped = false;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                out += arg[i];
                continue;
            }
            const QChar code = arg[++i];
            if ((code == 'f' || code == 'F' || code == 'u' || code == 'U') && target.isEmpty()) {
                dropped = true; // started without a target
            } else if (code == 'f' || code == 'F') {
                out += asFile;
                targetGiven = true;
            } else if (code == 'u' || code == 'U') {
                out += asUrl;
                targetGiven = true;
            } else if (code == 'c') {
                out += entry.Name;
            } else if (code == 'k') {
                out += entry.Path;
            } else if (code == '%') {
                out += '%';
            } else {
                dropped = true; // deprecated or unknown codes stand for nothing
            }
        }
        if (!out.isEmpty() || !dropped) command << out;
    }
    if (!targetGiven && !target.isEmpty()) command << asFile;
    if (!ProgramExists(command.first())) return false;
    if (entry.Terminal) {
        QStringList terminal;
        if (!FindTerminal(terminal)) return false;
        command = terminal + command;
    }
    return true;
}
