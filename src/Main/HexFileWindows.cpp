// ReadHexFile on Windows: a device name (CON, COM1, NUL) or a folder is refused from its
// kind before the file is opened.
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "FlashImage.h"
#include "HexFile.h"

namespace {

TFileKind KindOf(std::filesystem::file_type type) {
    switch (type) {
    case std::filesystem::file_type::regular:
        return TFileKind::Regular;
    case std::filesystem::file_type::directory:
        return TFileKind::Directory;
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return TFileKind::Device;
    case std::filesystem::file_type::fifo:
        return TFileKind::Fifo;
    case std::filesystem::file_type::socket:
        return TFileKind::Socket;
    default:
        return TFileKind::Other;
    }
}

} // namespace

bool ReadHexFile(const std::string& path, std::string& content) {
    const std::filesystem::path fsPath(
        std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
    std::error_code ec;
    const auto status = std::filesystem::status(fsPath, ec);
    std::uintmax_t size = 0;
    if (!ec && std::filesystem::exists(status)) {
        if (const TFileKind kind = KindOf(status.type()); kind != TFileKind::Regular) {
            RaiseNotAFile(path, kind);
        }
        size = std::filesystem::file_size(fsPath, ec);
        if (!ec && size > LargestHexFile) {
            return false;
        }
    }
    // What cannot be looked at is opened all the same, for the system's own reason.
    errno = 0;
    std::ifstream in(fsPath, std::ios::binary);
    if (!in) {
        RaiseFileError(path, errno);
    }
    TBoundedText text(LargestHexFile, static_cast<std::size_t>(size));
    char piece[65536];
    while (in) {
        in.read(piece, sizeof piece);
        if (in.bad()) {
            RaiseFileError(path, errno);
        }
        if (!text.Append(piece, static_cast<std::size_t>(in.gcount()))) {
            return false;
        }
    }
    content = text.Take();
    return true;
}
