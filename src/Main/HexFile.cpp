#include "HexFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

void RaiseFileError(const std::string& path, int error) {
    throw std::runtime_error("Cannot open file \"" + path + "\". " +
                             (error != 0 ? std::strerror(error) : "The file cannot be read"));
}

void RaiseNotAFile(const std::string& path, TFileKind kind) {
    const char* what = "It is not a regular file";
    switch (kind) {
    case TFileKind::Directory:
        what = "Is a directory";
        break;
    case TFileKind::Device:
        what = "It is a device, not a file";
        break;
    case TFileKind::Fifo:
        what = "It is a pipe (FIFO), not a file";
        break;
    case TFileKind::Socket:
        what = "It is a socket, not a file";
        break;
    case TFileKind::Regular:
    case TFileKind::Other:
        break;
    }
    throw std::runtime_error("Cannot open file \"" + path + "\". " + what);
}

TBoundedText::TBoundedText(std::size_t limit, std::size_t sizeHint) : Limit(limit) {
    // One byte more than the size shows whether the file grew while it was read.
    Text.reserve(std::min(sizeHint, limit) + 1);
}

bool TBoundedText::Append(const char* piece, std::size_t size) {
    if (size > Limit - Text.size()) {
        return false;
    }
    if (Text.size() + size > Text.capacity()) {
        Text.reserve(std::min(Limit, Text.capacity() + std::max(Text.capacity(), size)));
    }
    Text.append(piece, size);
    return true;
}
