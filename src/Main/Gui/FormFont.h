// The windows' font: "MS Sans Serif", 8 points, or the closest narrow sans serif the
// desktop has (a wide fallback would not fit the fixed control sizes).
#pragma once

#include <QFont>

class QWidget;

QFont FormFont();

// Gives `window` the form font and passes it on to every control it holds now, its drop-down
// lists included.  The skin's application-wide style sheet stops Qt from passing a window's
// font on to its controls by itself: without this they would show the desktop's font.
void SetFormFont(QWidget* window);
