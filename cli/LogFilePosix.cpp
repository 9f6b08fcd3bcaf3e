// POSIX: an O_APPEND descriptor with an exclusive flock, fsync after every record.
#include "LogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int FdOf(std::intptr_t os) {
    return static_cast<int>(os);
}

} // namespace

TLogFile::~TLogFile() {
    if (Os >= 0) {
        ::close(FdOf(Os)); // also ends the lock
    }
}

bool TLogFile::Open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "the log " + path + " is held open by another station"
                                     : "cannot lock the log " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "the log " + path + " is not a regular file";
        ::close(fd);
        return false;
    }
    Os = fd;
    return true;
}

std::int64_t TLogFile::Size() const {
    struct stat info {};
    return ::fstat(FdOf(Os), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

std::string TLogFile::Tail(std::size_t limit) const {
    const std::int64_t size = Size();
    const std::int64_t from = size > static_cast<std::int64_t>(limit) ? size - limit : 0;
    std::string bytes(static_cast<std::size_t>(size - from), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(FdOf(Os), bytes.data() + got, bytes.size() - got,
                                  static_cast<off_t>(from + static_cast<std::int64_t>(got)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool TLogFile::Append(std::string_view bytes, std::string& error) {
    // One write for the whole record: a record is never interleaved with anything, and a
    // kill leaves it either whole or not there.  Only a power cut can leave part of it.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FdOf(Os), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::string("cannot write the log: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(FdOf(Os)) != 0) {
        error = std::string("cannot flush the log to the disk: ") + std::strerror(errno);
        return false;
    }
    return true;
}
