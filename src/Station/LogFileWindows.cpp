// Windows: a handle shared for reading only (a second station cannot open the file for
// writing, and nothing can rename or remove it while the station holds it), writes at the
// end of the file, FlushFileBuffers after every record.
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

// The system's text for an error, in UTF-8 whatever the process's code page.
std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = "error " + std::to_string(code);
    if (n > 0) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                               nullptr, nullptr);
        result.assign(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), result.data(), size, nullptr,
                              nullptr);
    }
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
    // The reparse point itself is opened, not followed, so that a link is seen and refused
    // before its target is created or written.
    const HANDLE handle = ::CreateFileW(
        Wide(path).c_str(), GENERIC_READ | FILE_WRITE_DATA | FILE_APPEND_DATA, FILE_SHARE_READ,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        error = code == ERROR_SHARING_VIOLATION
                    ? "the log " + path + " is held open by another station"
                    : "cannot write the log " + path + ": " + SystemText(code);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        error = "the log " + path +
                " is not a regular file (a link, a device or a folder); name a regular file of "
                "the station's own";
        ::CloseHandle(handle);
        return false;
    }
    if (Os != -1) {
        ::CloseHandle(HandleOf(Os));
    }
    Os = reinterpret_cast<std::intptr_t>(handle);
    Path = path;
    return true;
}

std::int64_t TLogFile::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(HandleOf(Os), &size) ? size.QuadPart : 0;
}

namespace {

std::string ReadAt(HANDLE handle, std::int64_t from, std::size_t count) {
    std::string bytes(count, '\0');
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD got = 0;
    if (!::ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, &at)) {
        got = 0;
    }
    bytes.resize(got);
    return bytes;
}

} // namespace

std::string TLogFile::Head(std::size_t limit) const {
    const std::int64_t size = Size();
    return ReadAt(HandleOf(Os), 0,
                  size < static_cast<std::int64_t>(limit) ? static_cast<std::size_t>(size) : limit);
}

std::string TLogFile::Tail(std::size_t limit) const {
    const std::int64_t size = Size();
    const std::int64_t from = size > static_cast<std::int64_t>(limit) ? size - limit : 0;
    return ReadAt(HandleOf(Os), from, static_cast<std::size_t>(size - from));
}

bool TLogFile::Append(std::string_view bytes, std::string& error) {
    // One write for the whole record (see LogFilePosix.cpp), at the end of the file.
    const std::int64_t before = Size();
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD done = 0;
    std::string why;
    if (!::WriteFile(HandleOf(Os), bytes.data(), static_cast<DWORD>(bytes.size()), &done, &atEnd) ||
        done != bytes.size()) {
        why = "cannot write the log: " + SystemText(::GetLastError());
    } else if (!::FlushFileBuffers(HandleOf(Os))) {
        why = "cannot flush the log to the disk: " + SystemText(::GetLastError());
    }
    if (!why.empty()) {
        // Part of a record would have the next one glued to it.
        LARGE_INTEGER size{};
        size.QuadPart = before;
        if (::SetFilePointerEx(HandleOf(Os), size, nullptr, FILE_BEGIN)) {
            ::SetEndOfFile(HandleOf(Os));
        }
        error = why;
        return false;
    }
    return true;
}

bool TLogFile::Replaced() const {
    // Shared for reading only, the file cannot be renamed, replaced or removed while it is
    // held.
    return false;
}
