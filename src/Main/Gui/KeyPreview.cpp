#include "KeyPreview.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

// X11 and Wayland key codes (evdev + 8) of the letter keys, A to Z.
constexpr unsigned LetterScanCodes[26] = {38, 56, 54, 40, 26, 41, 42, 43, 31, 44, 45, 46, 58,
                                          57, 32, 33, 24, 27, 39, 28, 30, 55, 25, 53, 29, 52};

int LetterFromScanCode(quint32 scanCode) {
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland"))) {
        return 0;
    }
    for (int i = 0; i < 26; ++i) {
        if (LetterScanCodes[i] == scanCode) {
            return 'A' + i;
        }
    }
    return 0;
}

bool IsInside(const QObject* object, const QObject* ancestor) {
    for (; object; object = object->parent()) {
        if (object == ancestor) {
            return true;
        }
    }
    return false;
}

// The window a key pressed in `widget` belongs to: a drop-down list opens in a popup of its
// own, which counts as part of the window that holds the list.
const QWidget* OwningWindow(const QWidget* widget) {
    const QWidget* window = widget->window();
    while (window->windowType() == Qt::Popup && window->parentWidget() != nullptr) {
        window = window->parentWidget()->window();
    }
    return window;
}

} // namespace

int VirtualKeyOf(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return key; // Qt's codes of the Latin letters are the virtual-key codes
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return key;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 112 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default:
        break;
    }
    // A letter of another layout: the key's position tells which Latin letter it carries.
    return LetterFromScanCode(event.nativeScanCode());
}

TKeyPreview::TKeyPreview(QWidget* window, THandler handler)
    : QObject(window), Window(window), Handler(std::move(handler)) {
    qApp->installEventFilter(this);
}

TKeyPreview::~TKeyPreview() {
    qApp->removeEventFilter(this);
}

bool TKeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || OwningWindow(widget) != Window) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (key == LastEvent && LastReceiver && watched != LastReceiver &&
        IsInside(LastReceiver, watched)) {
        LastReceiver = watched; // the same press, passed on to a parent
        return false;
    }
    LastEvent = key;
    LastReceiver = watched;
    Handler(VirtualKeyOf(*key), key->modifiers());
    return false;
}
