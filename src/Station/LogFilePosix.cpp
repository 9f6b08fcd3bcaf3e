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

std::string Why(const std::string& path, const char* what) {
    return "the log " + path + " " + what + "; name a regular file of the station's own";
}

} // namespace

TLogFile::~TLogFile() {
    if (Os >= 0) {
        ::close(FdOf(Os)); // also ends the lock
    }
}

bool TLogFile::Open(const std::string& path, std::string& error) {
    // A look first, so that nothing is opened that is no regular file (opening a device can
    // do something), then the same checks on what was opened.
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0) {
        if (S_ISLNK(named.st_mode)) {
            error = Why(path, "is a symbolic link");
            return false;
        }
        if (!S_ISREG(named.st_mode)) {
            error = Why(path, "is not a regular file");
            return false;
        }
    }
    const int fd =
        ::open(path.c_str(),
               O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        error = errno == ELOOP ? Why(path, "is a symbolic link")
                               : "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = Why(path, "is not a regular file");
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "the log " + path + " is held open by another station"
                                     : "cannot lock the log " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (Os >= 0) {
        ::close(FdOf(Os));
    }
    Os = fd;
    Path = path;
    return true;
}

std::int64_t TLogFile::Size() const {
    struct stat info {};
    return ::fstat(FdOf(Os), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

namespace {

std::string ReadAt(int fd, std::int64_t from, std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
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

} // namespace

std::string TLogFile::Head(std::size_t limit) const {
    const std::int64_t size = Size();
    return ReadAt(FdOf(Os), 0,
                  size < static_cast<std::int64_t>(limit) ? static_cast<std::size_t>(size) : limit);
}

std::string TLogFile::Tail(std::size_t limit) const {
    const std::int64_t size = Size();
    const std::int64_t from = size > static_cast<std::int64_t>(limit) ? size - limit : 0;
    return ReadAt(FdOf(Os), from, static_cast<std::size_t>(size - from));
}

bool TLogFile::Append(std::string_view bytes, std::string& error) {
    // One write for the whole record: a record is never interleaved with anything, and a
    // kill leaves it either whole or not there.  Only a power cut can leave part of it.
    const std::int64_t before = Size();
    std::string why;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FdOf(Os), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            why = std::string("cannot write the log: ") + std::strerror(errno);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done == bytes.size() && ::fsync(FdOf(Os)) != 0) {
        why = std::string("cannot flush the log to the disk: ") + std::strerror(errno);
    }
    if (!why.empty()) {
        // Part of a record (a full disk takes what fits) would have the next one glued to it.
        while (::ftruncate(FdOf(Os), static_cast<off_t>(before)) != 0 && errno == EINTR) {
        }
        error = why;
        return false;
    }
    return true;
}

bool TLogFile::Replaced() const {
    struct stat named {
    }, open{};
    if (::lstat(Path.c_str(), &named) != 0 || ::fstat(FdOf(Os), &open) != 0) {
        return true;
    }
    return named.st_dev != open.st_dev || named.st_ino != open.st_ino;
}
