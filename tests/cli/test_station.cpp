// The station's parts on their own: a position's states, the record log, the firmware's
// digest, and a position named by its adapter's serial number through made-up port facts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FlashImage.h"
#include "MiniJson.h"
#include "Options.h"
#include "Sha256.h"
#include "SimProcess.h"
#include "Station.h"
#include "StationPosition.h"
#include "UnitRecord.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TTempDir {
    std::string Path;
    TTempDir() {
        char pattern[] = "/tmp/tarvex-station-XXXXXX";
        Path = ::mkdtemp(pattern);
    }
    ~TTempDir() { fs::remove_all(Path); }
};

TUnitRecord SomeRecord() {
    TUnitRecord r;
    r.Time = "2026-12-11T09:41:05+02:00";
    r.Position = "usb-serial:A1";
    r.Result.Port = "/dev/ttyUSB0";
    r.Result.Outcome = "flashed";
    r.Result.Messages = {"Мікропрограма, \"успішно\"\r\nзавантажена"};
    return r;
}

} // namespace

TEST(StationPosition, EachEventMovesThePositionAsTheBenchNeeds) {
    using E = TPositionEvent;
    using S = TPositionState;
    struct TCase {
        const char* What;
        std::vector<E> Events;
        S Ends;
    } cases[] = {
        {"a missing port keeps it waiting", {E::PortMissing, E::PortUnusable}, S::Waiting},
        {"an open port is probed", {E::PortOpened, E::Unanswered, E::Unanswered}, S::Probing},
        {"a bootloader's answer starts the flash", {E::PortOpened, E::Answered}, S::Writing},
        {"nothing ends a flash but its record",
         {E::PortOpened, E::Answered, E::PortMissing, E::PortLost, E::Unanswered},
         S::Writing},
        {"a recorded unit that still answers is left alone",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Answered, E::Unanswered, E::Answered,
          E::Unanswered, E::Answered, E::PortUnusable, E::PortOpened},
         S::Present},
        {"one lost probe is no departure",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Unanswered},
         S::Present},
        {"two unanswered probes: it has gone, the port stays",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Unanswered, E::Unanswered},
         S::Probing},
        {"gone with its port",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::PortMissing},
         S::Waiting},
        {"a port that failed has lost its unit, even if it is back at once",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::PortLost, E::PortOpened, E::Answered},
         S::Writing},
        {"a port lost while probing waits again", {E::PortOpened, E::PortLost}, S::Waiting},
        {"after a departure the next unit is flashed",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::PortMissing, E::PortOpened, E::Answered},
         S::Writing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TPositionMachine machine;
        for (const E e : c.Events) {
            machine.On(e);
        }
        EXPECT_EQ(machine.State(), c.Ends);
    }
    TPositionMachine machine;
    EXPECT_FALSE(machine.On(E::PortMissing));
    EXPECT_TRUE(machine.On(E::PortOpened));
    EXPECT_STREQ(PositionStateName(machine.State()), "probing");
}

TEST(StationRecord, Sha256KnownDigests) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(StationRecord, ATornLastLineIsEndedNeverMergedWithTheNextRecord) {
    struct TCase {
        const char* Name;
        std::string Before;
        std::string Repair; // what comes between the old bytes and the next record
        bool Header;
    } cases[] = {
        {"units.csv", "", "", true},
        {"units.csv", "\xEF\xBB\xBFtime\r\n", "", false},
        {"units.csv", "\xEF\xBB\xBFtime\r\n2026-12-11,pos,", "\r\n", false},
        {"units.csv", "\xEF\xBB\xBFtime\r\n2026-12-11,pos,\"Мікропро", "\"\r\n", false},
        {"units.jsonl", "", "", false},
        {"units.jsonl", "{\"event\":\"unit\"}\n{\"event\":\"un", "\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name + (" after " + c.Before));
        TTempDir dir;
        const std::string path = dir.Path + "/" + c.Name;
        if (!c.Before.empty()) {
            std::ofstream(path, std::ios::binary) << c.Before;
        }
        std::string error;
        {
            const auto log = TRecordLog::Open(path, error);
            ASSERT_TRUE(log) << error;
            ASSERT_TRUE(log->Append(SomeRecord(), error)) << error;
        }
        const bool csv = std::string(c.Name).ends_with(".csv");
        const std::string record =
            csv ? CsvRow(SomeRecord()) : UnitRecordObject(SomeRecord(), "unit").Text() + "\n";
        const std::string header = c.Header ? "\xEF\xBB\xBF" + CsvHeader() : "";
        EXPECT_EQ(ReadFile(path), c.Before + header + c.Repair + record);
        if (!csv) {
            const TJson parsed = TJsonReader::Parse(record.substr(0, record.size() - 1));
            EXPECT_EQ(parsed["position"].String, "usb-serial:A1");
        }
    }
    // A record's message keeps its quotes, with its line breaks made one line.
    EXPECT_TRUE(
        CsvRow(SomeRecord()).ends_with(",\"Мікропрограма, \"\"успішно\"\" / завантажена\"\r\n"));
}

TEST(StationRecord, ALogIsHeldByOneStation) {
    TTempDir dir;
    std::string error;
    const auto first = TRecordLog::Open(dir.Path + "/units.csv", error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(TRecordLog::Open(dir.Path + "/units.csv", error));
    EXPECT_NE(error.find("held open by another station"), std::string::npos) << error;
}

// Made-up port facts: two FTDI adapters on USB, the first one's /dev node a link to a
// simulated instrument.
class UsbSerialPosition : public ::testing::Test {
protected:
    void SetUp() override {
        Places.SysClassTty = Dir.Path + "/sys/class/tty";
        Places.DevDir = Dir.Path + "/dev";
        Places.ById = Dir.Path + "/dev/serial/by-id";
        fs::create_directories(Places.ById);
        fs::create_directories(Dir.Path + "/sys/bus/drivers/ftdi_sio");
    }
    void Adapter(const std::string& tty, const std::string& usb, const std::string& serial) {
        const fs::path device = fs::path(Dir.Path) / "sys/devices/usb1" / usb;
        for (const auto& [file, text] : {std::pair<std::string, std::string>{"idVendor", "0403"},
                                         {"idProduct", "6001"},
                                         {"manufacturer", "FTDI"},
                                         {"product", "FT232R USB UART"},
                                         {"serial", serial}}) {
            fs::create_directories(device);
            std::ofstream(device / file) << text << "\n";
        }
        const fs::path port = device / (usb + ":1.0") / tty;
        fs::create_directories(port);
        fs::create_directory_symlink(fs::path(Dir.Path) / "sys/bus/drivers/ftdi_sio",
                                     port / "driver");
        const fs::path entry = fs::path(Places.SysClassTty) / tty;
        fs::create_directories(entry);
        fs::create_directory_symlink(port, entry / "device");
    }
    int Run(const std::vector<std::string>& args, const std::function<bool()>& stop) {
        const TCliParse parsed = ParseCliOptions(args);
        EXPECT_TRUE(parsed.Ok) << parsed.Error;
        TStationEnv env;
        env.Places = Places;
        env.Stop = stop;
        Out = std::tmpfile();
        Err = std::tmpfile();
        env.Out = Out;
        env.Err = Err;
        const int code = RunStationCommand(parsed.Options, TReportForm::Plain, env);
        std::rewind(Err);
        char text[4096] = {};
        ErrText = std::string(text, std::fread(text, 1, sizeof text - 1, Err));
        std::fclose(Out);
        std::fclose(Err);
        return code;
    }

    TTempDir Dir;
    TPortPlaces Places;
    std::FILE* Out = nullptr;
    std::FILE* Err = nullptr;
    std::string ErrText;
};

TEST_F(UsbSerialPosition, TheAdapterWithTheNumberIsFlashedWhateverItsPortIsCalled) {
    TSimProcess sim({"--geometry", "1,64,4"});
    Adapter("ttyUSB7", "1-1", "TVX0042");
    Adapter("ttyUSB3", "1-2", "OTHER01");
    fs::create_symlink(sim.PtyPath(), Places.DevDir + "/ttyUSB7");
    std::ofstream(Places.DevDir + "/ttyUSB3") << "";
    ASSERT_EQ(PortsWithSerialNumber("TVX0042", Places),
              std::vector<std::string>{Places.DevDir + "/ttyUSB7"});

    const std::string log = Dir.Path + "/units.jsonl";
    const int code = Run({"--station", "--quiet", "--log", log, "usb-serial:TVX0042"},
                         [&] { return ReadFile(log).find('\n') != std::string::npos; });
    EXPECT_EQ(code, 0) << ErrText;
    const std::string record = ReadFile(log);
    ASSERT_FALSE(record.empty());
    const TJson r = TJsonReader::Parse(record.substr(0, record.find('\n')));
    EXPECT_EQ(r["outcome"].String, "flashed");
    EXPECT_EQ(r["position"].String, "usb-serial:TVX0042");
    EXPECT_EQ(r["port"].String, Places.DevDir + "/ttyUSB7");
    EXPECT_EQ(r["usb_serial_number"].String, "TVX0042");
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("erases"), 4);
}

TEST_F(UsbSerialPosition, ANumberOnTwoPortsOrOnNoneIsRefusedAtStart) {
    Adapter("ttyUSB7", "1-1", "TVX0042");
    Adapter("ttyUSB8", "1-2", "TVX0042");
    std::ofstream(Places.DevDir + "/ttyUSB7") << "";
    std::ofstream(Places.DevDir + "/ttyUSB8") << "";
    struct TCase {
        const char* Position;
        const char* Says;
    } cases[] = {
        {"usb-serial:TVX0042", "2 ports have the USB serial number TVX0042"},
        {"usb-serial:TVX0099", "no port has the USB serial number TVX0099"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Position);
        EXPECT_EQ(Run({"--station", "--quiet", c.Position}, [] { return false; }), 1);
        EXPECT_NE(ErrText.find(c.Says), std::string::npos) << ErrText;
    }
}
