#include "PortListLinux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <locale>

#include "ComMessages.h"
#include "PortHoldersLinux.h"
#include "PortList.h"

namespace {

// Reads the names in a folder; false when it cannot be read.
bool FolderNames(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return true;
}

// serial8250 registers a fixed number of ttyS slots whether or not a UART answers; the
// empty ones report port type 0 (unknown).
bool IsEmptyUartSlot(const std::string& entry) {
    return FirstLine(entry + "/type") == "0";
}

bool HasDevice(const std::string& entry) {
    struct stat st {};
    return ::lstat((entry + "/device").c_str(), &st) == 0;
}

// A link whose target is written as /dev/pts/N (or pts/N beside it) and is alive.
bool IsPtyLink(const std::string& devDir, const std::string& name) {
    const std::string link = devDir + "/" + name;
    struct stat st {};
    if (::lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return false;
    }
    char buffer[256];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return false;
    }
    std::string target(buffer, static_cast<std::size_t>(n));
    for (const char* prefix : {"/dev/pts/", "pts/"}) {
        const std::string p = prefix;
        if (target.compare(0, p.size(), p) == 0) {
            const std::string number = target.substr(p.size());
            if (number.empty() || !std::all_of(number.begin(), number.end(), [](char c) {
                    return std::isdigit(static_cast<unsigned char>(c)) != 0;
                })) {
                return false;
            }
            return ::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
        }
    }
    return false;
}

std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

} // namespace

void SortPortNames(std::vector<std::string>& names) {
    const std::locale loc = UserLocale();
    const auto& ctype = std::use_facet<std::ctype<char>>(loc);
    const auto& collate = std::use_facet<std::collate<char>>(loc);
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        std::string folded = name;
        ctype.tolower(folded.data(), folded.data() + folded.size());
        keyed.emplace_back(std::move(folded), std::move(name));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [&collate](const auto& a, const auto& b) {
        return collate.compare(a.first.data(), a.first.data() + a.first.size(), b.first.data(),
                               b.first.data() + b.first.size()) < 0;
    });
    names.clear();
    for (auto& entry : keyed) {
        names.push_back(std::move(entry.second));
    }
}

void ListSerialPortsIn(std::vector<std::string>& list, const std::string& sysClassTty,
                       const std::string& devDir) {
    std::vector<std::string> entries;
    if (!FolderNames(sysClassTty, entries)) {
        throw EComPort(15);
    }
    std::vector<std::string> found;
    for (const std::string& name : entries) {
        const std::string entry = sysClassTty + "/" + name;
        if (HasDevice(entry) && !IsEmptyUartSlot(entry)) {
            found.push_back(name);
        }
    }
    // A missing /dev only means there are no virtual ports.
    std::vector<std::string> links;
    if (FolderNames(devDir, links)) {
        for (const std::string& name : links) {
            if (IsPtyLink(devDir, name)) {
                found.push_back(name);
            }
        }
    }
    SortPortNames(found);
    list.swap(found);
}

void ListSerialPorts(std::vector<std::string>& list) {
    ListSerialPortsIn(list, "/sys/class/tty", "/dev");
}
