// TComUiWindow: the user-interface side of the serial component's event delivery for Windows
// programs that run a plain message loop (the command-line flasher, tests).
//
// It owns a message-only window of the thread that creates it.  A call posted from the event
// thread travels as a message to that window; its window procedure runs the call when the
// thread processes its messages (GetMessage / PeekMessage and DispatchMessage, or a modal
// loop).  A window built with a toolkit gives the component the toolkit's own queued calls
// instead.  No Win32 types here: the window lives in ComUiWindowWin32.cpp.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <mutex>

#include "ComUiThread.h"

class TComUiWindow final : public TComUiThread {
public:
    // `show` receives the exceptions of smWindowSync dispatches; by default a message box
    // with the exception's text.  Raises std::system_error when the window cannot be made.
    explicit TComUiWindow(std::function<void(std::exception_ptr)> show = {});
    ~TComUiWindow() override;
    TComUiWindow(const TComUiWindow&) = delete;
    TComUiWindow& operator=(const TComUiWindow&) = delete;

    void Post(std::function<void()> call) override;
    void ShowException(std::exception_ptr error) override;

    // The window procedure's work: runs every call posted so far.  Returns how many ran.
    std::size_t RunPosted();

private:
    void* Window = nullptr; // HWND
    std::function<void(std::exception_ptr)> Show;
    std::mutex Lock;
    std::deque<std::function<void()>> Posted;
};
