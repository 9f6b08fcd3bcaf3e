// Key preview: every key pressed in a window or any of its controls reaches the window's
// handler first; the key then goes on to the focused control as usual.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;
class QWidget;

// Windows virtual-key code of a key event: F1 112, Delete 46, letters 65-90 as on an
// English keyboard, so that Ctrl+R works the same under a Ukrainian layout; 0 for keys
// without one.
int VirtualKeyOf(const QKeyEvent& event);

class TKeyPreview : public QObject {
public:
    using THandler = std::function<void(int virtualKey, Qt::KeyboardModifiers modifiers)>;

    TKeyPreview(QWidget* window, THandler handler);
    ~TKeyPreview() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* Window;
    THandler Handler;
    // A key the focused control does not take travels up to its parents, and every hop
    // passes the application's filter again: remember the last one to see it once.
    const QKeyEvent* LastEvent = nullptr;
    QPointer<QObject> LastReceiver;
};
