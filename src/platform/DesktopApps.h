// The desktop's default applications by the freedesktop rules: desktop entries found in
// the "applications" folders of the data directories, chosen through the mimeapps.list
// files of the configuration and data directories.
#pragma once

#include <QString>
#include <QStringList>

struct TDesktopEntry {
    QString Id;   // "org.example.Viewer.desktop"
    QString Path; // the file it was read from
    QString Name;
    QString Exec;
    QString TryExec;
    QString Icon;
    QStringList MimeTypes;
    bool Terminal = false;
    bool Hidden = false;
    bool Application = false;
};

// Where to look; the default is taken from the XDG environment variables.
struct TXdgDirs {
    QStringList ApplicationDirs; // data dirs + "/applications", most important first
    QStringList ConfigDirs;      // XDG_CONFIG_HOME first, then XDG_CONFIG_DIRS
    QStringList Desktops;        // XDG_CURRENT_DESKTOP, lower-cased

    static TXdgDirs FromEnvironment();
};

// Reads the [Desktop Entry] group of a .desktop file; false when it cannot be read.
bool ReadDesktopEntry(const QString& path, TDesktopEntry& entry);

// Finds the application that opens a MIME type (or, failing that, one of its parent types
// other than application/octet-stream); false when there is none that can run.
bool FindDefaultApplication(const TXdgDirs& dirs, const QString& mimeType, TDesktopEntry& entry);

// The command line of the entry's Exec key for one target: the program first, then its
// arguments. isLocalFile says whether target is a file path (else a URL); an empty target starts
// the application without one. A terminal program
// gets a terminal emulator in front. False when the Exec value is malformed or names no
// program that can be found.
bool ExpandExec(const TDesktopEntry& entry, const QString& target, bool isLocalFile,
                QStringList& command);
