#include "PortHoldersLinux.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// Pseudo-terminal slaves have the majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and the seven
// after it).
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;

std::string Basename(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// The process's name and account from /proc/<pid>; both empty when it cannot be seen.
TPortHolder DescribeProcess(const TPortPlaces& places, std::int64_t pid) {
    TPortHolder holder;
    holder.Pid = pid;
    const std::string folder = places.Proc + "/" + std::to_string(pid);
    holder.Program = FirstLine(folder + "/comm");
    std::ifstream status(folder + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 4, "Uid:") == 0) {
            std::istringstream fields(line.substr(4));
            std::uint64_t uid = 0;
            if (fields >> uid) {
                holder.User = UserName(static_cast<uid_t>(uid));
            }
            break;
        }
    }
    return holder;
}

bool ProcessAlive(const TPortPlaces& places, std::int64_t pid) {
    struct stat st {};
    return pid > 0 && ::stat((places.Proc + "/" + std::to_string(pid)).c_str(), &st) == 0;
}

// The process id in a UUCP lock file: ten digits in text (HDB), or a binary int (the old
// form); 0 when there is none.
std::int64_t LockFilePid(const std::string& content) {
    std::istringstream text(content);
    std::int64_t pid = 0;
    if (text >> pid && pid > 0) {
        return pid;
    }
    if (content.size() == sizeof(int)) {
        int binary = 0;
        std::copy(content.begin(), content.end(), reinterpret_cast<char*>(&binary));
        return binary > 0 ? binary : 0;
    }
    return 0;
}

// What one search has found so far, by process id.
struct TFound {
    const TPortPlaces& Places;
    std::int64_t IgnorePid;
    std::map<std::int64_t, TPortHolder> Holders;
};

void AddHolder(TFound& found, std::int64_t pid, const std::string& lockFile = {}) {
    if (pid <= 0 || pid == found.IgnorePid) {
        return;
    }
    auto it = found.Holders.find(pid);
    if (it == found.Holders.end()) {
        it = found.Holders.emplace(pid, DescribeProcess(found.Places, pid)).first;
    }
    if (!lockFile.empty()) {
        it->second.LockFile = lockFile;
    }
}

// Owners of live lock files named after the device, by its own name or its link's.
void FindLockFiles(TFound& found, const std::string& devicePath, const std::string& real) {
    std::vector<std::string> names{Basename(devicePath)};
    if (!real.empty() && Basename(real) != names.front()) {
        names.push_back(Basename(real));
    }
    for (const std::string& dir : found.Places.LockDirs) {
        for (const std::string& name : names) {
            const std::string file = dir + "/LCK.." + name;
            const std::int64_t pid = LockFilePid(ReadAll(file));
            if (ProcessAlive(found.Places, pid)) {
                AddHolder(found, pid, file);
            }
        }
    }
}

// Processes with a flock or POSIX lock on the device node (/proc/locks, readable by every
// user, names them even where their open files are hidden).
void FindKernelLocks(TFound& found, const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) {
        return;
    }
    std::ifstream locks(found.Places.Proc + "/locks");
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos) {
            continue; // a waiter, not a holder
        }
        std::istringstream fields(line);
        std::string id, type, mode, access, file;
        std::int64_t pid = 0;
        if (!(fields >> id >> type >> mode >> access >> pid >> file)) {
            continue;
        }
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino) {
            AddHolder(found, pid);
        }
    }
}

// Every process with a descriptor on `real`, as fuser finds them.  Processes of other users
// cannot be looked into without privileges and are passed over.
void FindOpeners(TFound& found, const std::string& real) {
    const int proc = ::open(found.Places.Proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) {
        return;
    }
    DIR* processes = ::fdopendir(proc);
    if (processes == nullptr) {
        ::close(proc);
        return;
    }
    char target[PATH_MAX];
    while (const dirent* process = ::readdir(processes)) {
        if (!AllDigits(process->d_name)) {
            continue;
        }
        const std::string fdFolder = std::string(process->d_name) + "/fd";
        const int fds = ::openat(proc, fdFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fds < 0) {
            continue;
        }
        DIR* list = ::fdopendir(fds);
        if (list == nullptr) {
            ::close(fds);
            continue;
        }
        while (const dirent* fd = ::readdir(list)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            const ssize_t n = ::readlinkat(fds, fd->d_name, target, sizeof target);
            if (n > 0 && static_cast<std::size_t>(n) == real.size() &&
                real.compare(0, real.size(), target, static_cast<std::size_t>(n)) == 0) {
                AddHolder(found, std::stoll(process->d_name));
                break;
            }
        }
        ::closedir(list);
    }
    ::closedir(processes);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A hex identifier as udev's PRODUCT key writes it: lower case, no leading zeros.
std::string ProductKeyHex(const std::string& id) {
    const std::string lower = Lower(id);
    const auto first = lower.find_first_not_of('0');
    return first == std::string::npos ? "0" : lower.substr(first);
}

bool RuleClaims(const std::string& line, const std::string& vendor, const std::string& product) {
    const std::string rule = Lower(line);
    const auto start = rule.find_first_not_of(" \t");
    if (start == std::string::npos || rule[start] == '#') {
        return false;
    }
    const std::string productKey =
        "env{product}==\"" + ProductKeyHex(vendor) + "/" + ProductKeyHex(product) + "/";
    if (rule.find(productKey) != std::string::npos) {
        return true;
    }
    return rule.find("attrs{idvendor}==\"" + Lower(vendor) + "\"") != std::string::npos &&
           rule.find("attrs{idproduct}==\"" + Lower(product) + "\"") != std::string::npos;
}

} // namespace

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result = resolved;
    ::free(resolved);
    return result;
}

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) {
        return {};
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::vector<TPortHolder> FindPortHolders(const std::string& devicePath, TPortHoldScan scan,
                                         const TPortPlaces& places, std::int64_t ignorePid) {
    TFound found{places, ignorePid < 0 ? std::int64_t{::getpid()} : ignorePid, {}};
    const std::string real = RealPath(devicePath);
    FindLockFiles(found, devicePath, real);
    FindKernelLocks(found, devicePath);
    if (scan == TPortHoldScan::Everything && !real.empty()) {
        FindOpeners(found, real);
    }
    std::vector<TPortHolder> holders;
    holders.reserve(found.Holders.size());
    for (auto& entry : found.Holders) {
        holders.push_back(std::move(entry.second));
    }
    return holders;
}

bool IsPseudoTerminalDevice(const std::string& devicePath) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned major = ::major(st.st_rdev);
    return major >= PtySlaveMajorFirst && major <= PtySlaveMajorLast;
}

bool ModemManagerRuns(const TPortPlaces& places) {
    DIR* processes = ::opendir(places.Proc.c_str());
    if (processes == nullptr) {
        return false;
    }
    bool runs = false;
    while (const dirent* process = ::readdir(processes)) {
        if (AllDigits(process->d_name) &&
            FirstLine(places.Proc + "/" + process->d_name + "/comm") == "ModemManager") {
            runs = true;
            break;
        }
    }
    ::closedir(processes);
    return runs;
}

bool ModemManagerIgnores(const TPortPlaces& places, const std::string& majorMinor) {
    std::ifstream data(places.UdevData + "/c" + majorMinor);
    for (std::string line; std::getline(data, line);) {
        if (line == "E:ID_MM_DEVICE_IGNORE=1") {
            return true;
        }
    }
    return false;
}

std::string BrlttyRulesFor(const TPortPlaces& places, const std::string& vendor,
                           const std::string& product) {
    if (vendor.empty() || product.empty()) {
        return {};
    }
    // udev reads one file per name, from the last folder that has it.
    std::map<std::string, std::string> files;
    for (const std::string& dir : places.UdevRules) {
        if (DIR* folder = ::opendir(dir.c_str())) {
            while (const dirent* entry = ::readdir(folder)) {
                const std::string name = entry->d_name;
                if (name.size() > 6 && name.compare(name.size() - 6, 6, ".rules") == 0) {
                    files[name] = dir + "/" + name;
                }
            }
            ::closedir(folder);
        }
    }
    for (const auto& [name, path] : files) {
        if (name.find("brltty") == std::string::npos) {
            continue;
        }
        std::ifstream rules(path); // a rule masked by a link to /dev/null reads empty
        for (std::string line; std::getline(rules, line);) {
            if (RuleClaims(line, vendor, product)) {
                return path;
            }
        }
    }
    return {};
}

std::string BrlttyInKernelLog(const TPortPlaces& places, const std::string& usbDevice) {
    // /dev/kmsg gives one record per read from the oldest kept, and EAGAIN at the end; a
    // plain file stands in for it with lines.  Reading it may need privileges.
    const int fd = ::open(places.KernelLog.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    constexpr std::size_t Limit = 8 << 20;
    std::string log;
    char buffer[8192];
    while (log.size() < Limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            log.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EPIPE && errno != EINTR)) {
            break; // the end, or nothing readable; EPIPE: a record was overwritten
        }
    }
    ::close(fd);
    // "6,1234,5678,-;usb 1-1: usbfs: interface 0 claimed by ch341 while 'brltty' sets config"
    const std::string prefix = "usb " + usbDevice + ": ";
    std::string found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto header = line.find(';');
        const std::string message = header == std::string::npos ? line : line.substr(header + 1);
        if (message.compare(0, prefix.size(), prefix) == 0 &&
            message.find("'brltty'") != std::string::npos &&
            message.find("claimed by") != std::string::npos) {
            found = message;
        }
    }
    return found;
}
