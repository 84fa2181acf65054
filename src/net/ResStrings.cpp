#include "net/ResStrings.h"

#include <QDir>
#include <QFile>

#include <unordered_map>

namespace {
const char* const kStringFolder = ":/strings";

// Every "*.strings" file of the folder: lines "number<TAB>text"; "#" starts a comment line.
std::unordered_map<int, std::string> LoadTable() {
    std::unordered_map<int, std::string> table;
    QDir folder(kStringFolder);
    for (const QString& name : folder.entryList({"*.strings"}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        while (!file.atEnd()) {
            QByteArray line = file.readLine();
            while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
            if (line.isEmpty() || line.startsWith('#')) continue;
            int tab = line.indexOf('\t');
            if (tab <= 0) continue;
            bool ok = false;
            int id = line.left(tab).toInt(&ok);
            if (ok) table[id] = line.mid(tab + 1).toStdString();
        }
    }
    return table;
}
} // namespace

std::string LoadResString(int id) {
    static const std::unordered_map<int, std::string> table = LoadTable();
    auto it = table.find(id);
    return it == table.end() ? std::string() : it->second;
}
