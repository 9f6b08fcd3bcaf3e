#include "WindowFront.h"

#include <QGuiApplication>
#include <QWidget>

void BringWindowToFront(QWidget* window) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return; // these platforms only complain that they cannot
    }
    window->raise();
    window->activateWindow();
}
