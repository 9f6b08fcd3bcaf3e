#include "PtyLine.h"

#include "LineSpeed.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

PtyLine::~PtyLine() {
    Close();
}

std::string PtyLine::Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        return std::string("posix_openpt: ") + std::strerror(errno);
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        return std::string("grantpt/unlockpt: ") + std::strerror(errno);
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        return std::string("ptsname: ") + std::strerror(errno);
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        return "open " + slavePath_ + ": " + std::strerror(errno);
    }
    // Raw from the start: with the default echo our own replies would come back as input
    // until the host configures the port.
    termios settings{};
    if (tcgetattr(slave_, &settings) == 0) {
        cfmakeraw(&settings);
        cfsetispeed(&settings, B115200);
        cfsetospeed(&settings, B115200);
        tcsetattr(slave_, TCSANOW, &settings);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    return {};
}

std::string PtyLine::Link(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            return path + " exists and is not a symlink";
        }
        ::unlink(path.c_str());
    }
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        return "symlink " + path + ": " + std::strerror(errno);
    }
    linkPath_ = path;
    return {};
}

void PtyLine::Close() {
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

long PtyLine::Speed() const {
    const long speed = ReadLineSpeed(slave_ >= 0 ? slave_ : master_);
    return speed > 0 ? speed : 0;
}

long PtyLine::Unread() const {
    int count = 0;
    return slave_ >= 0 && ioctl(slave_, FIONREAD, &count) == 0 ? count : 0;
}

long PtyLine::Read(char* buffer, std::size_t size) {
    const ssize_t n = ::read(master_, buffer, size);
    return n > 0 ? static_cast<long>(n) : 0;
}

long PtyLine::Write(std::string_view bytes) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    return n > 0 ? static_cast<long>(n) : 0;
}
