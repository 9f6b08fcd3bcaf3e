// What a waiting station costs: four usb-serial: positions whose adapters have been pulled,
// on a machine with many processes, the station's CPU time over some seconds
// (getrusage).  The adapters are made-up sysfs entries, as in the tests; the processes are
// real (sleeping children of this program), the machine's own /proc.
//
// Usage: bench_station_wait [seconds] [processes]   (defaults: 20 s, 2000)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Options.h"
#include "Station.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Adapter(const std::string& root, const TPortPlaces& places, const std::string& tty,
             const std::string& usb, const std::string& serial) {
    const fs::path device = fs::path(root) / "sys/devices/usb1" / usb;
    fs::create_directories(device);
    std::ofstream(device / "idVendor") << "0403\n";
    std::ofstream(device / "idProduct") << "6001\n";
    std::ofstream(device / "serial") << serial << "\n";
    const fs::path port = device / (usb + ":1.0") / tty;
    fs::create_directories(port);
    fs::create_directory_symlink(fs::path(root) / "sys/bus/drivers/ftdi_sio", port / "driver");
    const fs::path entry = fs::path(places.SysClassTty) / tty;
    fs::create_directories(entry);
    fs::create_directory_symlink(port, entry / "device");
    std::ofstream(places.DevDir + "/" + tty) << "";
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int processes = argc > 2 ? std::atoi(argv[2]) : 2000;
    char pattern[] = "/tmp/bench-wait-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    TPortPlaces places;
    places.SysClassTty = root + "/sys/class/tty";
    places.DevDir = root + "/dev";
    places.ById = root + "/dev/serial/by-id";
    fs::create_directories(places.ById);
    fs::create_directories(root + "/sys/bus/drivers/ftdi_sio");
    std::vector<std::string> args = {"--station", "--quiet"};
    for (int i = 0; i < 4; ++i) {
        const std::string serial = "TVX000" + std::to_string(i);
        Adapter(root, places, "ttyUSB" + std::to_string(i), "1-" + std::to_string(i + 1), serial);
        args.push_back("usb-serial:" + serial);
    }

    std::vector<pid_t> children;
    for (int i = 0; i < processes; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        if (pid > 0) {
            children.push_back(pid);
        }
    }

    std::atomic<bool> stop{false};
    const TCliParse parsed = ParseCliOptions(args);
    TStationEnv env;
    env.Places = places;
    env.Stop = [&] { return stop.load(); };
    env.Out = std::tmpfile();
    int code = -1;
    std::thread station([&] { code = RunStationCommand(parsed.Options, TReportForm::Plain, env); });
    // The adapters are pulled: every position waits for its port.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < 4; ++i) {
        fs::remove(places.DevDir + "/ttyUSB" + std::to_string(i));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double before = CpuSeconds();
    const auto began = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds() - before;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    stop = true;
    station.join();

    for (const pid_t pid : children) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    fs::remove_all(root);
    std::printf("four waiting usb-serial: positions, %zu more processes: %.3f s CPU in %.1f s, "
                "%.3f %% of one core (station exit %d)\n",
                children.size(), cpu, wall, 100.0 * cpu / wall, code);
    return 0;
}
