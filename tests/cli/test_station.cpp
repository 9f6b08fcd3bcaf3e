// The station's parts on their own: a position's states, the record log, the firmware's
// digest, and a position named by its adapter's serial number through made-up port facts.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>

#include "FlashImage.h"
#include "MiniJson.h"
#include "Options.h"
#include "RecordingComOs.h"
#include "Sha256.h"
#include "SimProcess.h"
#include "Station.h"
#include "StationCore.h"
#include "StationPosition.h"
#include "StationProbe.h"
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

const std::string Header = "\xEF\xBB\xBF" + CsvHeader();

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
        {"an open port is probed", {E::PortOpened, E::Silent, E::Heard, E::Silent}, S::Probing},
        {"a bootloader's answer starts the flash", {E::PortOpened, E::Answered}, S::Writing},
        {"nothing ends a flash but its record",
         {E::PortOpened, E::Answered, E::PortMissing, E::PortLost, E::DeviceChanged, E::Silent},
         S::Writing},
        {"a recorded unit that still answers is left alone",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Answered, E::Silent, E::Answered,
          E::Silent, E::Answered, E::PortUnusable, E::PortOpened},
         S::Present},
        {"some silent probes are no departure",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Silent, E::Silent, E::Silent},
         S::Present},
        {"a slow or garbled unit never leaves: what it says breaks the silence",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Silent, E::Silent, E::Silent, E::Heard,
          E::Silent, E::Silent, E::Silent, E::Heard, E::Heard},
         S::Present},
        {"seconds of silence: it has gone, the port stays",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::Silent, E::Silent, E::Silent, E::Silent},
         S::Probing},
        {"gone with its port",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::PortMissing},
         S::Waiting},
        {"another device behind the port is another unit",
         {E::PortOpened, E::Answered, E::UnitRecorded, E::DeviceChanged, E::PortOpened,
          E::Answered},
         S::Writing},
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

TEST(StationProbe, AComponentThatCouldNotCloseIsThrownAwayAndTheNextOpenReallyOpens) {
    std::vector<std::vector<std::string>> ended(3);
    std::vector<RecordingComOs*> made;
    TStationProbe probe(12, [&] {
        auto os = std::make_unique<RecordingComOs>();
        os->CallsAtEnd = &ended[made.size()];
        made.push_back(os.get());
        return std::make_unique<TBComPort>(std::move(os));
    });
    probe.Open("COM9");
    ASSERT_TRUE(probe.IsOpen());
    // The adapter was pulled: the modem lines and the purge fail, and Close raises.
    made.back()->Failing = {"Escape", "Purge"};
    probe.Close();
    EXPECT_FALSE(probe.IsOpen());
    ASSERT_EQ(made.size(), 2u);
    // The old component's device was closed when it went, not left to a later Close.
    EXPECT_NE(std::find(ended[0].begin(), ended[0].end(), "CloseDevice"), ended[0].end());
    // The next unit's port is opened anew.
    probe.Open("COM9");
    const auto calls = made.back()->CallsNow();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "OpenDevice COM9"), calls.end());
    probe.Close();
    EXPECT_EQ(made.size(), 2u); // a Close that succeeds keeps the component
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
        {"units.csv", Header, "", false},
        {"units.csv", Header + "2026-12-11,pos,", "\r\n", false},
        {"units.csv", Header + "2026-12-11,pos,\"Мікропро", "\"\r\n", false},
        {"units.jsonl", "", "", false},
        {"units.jsonl", "{\"event\":\"unit\",\"a\":1}\n{\"event\":\"un", "\n", false},
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
            std::string notice;
            ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
        }
        const bool csv = std::string(c.Name).ends_with(".csv");
        // A new log takes the user's separators; one that exists keeps its own.
        TCsvDialect dialect = UserCsvDialect();
        if (!c.Header) {
            dialect = {',', '.'};
        }
        const std::string record = csv ? CsvRow(SomeRecord(), dialect)
                                       : UnitRecordObject(SomeRecord(), "unit").Text() + "\n";
        const std::string header = c.Header ? "\xEF\xBB\xBF" + CsvHeader(dialect) : "";
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

TEST(StationRecord, TextsStayTextsInASpreadsheetAndNumbersFollowTheSeparators) {
    TUnitRecord r = SomeRecord();
    r.Result.Identified = true;
    r.Result.Geometry.LoaderVersion = "02";
    r.UsbSerialNumber = "0001";
    r.Result.InstalledVersion = "1.10";
    r.Result.Last.Elapsed = 12.5;
    r.Position = "=HYPERLINK(\"x\")";
    r.Result.Messages = {"-5", "ok; fine"};
    const auto fields = [](const std::string& row, char separator) {
        std::vector<std::string> out(1);
        bool quoted = false;
        for (const char c : row.substr(0, row.size() - 2)) {
            if (c == '"') {
                quoted = !quoted;
            }
            if (c == separator && !quoted) {
                out.emplace_back();
            } else {
                out.back() += c;
            }
        }
        return out;
    };
    struct TCase {
        TCsvDialect Dialect;
        const char* Seconds;
        const char* Message;
    } cases[] = {
        {{',', '.'}, "12.500", "'-5 / ok; fine"},
        {{';', ','}, "12,500", "\"'-5 / ok; fine\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Dialect.Separator);
        const std::string header = CsvHeader(c.Dialect);
        EXPECT_EQ(fields(header, c.Dialect.Separator).size(), 23u) << header;
        const auto row = fields(CsvRow(r, c.Dialect), c.Dialect.Separator);
        ASSERT_EQ(row.size(), 23u);
        EXPECT_EQ(row[1], "\"'=HYPERLINK(\"\"x\"\")\""); // shown, never run
        EXPECT_EQ(row[3], "\"=\"\"0001\"\"\"");          // ="0001": text, not 1
        EXPECT_EQ(row[4], "\"=\"\"02\"\"\"");
        EXPECT_EQ(row[8], "\"=\"\"1.10\"\"\""); // not a date
        EXPECT_EQ(row[13], c.Seconds);          // a number in the user's form
        // The messages join into one field, which begins with a minus: kept as text.
        EXPECT_EQ(row[22], c.Message);
    }
}

// A made-up full disk: the process may not make a file longer than `bytes`.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Saved);
        OldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = Saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Saved);
        ::signal(SIGXFSZ, OldHandler);
    }

private:
    rlimit Saved{};
    void (*OldHandler)(int) = nullptr;
};

TEST(StationRecord, ARecordThatDoesNotFitLeavesTheLogAsItWasAndTheNextStartsItsOwnLine) {
    for (const char* name : {"units.csv", "units.jsonl"}) {
        SCOPED_TRACE(name);
        TTempDir dir;
        const std::string path = dir.Path + "/" + name;
        std::string error, notice;
        const auto log = TRecordLog::Open(path, error);
        ASSERT_TRUE(log) << error;
        ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
        const std::string before = ReadFile(path);
        {
            // Room for half a record: the write takes what fits, then fails.
            const TFileSizeLimit full(before.size() + 40);
            EXPECT_FALSE(log->Append(SomeRecord(), error, notice));
        }
        EXPECT_NE(error.find("cannot write the log"), std::string::npos) << error;
        EXPECT_EQ(ReadFile(path), before);
        // Room again: the next record is whole, on a line of its own.
        ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
        const std::string after = ReadFile(path);
        ASSERT_GT(after.size(), before.size());
        const std::string added = after.substr(before.size());
        EXPECT_EQ(added, std::string(name).ends_with(".csv")
                             ? CsvRow(SomeRecord(), UserCsvDialect())
                             : UnitRecordObject(SomeRecord(), "unit").Text() + "\n");
        EXPECT_TRUE(notice.empty()) << notice;
    }
}

TEST(StationRecord, OnlyAFileOfTheStationsOwnIsTakenAndNothingElseIsTouched) {
    TTempDir dir;
    const std::string target = dir.Path + "/passwd";
    const std::string foreignCsv = "name,phone\r\n=1+1,0001\r\n\"open";
    std::ofstream(target, std::ios::binary) << foreignCsv;
    fs::create_symlink(target, dir.Path + "/linked.csv");
    fs::create_symlink(dir.Path + "/nowhere.csv", dir.Path + "/dangling.csv");
    fs::create_directory(dir.Path + "/folder.csv");
    ASSERT_EQ(::mkfifo((dir.Path + "/fifo.jsonl").c_str(), 0600), 0);
    std::ofstream(dir.Path + "/foreign.csv", std::ios::binary) << foreignCsv;
    std::ofstream(dir.Path + "/notes.jsonl", std::ios::binary) << "shopping list\n";
    std::ofstream(dir.Path + "/other.jsonl", std::ios::binary) << "{\"event\":\"result\"}\n";
    struct TCase {
        const char* Name;
        const char* Why;
    } refused[] = {
        {"linked.csv", "is a symbolic link"},
        {"dangling.csv", "is a symbolic link"},
        {"folder.csv", "is not a regular file"},
        {"fifo.jsonl", "is not a regular file"},
        {"foreign.csv", "was not written by a station"},
        {"notes.jsonl", "was not written by a station"},
        {"other.jsonl", "was not written by a station"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir.Path + "/" + c.Name;
        const auto mtime = fs::symlink_status(path).type() == fs::file_type::regular
                               ? fs::last_write_time(path)
                               : fs::file_time_type{};
        std::string error;
        EXPECT_FALSE(TRecordLog::Open(path, error));
        EXPECT_NE(error.find(c.Why), std::string::npos) << error;
        if (fs::symlink_status(path).type() == fs::file_type::regular) {
            EXPECT_EQ(fs::last_write_time(path), mtime);
        }
    }
    EXPECT_EQ(ReadFile(target), foreignCsv);
    EXPECT_EQ(ReadFile(dir.Path + "/foreign.csv"), foreignCsv);
    EXPECT_FALSE(fs::exists(dir.Path + "/nowhere.csv"));

    // A station's own, however it was saved: with or without the mark, LF or CR LF, either
    // separator; the separator it has is kept, with the decimal symbol its records use.
    struct TOwn {
        std::string Text;
        TCsvDialect Keeps;
    } own[] = {
        {"\xEF\xBB\xBF" + CsvHeader(), {',', '.'}},
        {CsvHeader().substr(0, CsvHeader().size() - 2) + "\n", {',', '.'}},
        {"\xEF\xBB\xBF" + CsvHeader({';', ','}) + CsvRow(SomeRecord(), {';', ','}), {';', ','}},
        {CsvHeader({';', '.'}) + CsvRow(SomeRecord(), {';', '.'}), {';', '.'}},
    };
    for (const auto& o : own) {
        SCOPED_TRACE(o.Text);
        const std::string path = dir.Path + "/own.csv";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << o.Text;
        std::string error, notice;
        {
            const auto log = TRecordLog::Open(path, error);
            ASSERT_TRUE(log) << error;
            ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
        }
        EXPECT_EQ(ReadFile(path), o.Text + CsvRow(SomeRecord(), o.Keeps));
    }
}

TEST(StationRecord, ALogReplacedOrRemovedWhileTheStationRunsGetsTheNextRecordUnderItsName) {
    TTempDir dir;
    const std::string path = dir.Path + "/units.csv";
    std::string error, notice;
    const auto log = TRecordLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
    const std::string first = ReadFile(path);

    // A spreadsheet saves: a new file renamed over the old one.
    const std::string saved = first + "edited by hand\r\n";
    std::ofstream(dir.Path + "/saving.tmp", std::ios::binary) << saved;
    fs::rename(dir.Path + "/saving.tmp", path);
    ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
    EXPECT_NE(notice.find("was replaced or removed"), std::string::npos) << notice;
    EXPECT_EQ(ReadFile(path), saved + CsvRow(SomeRecord(), {',', '.'}));

    // Removed: a new log under the name, with its header.
    fs::remove(path);
    notice.clear();
    ASSERT_TRUE(log->Append(SomeRecord(), error, notice)) << error;
    EXPECT_FALSE(notice.empty());
    const TCsvDialect user = UserCsvDialect();
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF" + CsvHeader(user) + CsvRow(SomeRecord(), user));

    // Replaced by a link: not followed, the record is not written, the link's target kept.
    std::ofstream(dir.Path + "/elsewhere", std::ios::binary) << "keep";
    fs::remove(path);
    fs::create_symlink(dir.Path + "/elsewhere", path);
    EXPECT_FALSE(log->Append(SomeRecord(), error, notice));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir.Path + "/elsewhere"), "keep");
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
