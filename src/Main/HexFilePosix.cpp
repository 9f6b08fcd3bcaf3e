// ReadHexFile on POSIX systems: opened without blocking, so a FIFO without a writer or a
// device is refused at once instead of hanging the program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FlashImage.h"
#include "HexFile.h"

namespace {

TFileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return TFileKind::Regular;
    }
    if (S_ISDIR(mode)) {
        return TFileKind::Directory;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return TFileKind::Device;
    }
    if (S_ISFIFO(mode)) {
        return TFileKind::Fifo;
    }
    return S_ISSOCK(mode) ? TFileKind::Socket : TFileKind::Other;
}

// Closes the descriptor on every way out.
class TFd {
public:
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return Fd; }

private:
    int Fd;
};

} // namespace

bool ReadHexFile(const std::string& path, std::string& content) {
    // Told from the name first, so a device is not even opened (opening a serial port
    // raises its modem lines); the descriptor is looked at again, for a file replaced since.
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && KindOf(named.st_mode) != TFileKind::Regular) {
        RaiseNotAFile(path, KindOf(named.st_mode));
    }
    const TFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        RaiseFileError(path, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        RaiseFileError(path, errno);
    }
    if (const TFileKind kind = KindOf(st.st_mode); kind != TFileKind::Regular) {
        RaiseNotAFile(path, kind);
    }
    if (static_cast<std::uintmax_t>(st.st_size) > LargestHexFile) {
        return false;
    }
    TBoundedText text(LargestHexFile, static_cast<std::size_t>(st.st_size));
    char piece[65536];
    while (true) {
        const ssize_t n = ::read(fd.Get(), piece, sizeof piece);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseFileError(path, errno);
        }
        if (!text.Append(piece, static_cast<std::size_t>(n))) {
            return false; // it grew past the limit while it was read
        }
    }
    content = text.Take();
    return true;
}
