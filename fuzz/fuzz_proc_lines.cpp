// Any bytes as a line of /proc/locks, a /proc/<pid>/stat line and a status text, through
// the parsers the port facts use and through the bounded reader of /proc files.  Checks
// what must hold whatever the text: the reader takes the file up to its bound and no more,
// every number parsed is in its range, and what is parsed reads back the same when written
// out again in the kernel's own form.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PortHoldersLinux.h"
#include "ProcText.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
}

struct TProcFile {
    TProcFile() {
        char pattern[] = "/tmp/fuzz-proc-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            Broken("no temporary folder");
        }
        Folder = pattern;
        Path = Folder + "/stat";
    }
    ~TProcFile() { std::filesystem::remove_all(Folder); }
    std::string Folder, Path;
};

constexpr std::size_t Bound = 4096;

void CheckLocksLine(const std::string& line) {
    const auto lock = ParseProcLocksLine(line);
    if (!lock) {
        return;
    }
    if (lock->Pid != -1 && (lock->Pid < 1 || lock->Pid > 4194304)) {
        Broken("a lock's pid out of range");
    }
    char text[128];
    std::snprintf(text, sizeof text, "1: FLOCK  ADVISORY  WRITE %lld %02x:%02x:%llu 0 EOF",
                  static_cast<long long>(lock->Pid), lock->Major, lock->Minor,
                  static_cast<unsigned long long>(lock->Inode));
    const auto again = ParseProcLocksLine(text);
    if (!again || again->Pid != lock->Pid || again->Major != lock->Major ||
        again->Minor != lock->Minor || again->Inode != lock->Inode) {
        Broken("a lock line that does not read back");
    }
}

void CheckStatLine(const std::string& line) {
    const auto stat = ParseProcStat(line);
    if (!stat) {
        return;
    }
    const std::string again = "7 (x) y) " + std::string(1, stat->State) + " 1 1 1 0 -1 " +
                              std::to_string(stat->Flags) + " 0 0";
    const auto back = ParseProcStat(again);
    if (!back || back->State != stat->State || back->Flags != stat->Flags) {
        Broken("a stat line that does not read back");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TProcFile file;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file.Path, std::ios::binary | std::ios::trunc) << text;
    const auto read = ReadPlantedFile(file.Path, Bound);
    if (!read || *read != text.substr(0, Bound)) {
        Broken("a regular file not read up to its bound");
    }
    const std::string first = text.substr(0, text.find('\n'));
    if (FirstLine(file.Path).size() > std::min(first.size(), Bound)) {
        Broken("a first line longer than the file's");
    }
    for (std::size_t start = 0; start <= read->size();) {
        const std::size_t end = std::min(read->find('\n', start), read->size());
        const std::string line = read->substr(start, end - start);
        CheckLocksLine(line);
        CheckStatLine(line);
        start = end + 1;
    }
    if (const auto uid = StatusUid(*read); uid && *uid > 0xFFFFFFFFu) {
        Broken("a uid out of range");
    }
    return 0;
}
