// Bringing a window to the front, where the platform has a front.
#pragma once

class QWidget;

// Raises and activates `window`; does nothing on platforms without stacking (offscreen).
void BringWindowToFront(QWidget* window);
