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
#include <map>
#include <set>
#include <sstream>

#include "ProcText.h"

namespace {

// Pseudo-terminal slaves have the majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and the seven
// after it).
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;

std::string Basename(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The most read of a lock file: an HDB lock is eleven bytes, the old binary form four.
constexpr std::size_t LockFileLimit = 64;
// A /proc/<pid>/stat or status text is well under a page or two.
constexpr std::size_t ProcEntryLimit = 16384;
// A sysfs attribute is at most a page.
constexpr std::size_t AttributeLimit = 4096;
// /proc/locks with thousands of locks, udev's database entry of a device, a rules file.
constexpr std::size_t ListLimit = 1 << 20;

// The lines of a text, the last one without its line end included.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
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
    if (const auto uid = StatusUid(
            ReadPlantedFile(folder + "/status", ProcEntryLimit).value_or(std::string()))) {
        holder.User = UserName(static_cast<uid_t>(*uid));
    }
    return holder;
}

// Why the process `pid` cannot hold a port; none when it can.  Where /proc gives no stat
// line (a made-up tree), a process whose folder is there is taken as alive.
std::optional<TStaleLock::TWhy> NoHolder(const TPortPlaces& places, std::int64_t pid) {
    const std::string folder = places.Proc + "/" + std::to_string(pid);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return TStaleLock::TWhy::NoProcess;
    }
    const auto line = ReadPlantedFile(folder + "/stat", ProcEntryLimit);
    const auto facts = line ? ParseProcStat(*line) : std::nullopt;
    if (facts && IsKernelThread(*facts)) {
        return TStaleLock::TWhy::KernelThread;
    }
    if (facts && HasEnded(*facts)) {
        return TStaleLock::TWhy::EndedProcess;
    }
    return std::nullopt;
}

// A lock file named after the device and what it says: a live holder's id, or why it holds
// nothing.
struct TLockFile {
    std::string File;
    std::int64_t Pid = 0;
    std::optional<TStaleLock::TWhy> Stale;
};

std::vector<TLockFile> LockFiles(const TPortPlaces& places, const std::string& devicePath) {
    std::vector<std::string> names{Basename(devicePath)};
    const std::string real = RealPath(devicePath);
    if (!real.empty() && Basename(real) != names.front()) {
        names.push_back(Basename(real));
    }
    std::vector<TLockFile> found;
    // /var/lock is mostly a link to /run/lock: each file once, under its first name.
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const std::string& dir : places.LockDirs) {
        for (const std::string& name : names) {
            TLockFile lock;
            lock.File = dir + "/LCK.." + name;
            struct stat st {};
            if (::lstat(lock.File.c_str(), &st) != 0 ||
                !seen.emplace(st.st_dev, st.st_ino).second) {
                continue;
            }
            const auto content = ReadPlantedFile(lock.File, LockFileLimit);
            if (!content) {
                lock.Stale =
                    S_ISREG(st.st_mode) ? TStaleLock::TWhy::Unreadable : TStaleLock::TWhy::NotAFile;
            } else if ((lock.Pid = LockFilePid(*content)) == 0) {
                lock.Stale = TStaleLock::TWhy::NoPid;
            } else {
                lock.Stale = NoHolder(places, lock.Pid);
            }
            found.push_back(std::move(lock));
        }
    }
    return found;
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
void FindLockFiles(TFound& found, const std::string& devicePath) {
    for (const TLockFile& lock : LockFiles(found.Places, devicePath)) {
        if (!lock.Stale) {
            AddHolder(found, lock.Pid, lock.File);
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
    const std::string locks =
        ReadPlantedFile(found.Places.Proc + "/locks", ListLimit).value_or(std::string());
    for (const std::string_view line : Lines(locks)) {
        const auto lock = ParseProcLocksLine(line);
        if (lock && lock->Major == ::major(st.st_dev) && lock->Minor == ::minor(st.st_dev) &&
            lock->Inode == st.st_ino) {
            AddHolder(found, lock->Pid);
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

std::optional<std::string> ReadPlantedFile(const std::string& path, std::size_t limit,
                                           bool followLink) {
    // Looked at by name first, so a device or a FIFO is not even opened; the descriptor is
    // looked at again, for a file replaced in between.
    struct stat named {};
    if ((followLink ? ::stat(path.c_str(), &named) : ::lstat(path.c_str(), &named)) != 0 ||
        !S_ISREG(named.st_mode)) {
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                            (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::string> content;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        content.emplace();
        char buffer[4096];
        while (content->size() < limit) {
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - content->size()));
            if (n > 0) {
                content->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                content.reset();
                break;
            }
        }
    }
    ::close(fd);
    return content;
}

std::string FirstLine(const std::string& path) {
    const std::string text = ReadPlantedFile(path, AttributeLimit).value_or(std::string());
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::vector<TPortHolder> FindPortHolders(const std::string& devicePath, TPortHoldScan scan,
                                         const TPortPlaces& places, std::int64_t ignorePid) {
    TFound found{places, ignorePid < 0 ? std::int64_t{::getpid()} : ignorePid, {}};
    const std::string real = RealPath(devicePath);
    FindLockFiles(found, devicePath);
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

std::vector<TStaleLock> FindStaleLocks(const std::string& devicePath, const TPortPlaces& places) {
    std::vector<TStaleLock> stale;
    for (const TLockFile& lock : LockFiles(places, devicePath)) {
        if (lock.Stale) {
            stale.push_back({lock.File, lock.Pid, *lock.Stale});
        }
    }
    return stale;
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
    const std::string data =
        ReadPlantedFile(places.UdevData + "/c" + majorMinor, ListLimit).value_or(std::string());
    for (const std::string_view line : Lines(data)) {
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
        // Links are followed (packages link rules files); a rule masked by a link to
        // /dev/null is no regular file and reads empty.
        const std::string rules = ReadPlantedFile(path, ListLimit, true).value_or(std::string());
        for (const std::string_view line : Lines(rules)) {
            if (RuleClaims(std::string(line), vendor, product)) {
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
