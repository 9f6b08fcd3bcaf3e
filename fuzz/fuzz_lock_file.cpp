// Any bytes as a UUCP lock file named after a port, read as the port listing and the serial
// component read it, against a made-up /proc of four processes: 100 and 400 alive, 200 a
// kernel thread, 300 a zombie.  Checks what must hold whatever the file says: it is read no
// further than its bound, and it is exactly one of a live holder and a stale lock, with the
// reason its bytes and that /proc give.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
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

// A lock folder and a /proc of this process's own; the device itself need not exist.
struct TTree {
    TTree() {
        char pattern[] = "/tmp/fuzz-lock-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            Broken("no temporary folder");
        }
        Root = pattern;
        Places.LockDirs = {Root + "/lock"};
        Places.Proc = Root + "/proc";
        std::filesystem::create_directories(Places.LockDirs[0]);
        Process(100, "");
        Process(200, "200 (kthreadd) S 0 0 0 0 -1 2129984 0 0");
        Process(300, "300 (gone) Z 1 1 1 0 -1 4227332 0 0");
        Process(400, "400 (minicom) S 1 400 400 0 -1 4194560 0 0");
    }
    ~TTree() { std::filesystem::remove_all(Root); }
    void Process(int pid, const std::string& stat) const {
        const std::string folder = Places.Proc + "/" + std::to_string(pid);
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/comm") << "p" << pid << "\n";
        if (!stat.empty()) {
            std::ofstream(folder + "/stat") << stat << "\n";
        }
    }
    std::string Root;
    TPortPlaces Places;
};

const std::string Device = "/nonexistent/ttyFUZZ";
constexpr std::size_t LockFileBound = 64; // what the reader takes of a lock file

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TTree tree;
    const std::string content(reinterpret_cast<const char*>(data), size);
    const std::string file = tree.Places.LockDirs[0] + "/LCK..ttyFUZZ";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;

    const auto read = ReadPlantedFile(file, LockFileBound);
    if (!read || *read != content.substr(0, LockFileBound)) {
        Broken("a regular lock file not read up to its bound");
    }
    const std::int64_t pid = LockFilePid(*read);
    if (pid < 0 || pid > 4194304) {
        Broken("a pid out of range");
    }
    const auto holders = FindPortHolders(Device, TPortHoldScan::Locks, tree.Places, 0);
    const auto stale = FindStaleLocks(Device, tree.Places);
    if (holders.size() + stale.size() != 1) {
        Broken("a lock file neither held nor stale, or both");
    }
    using TWhy = TStaleLock::TWhy;
    const TWhy why = pid == 0     ? TWhy::NoPid
                     : pid == 200 ? TWhy::KernelThread
                     : pid == 300 ? TWhy::EndedProcess
                                  : TWhy::NoProcess;
    if (pid == 100 || pid == 400) {
        if (holders.empty() || holders[0].Pid != pid || holders[0].LockFile != file ||
            holders[0].Program != "p" + std::to_string(pid)) {
            Broken("a live process's lock without its holder");
        }
    } else if (stale.empty() || stale[0].File != file || stale[0].Why != why ||
               stale[0].Pid != pid) {
        Broken("a stale lock that says another thing than its bytes");
    }
    return 0;
}
