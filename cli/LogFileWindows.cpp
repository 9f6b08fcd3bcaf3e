// Windows: a handle shared for reading only (a second station cannot open the file for
// writing), FILE_APPEND_DATA writes, FlushFileBuffers after every record.
#include "LogFile.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE HandleOf(std::intptr_t os) {
    return reinterpret_cast<HANDLE>(os);
}

std::wstring Wide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n > 0 ? std::string(text, n) : "error " + std::to_string(code);
    ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    return result;
}

} // namespace

TLogFile::~TLogFile() {
    if (Os != -1) {
        ::CloseHandle(HandleOf(Os));
    }
}

bool TLogFile::Open(const std::string& path, std::string& error) {
    const HANDLE handle =
        ::CreateFileW(Wide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        error = code == ERROR_SHARING_VIOLATION
                    ? "the log " + path + " is held open by another station"
                    : "cannot write the log " + path + ": " + SystemText(code);
        return false;
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        error = "the log " + path + " is not a regular file";
        ::CloseHandle(handle);
        return false;
    }
    Os = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

std::int64_t TLogFile::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(HandleOf(Os), &size) ? size.QuadPart : 0;
}

std::string TLogFile::Tail(std::size_t limit) const {
    const std::int64_t size = Size();
    const std::int64_t from = size > static_cast<std::int64_t>(limit) ? size - limit : 0;
    std::string bytes(static_cast<std::size_t>(size - from), '\0');
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD got = 0;
    if (!::ReadFile(HandleOf(Os), bytes.data(), static_cast<DWORD>(bytes.size()), &got, &at)) {
        got = 0;
    }
    bytes.resize(got);
    return bytes;
}

bool TLogFile::Append(std::string_view bytes, std::string& error) {
    // One write for the whole record (see LogFilePosix.cpp).
    DWORD done = 0;
    if (!::WriteFile(HandleOf(Os), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                     nullptr) ||
        done != bytes.size()) {
        error = "cannot write the log: " + SystemText(::GetLastError());
        return false;
    }
    if (!::FlushFileBuffers(HandleOf(Os))) {
        error = "cannot flush the log to the disk: " + SystemText(::GetLastError());
        return false;
    }
    return true;
}
