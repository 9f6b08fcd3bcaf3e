#include "SystemFacts.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::string DevicePath(const std::string& port) {
    return !port.empty() && port[0] == '/' ? port : "/dev/" + port;
}

} // namespace

namespace SystemFacts {

std::string OpenableName(const std::string&, const std::string& devicePath) {
    return devicePath;
}

std::string PortIdentity(const std::string& port) {
    const std::string path = DevicePath(port);
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    return path;
}

std::string DeviceInstance(const std::string& port) {
    struct stat info {};
    if (::stat(DevicePath(port).c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(static_cast<unsigned long long>(info.st_rdev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino)) + ":" +
           std::to_string(static_cast<long long>(info.st_ctim.tv_sec)) + "." +
           std::to_string(static_cast<long long>(info.st_ctim.tv_nsec));
}

std::string FolderStamp(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(static_cast<unsigned long long>(info.st_ino)) + ":" +
           std::to_string(static_cast<long long>(info.st_mtim.tv_sec)) + "." +
           std::to_string(static_cast<long long>(info.st_mtim.tv_nsec));
}

std::string NotSerialDevice(const std::string& port) {
    struct stat info {};
    if (::stat(DevicePath(port).c_str(), &info) != 0) {
        return {};
    }
    if (S_ISDIR(info.st_mode)) {
        return "it is a folder, not a serial device";
    }
    if (S_ISREG(info.st_mode)) {
        return "it is a file, not a serial device";
    }
    if (!S_ISCHR(info.st_mode)) {
        return "it is not a serial device";
    }
    // Pseudo-terminals (Unix98 slaves, majors 136 to 143) have no device in sysfs; every
    // other terminal's device there belongs to the tty class.
    const unsigned major = ::major(info.st_rdev), minor = ::minor(info.st_rdev);
    if (major >= 136 && major <= 143) {
        return {};
    }
    char link[PATH_MAX];
    const std::string subsystem =
        "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/subsystem";
    const ssize_t n = ::readlink(subsystem.c_str(), link, sizeof link - 1);
    const std::string target(link, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (target.size() >= 4 && target.compare(target.size() - 4, 4, "/tty") == 0) {
        return {};
    }
    return "it is a device of another kind, not a serial device";
}

int PortOpenProblem(const std::string& port) {
    const std::string path = DevicePath(port);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == EACCES ? 2 : 1;
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        return errno == ENOENT ? 1 : 2;
    }
    return 0;
}

void NumberSeparators(char& list, char& decimal) {
    decimal = '.';
    if (const locale_t user = ::newlocale(LC_NUMERIC_MASK, "", locale_t{})) {
        const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
        if (radix != nullptr && radix[0] == ',' && radix[1] == '\0') {
            decimal = ',';
        }
        ::freelocale(user);
    }
    list = decimal == ',' ? ';' : ',';
}

bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc) {
    return ::localtime_r(&t, &local) != nullptr && ::gmtime_r(&t, &utc) != nullptr;
}

} // namespace SystemFacts
