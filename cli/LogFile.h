// The station's record file as the operating system holds it: opened for appending, held
// against a second station, every append written whole and on the disk before it returns.
// One file per system (LogFilePosix.cpp, LogFileWindows.cpp), chosen in CMake.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TLogFile {
public:
    TLogFile() = default;
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Opens or creates `path` (UTF-8) and takes it for this program alone while it is open:
    // POSIX holds an exclusive flock, Windows shares the file for reading only.  False with
    // `error` set (in English) when it cannot be written or another station holds it.
    bool Open(const std::string& path, std::string& error);
    // The file's size now.
    std::int64_t Size() const;
    // Up to `limit` bytes before the end of the file.
    std::string Tail(std::size_t limit) const;
    // Writes `bytes` at the end in one call and waits until they are on the disk.
    bool Append(std::string_view bytes, std::string& error);

private:
    // The descriptor (POSIX) or handle (Windows); -1 while closed.
    std::intptr_t Os = -1;
};
