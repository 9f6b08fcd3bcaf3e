// TComUiWindow over a message-only window (HWND_MESSAGE) and its window procedure.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <mutex>
#include <stdexcept>
#include <system_error>

#include "ComUiWindow.h"

namespace {

constexpr UINT RunPostedMessage = WM_APP + 1;
constexpr const char* ClassName = "TarvexComUiWindow";

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == RunPostedMessage) {
        auto* owner = reinterpret_cast<TComUiWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (owner != nullptr) {
            owner->RunPosted();
        }
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void RegisterUiClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = UiWindowProc;
        cls.hInstance = ::GetModuleHandleA(nullptr);
        cls.lpszClassName = ClassName;
        ::RegisterClassExA(&cls);
    });
}

void ShowInMessageBox(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        // The texts are UTF-8.
        const std::string text = e.what();
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
        ::MessageBoxW(nullptr, wide.c_str(), L"", MB_OK | MB_ICONERROR);
    } catch (...) {
        ::MessageBoxW(nullptr, L"?", L"", MB_OK | MB_ICONERROR);
    }
}

} // namespace

TComUiWindow::TComUiWindow(std::function<void(std::exception_ptr)> show)
    : Show(show ? std::move(show) : ShowInMessageBox) {
    RegisterUiClass();
    HWND window = ::CreateWindowExA(0, ClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) {
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                "CreateWindowExA");
    }
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    Window = window;
}

TComUiWindow::~TComUiWindow() {
    ::DestroyWindow(static_cast<HWND>(Window));
}

void TComUiWindow::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Posted.push_back(std::move(call));
    }
    ::PostMessageA(static_cast<HWND>(Window), RunPostedMessage, 0, 0);
}

void TComUiWindow::ShowException(std::exception_ptr error) {
    Show(std::move(error));
}

std::size_t TComUiWindow::RunPosted() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(Lock);
        calls.swap(Posted);
    }
    for (auto& call : calls) {
        call();
    }
    return calls.size();
}
