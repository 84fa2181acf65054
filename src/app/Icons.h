// The program's pictures, drawn at run time: nothing is taken from elsewhere.
#pragma once

#include <QIcon>
#include <QList>

// The application's envelope.
QIcon AppIcon();
// The tray's animation: frame 0 is the still image, the others are cycled.
QList<QIcon> TrayFrames();
// State image of a list row for a transfer mode (0 Get, 1 Copy, 2 Delete, 3 Neutral).
QIcon ModeIcon(int mode);
// Image i (0..8) of the tray menu strip.
QIcon TrayMenuImage(int index);
// Image i of the account menu.
QIcon AccountImage(int index);
// Symbol of row i of the information window.
QIcon ProgramSymbol(int index);
