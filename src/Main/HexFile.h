// The pieces of ReadHexFile that read the same on every system; each system's file opens
// the file its own way and reads it through these.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

// What a path names, as far as reading a firmware file goes.
enum class TFileKind { Regular, Directory, Device, Fifo, Socket, Other };

// "Cannot open file "<path>". <the system's text for error>"
[[noreturn]] void RaiseFileError(const std::string& path, int error);
// "Cannot open file "<path>". <what it is instead of a file>", for any kind but Regular.
[[noreturn]] void RaiseNotAFile(const std::string& path, TFileKind kind);

// A file's bytes gathered piece by piece up to a limit, its memory grown by at most half
// the limit at a time and never past the limit, whatever size the system claimed.
class TBoundedText {
public:
    TBoundedText(std::size_t limit, std::size_t sizeHint);
    // False, keeping nothing more, when the piece would pass the limit.
    bool Append(const char* piece, std::size_t size);
    std::string Take() { return std::move(Text); }

private:
    std::size_t Limit;
    std::string Text;
};
