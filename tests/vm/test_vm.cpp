// tarvex6-flash through real kernel drivers: a QEMU guest (Debian's kernel and modules, TCG)
// whose second 8250 UART and an FT232 on QEMU's xHCI (ftdi_sio) are each wired to an
// instrument simulator on this machine.  The guest only runs commands; what they show is
// judged here, beside what each simulator received and recorded.  The guest's findings
// (drivers, latency values, tty names) are printed as "guest:" lines.  The tests run in the
// order written: the writes end the first FT232 plug, the station makes its own.
//
// Exits 77 (skipped) where QEMU cannot be started at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "BuiltinFirmware.h"
#include "FlashImage.h"
#include "Guest.h"
#include "MiniJson.h"
#include "QuietHost.h"
#include "SimProcess.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Small geometries keep each write some seconds long under TCG, long enough to be looked at
// while it runs; a unit cut off in its write gets twice as much, so that it is surely cut in
// the middle.
const char* const Geometry = "1,64,256";
constexpr std::size_t GeometryBytes = 64 * 256;
const char* const LongGeometry = "1,64,512";
const char* const AdapterSerial = "TX6A0001";

struct TBench {
    fs::path Dir;
    std::unique_ptr<TSimProcess> Uart;     // behind ttyS1
    std::unique_ptr<TSimProcess> Ftdi;     // behind the FT232 as the guest boots
    std::unique_ptr<TSimProcess> Units[3]; // the station's units, one FT232 plug each
    std::unique_ptr<TGuest> Guest;
};

TBench* Bench = nullptr;

// The first bytes of the image the program writes, as the simulator must hold them.
std::string ExpectedFlash(std::size_t count) {
    TQuietHost host;
    TProgramState state;
    host.Terminal.SetText(std::string(BuiltinFirmwareText()));
    if (!PrepareFlashImage(host, state)) {
        throw std::runtime_error("the built-in firmware did not build");
    }
    std::string bytes;
    for (std::size_t a = 0; a < count; ++a) {
        bytes += static_cast<char>(std::stoi(state.FlashImage.substr(2 * a, 2), nullptr, 16));
    }
    return bytes;
}

std::vector<TJson> JsonLines(const std::string& text) {
    std::vector<TJson> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '{') {
            lines.push_back(TJsonReader::Parse(line));
        }
    }
    return lines;
}

// "key value" lines as the guest's probes print them; a key that is not there fails the test
// with the text it was looked for in.
class TFacts {
public:
    TFacts() = default;
    explicit TFacts(std::string text) : Text(std::move(text)) {
        std::istringstream in(Text);
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t space = line.find(' ');
            if (space != std::string::npos) {
                Values[line.substr(0, space)] = line.substr(space + 1);
            }
        }
    }
    std::string operator[](const std::string& key) const {
        const auto it = Values.find(key);
        if (it == Values.end()) {
            ADD_FAILURE() << "no " << key << " in:\n" << Text;
            return "?";
        }
        return it->second;
    }

private:
    std::string Text;
    std::map<std::string, std::string> Values;
};

void Report(const std::string& what) {
    std::cout << "guest: " << what << std::endl;
}

TGuest::TResult InGuest(const std::string& command, std::chrono::seconds limit = 60s) {
    TGuest::TResult r = Bench->Guest->Run(command, limit);
    EXPECT_NE(r.Status, -1) << "no end in time: " << command << "\n" << r.Output;
    return r;
}

// Waits until the guest's kernel has as many FT232 ttys as `count`: a plug or a pull has
// reached the guest's driver.
void WaitForAdapters(int count) {
    const auto r = InGuest("for i in $(seq 1200); do [ $(ls /sys/bus/usb-serial/devices | wc -l) "
                           "-eq " +
                               std::to_string(count) + " ] && exit 0; usleep 100000; done; exit 1",
                           150s);
    ASSERT_EQ(r.Status, 0) << "the FT232 did not come or go: " << r.Output;
}

void Plug(const std::string& chardev) {
    const std::string answer = Bench->Guest->Monitor(
        "device_add usb-serial,id=ftdi,bus=xhci.0,chardev=" + chardev + ",serial=" + AdapterSerial);
    EXPECT_EQ(answer.find("rror"), std::string::npos) << answer;
}

void Unplug() {
    const std::string answer = Bench->Guest->Monitor("device_del ftdi");
    EXPECT_EQ(answer.find("rror"), std::string::npos) << answer;
}

class TVmEnvironment : public testing::Environment {
public:
    void SetUp() override {
        Bench = new TBench;
        Bench->Dir = fs::temp_directory_path() / ("tarvex-vm-" + std::to_string(::getpid()));
        fs::create_directories(Bench->Dir);
        const std::string make = std::string(TARVEX_VM_DIR "/make-guest.sh ") +
                                 Bench->Dir.string() +
                                 " " TARVEX_FLASH_PATH " " TARVEX_PROBE_PATHS " >" +
                                 (Bench->Dir / "kernel.txt").string();
        ASSERT_EQ(std::system(make.c_str()), 0) << make;

        Bench->Uart =
            std::make_unique<TSimProcess>(std::vector<std::string>{"--geometry", Geometry});
        Bench->Ftdi =
            std::make_unique<TSimProcess>(std::vector<std::string>{"--geometry", Geometry});
        const char* unitGeometry[3] = {Geometry, LongGeometry, Geometry};
        for (int i = 0; i < 3; ++i) {
            Bench->Units[i] = std::make_unique<TSimProcess>(
                std::vector<std::string>{"--geometry", unitGeometry[i]});
        }
        std::vector<std::string> devices = {
            "-chardev", "serial,id=uart,path=" + Bench->Uart->PtyPath(),
            "-serial",  "chardev:uart",
            "-device",  "qemu-xhci,id=xhci",
            "-chardev", "serial,id=ftdi0,path=" + Bench->Ftdi->PtyPath()};
        for (int i = 0; i < 3; ++i) {
            devices.insert(devices.end(), {"-chardev", "serial,id=unit" + std::to_string(i + 1) +
                                                           ",path=" + Bench->Units[i]->PtyPath()});
        }
        devices.insert(devices.end(), {"-device", std::string("usb-serial,id=ftdi,bus=xhci.0,") +
                                                      "chardev=ftdi0,serial=" + AdapterSerial});
        const auto start = std::chrono::steady_clock::now();
        try {
            Bench->Guest = std::make_unique<TGuest>(Bench->Dir.string(), devices, 240s);
        } catch (const std::exception& e) {
            FAIL() << e.what(); // a fatal failure here runs no test
        }
        WaitForAdapters(1);
        Report("booted in " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count()) +
               " s");
    }

    void TearDown() override {
        const fs::path dir = Bench->Dir;
        delete Bench;
        Bench = nullptr;
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// One write with the low-latency state sampled before it, during its write phase and after.
struct TSampledWrite {
    std::string Output;
    TFacts Before, During, After;
};

TSampledWrite WriteAndSample(const std::string& port) {
    // serial_flags reads the driver's flag; an FT232's sysfs also has the timer it sets.
    const std::string sample = "serial_flags /dev/" + port + "; f=/sys/class/tty/" + port +
                               "/device/latency_timer; " +
                               "[ -e $f ] && echo latency_timer $(cat $f)";
    TSampledWrite w;
    w.Before = TFacts(InGuest(sample).Output);
    const auto start = InGuest("tarvex6-flash --json " + port +
                               " >/tmp/write.out 2>&1 & echo $! >/tmp/write.pid; "
                               "wait-lines /tmp/write.out '\"phase\":\"write\"' 1 120");
    EXPECT_EQ(start.Status, 0) << start.Output;
    w.During = TFacts(InGuest(sample).Output);
    const auto end =
        InGuest("while kill -0 $(cat /tmp/write.pid) 2>/dev/null; do usleep 50000; done; "
                "cat /tmp/write.out",
                180s);
    w.Output = end.Output;
    w.After = TFacts(InGuest(sample).Output);
    return w;
}

} // namespace

TEST(VmGuest, PortFactsOfTheRealDevicesAsTheKernelGivesThem) {
    // What the kernel says, read straight from sysfs.
    const std::string sysfs =
        "for p in ttyS1 ttyUSB0; do d=/sys/class/tty/$p/device; "
        "echo $p.driver $(basename $(readlink $d/driver)); done; "
        "u=$(readlink -f /sys/class/tty/ttyUSB0/device/../..); "
        "echo ttyUSB0.manufacturer $(cat $u/manufacturer); echo ttyUSB0.product $(cat $u/product); "
        "echo ttyUSB0.serial $(cat $u/serial); "
        "echo ttyUSB0.latency $(cat /sys/class/tty/ttyUSB0/device/latency_timer)";
    const auto kernel = TFacts(InGuest(sysfs).Output);
    EXPECT_EQ(kernel["ttyUSB0.driver"], "ftdi_sio");
    EXPECT_EQ(kernel["ttyUSB0.serial"], AdapterSerial);
    Report("ttyS1 driver " + kernel["ttyS1.driver"] + "; ttyUSB0 driver " +
           kernel["ttyUSB0.driver"] + ", " + kernel["ttyUSB0.manufacturer"] + " " +
           kernel["ttyUSB0.product"] + ", serial number " + kernel["ttyUSB0.serial"] +
           ", latency timer " + kernel["ttyUSB0.latency"] + " ms");

    const auto list = InGuest("tarvex6-flash --list --json");
    ASSERT_EQ(list.Status, 0) << list.Output;
    std::map<std::string, TJson> ports;
    for (const TJson& line : JsonLines(list.Output)) {
        ports[line["port"].String] = line;
    }
    ASSERT_EQ(ports.count("ttyS1"), 1u) << list.Output;
    ASSERT_EQ(ports.count("ttyUSB0"), 1u) << list.Output;
    EXPECT_EQ(ports["ttyS1"]["driver"].String, kernel["ttyS1.driver"]);
    const TJson& usb = ports["ttyUSB0"];
    EXPECT_EQ(usb["driver"].String, "ftdi_sio");
    EXPECT_EQ(usb["manufacturer"].String, kernel["ttyUSB0.manufacturer"]);
    EXPECT_EQ(usb["product"].String, kernel["ttyUSB0.product"]);
    EXPECT_EQ(usb["serial_number"].String, AdapterSerial);
    EXPECT_EQ(usb["vendor_id"].String, "0403");
    EXPECT_EQ(usb["product_id"].String, "6001");
    EXPECT_EQ(std::to_string(usb["latency_timer_ms"].Int()), kernel["ttyUSB0.latency"]);

    // The window's tool tip line for the same ports.
    const auto window = InGuest("port_facts ttyS1 ttyUSB0");
    ASSERT_EQ(window.Status, 0) << window.Output;
    EXPECT_NE(window.Output.find("ttyS1: драйвер " + kernel["ttyS1.driver"]), std::string::npos)
        << window.Output;
    for (const std::string& fact :
         std::vector<std::string>{"ttyUSB0: драйвер ftdi_sio", kernel["ttyUSB0.product"],
                                  "USB 0403:6001", "серійний номер TX6A0001"}) {
        EXPECT_NE(window.Output.find(fact), std::string::npos) << fact << "\n" << window.Output;
    }
}

TEST(VmGuest, AUartHeldByAPlainProgramIsBusyAndItsHolderNamed) {
    const auto r = InGuest("sleep 600 </dev/ttyS1 & h=$!; echo holder $h; "
                           "tarvex6-flash --identify ttyS1; echo status $?; kill $h");
    const auto facts = TFacts(r.Output);
    EXPECT_EQ(facts["status"], "6") << r.Output;
    EXPECT_NE(r.Output.find("Порт зайнятий іншою програмою"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("sleep"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find(facts["holder"]), std::string::npos) << r.Output;
    Report("ttyS1 held by sleep (process " + facts["holder"] + "): refused as busy");
}

TEST(VmGuest, AWholeWriteThroughEachDriverWithLowLatencyDuringIt) {
    const struct {
        const char* port;
        TSimProcess* sim;
        bool usb;
    } cases[] = {{"ttyS1", Bench->Uart.get(), false}, {"ttyUSB0", Bench->Ftdi.get(), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const TSampledWrite w = WriteAndSample(c.port);
        const auto lines = JsonLines(w.Output);
        ASSERT_FALSE(lines.empty()) << w.Output;
        EXPECT_EQ(lines.back()["event"].String, "result") << w.Output;
        EXPECT_EQ(lines.back()["exit_code"].Int(), 0) << w.Output;

        EXPECT_EQ(w.Before["low_latency"], "0");
        EXPECT_EQ(w.During["low_latency"], "1");
        EXPECT_EQ(w.After["low_latency"], "0");
        if (c.usb) {
            EXPECT_EQ(w.During["latency_timer"], "1");
            EXPECT_EQ(w.After["latency_timer"], w.Before["latency_timer"]);
        }
        Report(std::string(c.port) + ": low_latency " + w.Before["low_latency"] + " -> " +
               w.During["low_latency"] + " -> " + w.After["low_latency"] +
               (c.usb ? ", latency_timer " + w.Before["latency_timer"] + " -> " +
                            w.During["latency_timer"] + " -> " + w.After["latency_timer"]
                      : std::string()));

        c.sim->Stop(); // which also pulls the FT232: QEMU detaches it when its line closes
        EXPECT_EQ(c.sim->SummaryCount("bad sums"), 0);
        EXPECT_EQ(c.sim->SummaryCount("resets"), 2);
        EXPECT_TRUE(c.sim->Flash() == ExpectedFlash(GeometryBytes)) << "flash differs";
    }
}

TEST(VmGuest, AStationReArmsWhenTheAdapterIsPluggedBackWithTheNextUnit) {
    const std::string current = "echo tty $(ls /sys/bus/usb-serial/devices)";
    Unplug();
    WaitForAdapters(0);
    Plug("unit1");
    WaitForAdapters(1);
    const auto station =
        InGuest(std::string("tarvex6-flash --station --json --quiet --log /tmp/units.jsonl "
                            "usb-serial:") +
                AdapterSerial + " >/tmp/station.out 2>&1 & echo $! >/tmp/station.pid");
    ASSERT_EQ(station.Status, 0);
    ASSERT_EQ(InGuest("wait-lines /tmp/units.jsonl '\"event\"' 1 120", 130s).Status, 0)
        << InGuest("cat /tmp/station.out").Output;
    const std::string firstTty = TFacts(InGuest(current).Output)["tty"];

    // The next unit, pulled with its adapter in the middle of its write.
    Unplug();
    Plug("unit2");
    const auto writing =
        InGuest("wait-lines /tmp/station.out '\"phase\":\"write\"' "
                "$(( $(grep -c -F '\"phase\":\"write\"' /tmp/station.out) + 20 )) 120",
                130s);
    ASSERT_EQ(writing.Status, 0) << InGuest("cat /tmp/station.out").Output;
    Unplug();
    ASSERT_EQ(InGuest("wait-lines /tmp/units.jsonl '\"event\"' 2 60", 70s).Status, 0)
        << InGuest("cat /tmp/station.out").Output;

    // The adapter plugged back with a third unit.
    Plug("unit3");
    ASSERT_EQ(InGuest("wait-lines /tmp/units.jsonl '\"event\"' 3 120", 130s).Status, 0)
        << InGuest("cat /tmp/station.out").Output;
    const std::string thirdTty = TFacts(InGuest(current).Output)["tty"];
    InGuest("kill -INT $(cat /tmp/station.pid); while kill -0 $(cat /tmp/station.pid) 2>/dev/null; "
            "do usleep 50000; done");

    const auto records = JsonLines(InGuest("cat /tmp/units.jsonl").Output);
    ASSERT_EQ(records.size(), 3u);
    const char* outcomes[3] = {"flashed", "serial-error", "flashed"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i]["usb_serial_number"].String, AdapterSerial) << i + 1;
        EXPECT_EQ(records[i]["outcome"].String, outcomes[i]) << i + 1;
    }
    EXPECT_EQ(records[0]["port"].String, "/dev/" + firstTty);
    EXPECT_EQ(records[2]["port"].String, "/dev/" + thirdTty);
    EXPECT_EQ(thirdTty, firstTty) << "the re-plugged adapter got another name: the old one was "
                                     "still held";
    Report("station units on " + records[0]["port"].String + ", " + records[1]["port"].String +
           " (pulled: " + records[1]["outcome"].String + "), " + records[2]["port"].String);

    for (int i = 0; i < 3; ++i) {
        Bench->Units[i]->Stop();
    }
    EXPECT_TRUE(Bench->Units[0]->Flash() == ExpectedFlash(GeometryBytes));
    EXPECT_TRUE(Bench->Units[2]->Flash() == ExpectedFlash(GeometryBytes));
    EXPECT_GT(Bench->Units[1]->SummaryCount("writes"), 0);
    EXPECT_FALSE(Bench->Units[1]->Flash() == ExpectedFlash(64 * 512)) << "the pull came too late";
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string why;
    if (!QemuCanStart(why)) {
        std::cout << "SKIPPED: " << why << std::endl;
        return 77;
    }
    testing::AddGlobalTestEnvironment(new TVmEnvironment);
    return RUN_ALL_TESTS();
}
