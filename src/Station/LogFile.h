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
    // POSIX holds an exclusive flock, Windows shares the file for reading only.  Only a
    // regular file is taken, never through a symbolic link (nor a dangling one, whose target
    // would be created), never waiting on a FIFO or a device, never becoming the program's
    // terminal; all that is checked before anything is created.  False with `error` set (in
    // English) when it cannot be written, is no regular file, or another station holds it.
    bool Open(const std::string& path, std::string& error);
    // The file's size now.
    std::int64_t Size() const;
    // Up to `limit` bytes from the start of the file, and before its end.
    std::string Head(std::size_t limit) const;
    std::string Tail(std::size_t limit) const;
    // Writes `bytes` at the end in one call and waits until they are on the disk.  When that
    // fails (disk full, an I/O error) the file is cut back to the size it had before.
    bool Append(std::string_view bytes, std::string& error);
    // True when the name the file was opened under no longer leads to it: the file was
    // removed, or another took its place (a spreadsheet saves by writing a new file and
    // renaming it over the old one).
    bool Replaced() const;

private:
    std::string Path;
    // The descriptor (POSIX) or handle (Windows); -1 while closed.
    std::intptr_t Os = -1;
};
