// Canvas fonts as Qt fonts.
#pragma once

#include "output/PrintCanvas.h"

#include <QFont>

// The Qt font of a canvas font. The Windows font names the program uses ("MS Sans Serif",
// "Arial", "Times New Roman", "Courier New") fall back to the system's sans, serif and
// monospaced fonts.
QFont MakeQtFont(const TCanvasFont& font);
