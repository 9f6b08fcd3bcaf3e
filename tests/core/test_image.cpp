// The flash image builder, its preparation and the "Відкрити" handler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BuiltinFirmware.h"
#include "Convert.h"
#include "FakeHost.h"
#include "FlashImage.h"
#include "HexCheck.h"
#include "HexText.h"

namespace fs = std::filesystem;

namespace {

// One record with its checksum.
std::string Record(unsigned type, unsigned address, const std::vector<unsigned>& data) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::vector<unsigned> bytes = {static_cast<unsigned>(data.size()), address >> 8, address & 0xFF,
                                   type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    for (const unsigned b : bytes) {
        sum += b;
        line += Digits[(b >> 4) & 0xF];
        line += Digits[b & 0xF];
    }
    const unsigned check = (256 - sum % 256) % 256;
    line += Digits[check >> 4];
    line += Digits[check & 0xF];
    return line;
}

std::string ByteAt(const std::string& image, std::int64_t address) {
    return image.substr(static_cast<std::size_t>(2 * address), 2);
}

// Image characters that are not 'F', as (byte address, two digits), for small images.
std::vector<std::pair<std::int64_t, std::string>> Placed(const TImageText& stored) {
    const std::string image = stored.substr(0);
    std::vector<std::pair<std::int64_t, std::string>> out;
    for (auto i = image.find_first_not_of('F'); i != std::string::npos;
         i = image.find_first_not_of('F', (i / 2 + 1) * 2)) {
        out.emplace_back(static_cast<std::int64_t>(i / 2), image.substr(i / 2 * 2, 2));
    }
    return out;
}

const std::string Eof = ":00000001FF";

class TempDir {
public:
    TempDir() {
        Path =
            fs::temp_directory_path() /
            ("tarvex6-image-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string Write(const std::string& name, const std::string& content) const {
        const fs::path p = Path / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    fs::path Path;
};

} // namespace

TEST(BuildFlashImage, BuiltinFirmware) {
    TFakeHost host;
    TProgramState state;
    host.Terminal.SetText(std::string(BuiltinFirmwareText()));
    ASSERT_EQ(host.Terminal.LineCount(), 3914u);
    host.SetControlEnabled(TCommandControl::ButtonWrite, false);
    ASSERT_TRUE(PrepareFlashImage(host, state));

    const std::string image = state.FlashImage.substr(0);
    ASSERT_EQ(image.size(), FlashImageChars);
    EXPECT_EQ(image.find_first_not_of('F', 131072), std::string::npos);
    EXPECT_EQ(image.substr(0, 8), "00EF01F0"); // GOTO at the reset vector
    std::string version;
    for (int i = 4; i < 10; ++i) {
        version += static_cast<char>(HexFieldToInt(ByteAt(image, 0xF120 + i)));
    }
    EXPECT_EQ(image.substr(2 * 0xF120, 8), "55AAAA55");
    EXPECT_EQ(version, BuiltinFirmwareVersion);
    EXPECT_EQ(image.substr(2 * 0xFFF8, 16), "AEF4F7FFFFF9BFFB");
    EXPECT_EQ(ByteAt(image, 0xF12C), "FF");
    EXPECT_EQ(ByteAt(image, 0xFCA7), "FF");
    EXPECT_NE(ByteAt(image, 0xFFC9), "FF");

    // Common final state, and the window's start-up owns the status text.
    EXPECT_EQ(host.Events.back(), "beep:64");
    EXPECT_EQ(host.Events, (std::vector<std::string>{"front", "beep:64"}));
    EXPECT_TRUE(host.IsEnabled(TCommandControl::ButtonWrite));
    EXPECT_EQ(host.Gauge.Progress(), 0);
    EXPECT_EQ(host.Status, "Визначте прилад");
    EXPECT_TRUE(host.Messages.empty());
    // Pending input is handled per checked line, per appended run and per placed line.
    EXPECT_EQ(host.PendingInputCalls, 3914 + 1'000'000 + 3914);
    EXPECT_FALSE(state.PreparationRunning);
}

TEST(BuildFlashImage, FillStepsTheGaugeToItsMaximum) {
    TFakeHost host;
    TProgramState state;
    host.Terminal.SetText(Lines({Record(0, 0, {0xFF}), Eof}));
    std::int64_t maxSeen = 0;
    int atFull = 0;
    host.OnPendingInput = [&] {
        if (host.Gauge.MaxValue() == 60000) {
            maxSeen = std::max(maxSeen, host.Gauge.Progress());
            atFull += host.Gauge.Progress() == 60000;
        }
    };
    ASSERT_TRUE(BuildFlashImage(host, state));
    EXPECT_EQ(maxSeen, 60000);
    EXPECT_EQ(atFull, 1'000'000 - 60000); // full from the 60,000th step on
    EXPECT_EQ(state.FlashImage, std::string(FlashImageChars, 'F'));
}

TEST(BuildFlashImage, FullGaugeStepsPassAtOnceWhereTheWindowWouldSkipThem) {
    TFakeHost host;
    host.IdleCallsPerAsk = 999;
    TProgramState state;
    host.Terminal.SetText(Lines({Record(0, 0x10, {0x12, 0x34}), Eof}));
    int beforeFull = 0;
    host.OnPendingInput = [&] {
        beforeFull += host.Gauge.MaxValue() == 60000 && host.Gauge.Progress() < 60000;
    };
    ASSERT_TRUE(BuildFlashImage(host, state));
    // Every step up to a full gauge is its own; after that the window's idle calls are
    // counted as made, and all million steps happen.
    EXPECT_EQ(beforeFull, 60000);
    EXPECT_GT(host.SkippedPendingInputs, 900'000u);
    EXPECT_EQ(static_cast<std::size_t>(host.PendingInputCalls) + host.SkippedPendingInputs,
              1'000'000u + 2);
    std::string expected(FlashImageChars, 'F');
    expected.replace(2 * 0x10, 4, "1234");
    EXPECT_EQ(state.FlashImage, expected);
}

TEST(BuildFlashImage, PlacementTable) {
    using P = std::vector<std::pair<std::int64_t, std::string>>;
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        P placed;
    } cases[] = {
        {"base 0 before any address record",
         {Record(0, 0x10, {0x12, 0x34}), Eof},
         P{{0x10, "12"}, {0x11, "34"}}},
        {"linear 1", {Record(4, 0, {0x00, 0x01}), Record(0, 0, {0xAB}), Eof}, P{{65536, "AB"}}},
        {"segment 1000 is linear 1",
         {Record(2, 0, {0x10, 0x00}), Record(0, 0, {0xAB}), Eof},
         P{{65536, "AB"}}},
        {"segment 3000",
         {Record(2, 0, {0x30, 0x00}), Record(0, 0xE000, {0x01}), Eof},
         P{{0x3E000, "01"}}},
        {"no wrap at FFFF",
         {Record(0, 0xFFFF, {0x01, 0x02}), Eof},
         P{{0xFFFF, "01"}, {0x10000, "02"}}},
        {"lines after End Of File are ignored",
         {Record(0, 0, {0x01}), Eof, Record(0, 1, {0x02}), "garbage"},
         P{{0, "01"}}},
        {"the later record wins",
         {Record(0, 0, {0x01, 0x02, 0x03}), Record(0, 1, {0xAA}), Eof},
         P{{0, "01"}, {1, "AA"}, {2, "03"}}},
        {"type 03 and comments place nothing",
         {"; comment", Record(3, 0, {0x30, 0x00, 0xE0, 0x00}), "", Record(0, 2, {0x05}), Eof},
         P{{2, "05"}}},
        {"no End Of File", {Record(0, 7, {0x07})}, P{{7, "07"}}},
        {"last byte of the image",
         {Record(4, 0, {0x01, 0x31}), Record(0, 0x2CFF, {0x5A}), Eof},
         P{{FlashImageBytes - 1, "5A"}}},
        {"a line too short for a type is passed over",
         {":00", ":0000", Record(0, 3, {0x33}), Eof},
         P{{3, "33"}}},
        {"data is taken from character 10 on, lower case upper-cased",
         {":0200000055aaff", Eof},
         P{{0, "55"}, {1, "AA"}}},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        TProgramState state;
        host.Terminal.SetText(Lines(c.lines));
        ASSERT_TRUE(PrepareFlashImage(host, state)) << c.what;
        ASSERT_EQ(state.FlashImage.size(), FlashImageChars) << c.what;
        EXPECT_EQ(Placed(state.FlashImage), c.placed) << c.what;
        EXPECT_TRUE(host.Messages.empty()) << c.what;
    }
}

TEST(BuildFlashImage, GaugeStepsPerRecordLine) {
    TFakeHost host;
    TProgramState state;
    // Record lines that did not end the pass step the gauge; comments do not.
    host.Terminal.SetText(Lines(
        {"; c", Record(3, 0, {0, 0, 0, 0}), ":00", Record(0, 0, {1}), Eof, Record(0, 0, {2})}));
    ASSERT_TRUE(BuildFlashImage(host, state));
    EXPECT_EQ(host.Gauge.MaxValue(), 5);
    EXPECT_EQ(host.Gauge.Progress(), 3);
}

TEST(BuildFlashImage, RefusalsKeepThePreviousImageWhole) {
    const std::string noData(NoDataPrefix);
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::string message;
    } cases[] = {
        {"Start Linear Address after data",
         {Record(0, 4, {0x44}), ":0400000508000131BD", Eof},
         std::string(StartLinearPrefix) + "2! (:0400000508000131BD)"},
        {"type taken from character 9 alone",
         {":00000015EB"},
         std::string(StartLinearPrefix) + "1! (:00000015EB)"},
        {"address 20,000,000",
         {Record(4, 0, {0x01, 0x31}), Record(0, 0x2D00, {0x5A}), Eof},
         std::string(OutOfImagePrefix) + "2! (" + Record(0, 0x2D00, {0x5A}) + ")"},
        {"last byte beyond",
         {Record(4, 0, {0xFF, 0xFF}), Record(0, 0, {}), Record(0, 0xFFF0, {1, 2}), Eof},
         std::string(OutOfImagePrefix) + "3! (" + Record(0, 0xFFF0, {1, 2}) + ")"},
        {"fewer data than the count",
         {Record(0, 0, {1}), ":0300000001FC", Eof},
         std::string(ShortRecordPrefix) + "2! (:0300000001FC)"},
        {"no checksum after the data",
         {":00000000"},
         std::string(ShortRecordPrefix) + "1! (:00000000)"},
        {"short linear address record",
         {":0200000401F9"},
         std::string(ShortRecordPrefix) + "1! (:0200000401F9)"},
        // A Start Linear Address record later in the text is the reason named.
        {"out of the image, then Start Linear Address",
         {Record(4, 0, {0x08, 0x00}), Record(0, 0, {0x01}), ":0400000508000131BD"},
         std::string(StartLinearPrefix) + "3! (:0400000508000131BD)"},
        {"comments only", {"; nothing here", "S00F000068656C6C6F202020202000003C"}, noData},
        {"end of file only", {Eof, Record(0, 0, {1})}, noData},
        {"addresses and empty data, no bytes",
         {Record(4, 0, {0, 0}), Record(0, 0, {}), Record(3, 0, {0, 0, 0, 0})},
         noData},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        TProgramState state;
        state.FlashImage = "previous";
        host.SetControlEnabled(TCommandControl::ButtonWrite, false);
        host.Terminal.SetText(Lines(c.lines));
        EXPECT_FALSE(PrepareFlashImage(host, state)) << c.what;
        EXPECT_EQ(host.Messages, std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(host.Beeps, std::vector<unsigned>{mbError}) << c.what;
        EXPECT_EQ(host.Gauge.Progress(), 0) << c.what;
        EXPECT_FALSE(host.IsEnabled(TCommandControl::ButtonWrite)) << c.what;
        EXPECT_EQ(state.FlashImage, "previous") << c.what;
    }
}

TEST(BuildFlashImage, FieldThatIsNotHexRaisesBeforeTheFill) {
    struct Case {
        std::string line;
        std::string error;
    } cases[] = {
        {":0G00000000", "'$0G' is not a valid integer value"},
        {":01X0000000FF", "'$X000' is not a valid integer value"},
        {":02000004ZZ00FA", "'$ZZ00' is not a valid integer value"},
        {":02000002\xC0"
         "100FC",
         "'$А100' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        TProgramState state;
        state.FlashImage = "previous";
        // The out-of-image record after the bad field is never reached.
        host.Terminal.SetText(Lines(
            {Record(0, 1, {0x11}), c.line, Record(4, 0, {0xFF, 0xFF}), Record(0, 0, {1}), Eof}));
        try {
            PrepareFlashImage(host, state);
            ADD_FAILURE() << "no conversion error for " << c.line;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), c.error);
        }
        EXPECT_EQ(state.FlashImage, "previous");
        EXPECT_TRUE(host.Beeps.empty());
        EXPECT_FALSE(state.PreparationRunning);
    }
}

TEST(PrepareFlashImage, UpperCasesTheTextAndFailsBeforeTheFill) {
    TFakeHost host;
    TProgramState state;
    state.FlashImage = "previous";
    host.Terminal.SetText("; comment \xE0\r\n:0200000055aaff\r\n:ff\r\n");
    EXPECT_FALSE(PrepareFlashImage(host, state));
    EXPECT_EQ(host.Terminal.Text(), "; COMMENT \xE0\r\n:0200000055AAFF\r\n:FF\r\n");
    EXPECT_EQ(host.Messages, std::vector<std::string>{std::string(ChecksumPrefix) + "3! (:FF)"});
    EXPECT_EQ(state.FlashImage, "previous");
    // Start-up: nothing was built yet, so the image stays empty.
    TProgramState fresh;
    EXPECT_FALSE(PrepareFlashImage(host, fresh));
    EXPECT_TRUE(fresh.FlashImage.empty());
}

TEST(ButtonOpenHexClick, OpenReplaceFailCancel) {
    TempDir dir;
    const std::string first = dir.Write("first.hex", Lines({Record(0, 0, {1, 2}), Eof}));
    const std::string second = dir.Write("second.HEX", Lines({Record(0, 1, {0xbb}), Eof}));
    const std::string bad = dir.Write("bad.hex", Lines({Record(0, 0, {9}), ":0"}));
    TFakeHost host;
    TProgramState state;

    host.HexFileToChoose = first;
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(host.LastFilter, "Файли: I8HEX, I16HEX, I32HEX|*.hex");
    EXPECT_EQ(state.OpenedFileName, "first.hex");
    EXPECT_EQ(host.Status, "Мікропрограма : first.hex - відкрита. Запишіть в прилад");
    EXPECT_EQ(host.Messages,
              std::vector<std::string>{"Мікропрограма відкрита,\r\n   запишіть її в прилад"});
    EXPECT_EQ(host.Events, (std::vector<std::string>{
                               "front", "beep:64",
                               "status:Мікропрограма : first.hex - відкрита. Запишіть в прилад",
                               "message:Мікропрограма відкрита,\r\n   запишіть її в прилад"}));
    EXPECT_EQ(state.FlashImage.substr(0, 6), "0102FF");

    host.HexFileToChoose = second;
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(state.FlashImage.substr(0, 6), "FFBBFF"); // byte 0 of the first file is gone
    EXPECT_EQ(host.Terminal.Text(), Lines({Record(0, 1, {0xBB}), Eof}));
    const TImageText secondImage = state.FlashImage;
    const std::string secondStatus = host.Status;

    host.SetControlEnabled(TCommandControl::ButtonWrite, false);
    host.HexFileToChoose = bad;
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(host.Messages.back(), std::string(ParityPrefix) + "2! (:0)");
    EXPECT_TRUE(state.FlashImage == secondImage); // the previous image, untouched
    EXPECT_EQ(host.Terminal.Text(), Lines({Record(0, 0, {9}), ":0"}));
    EXPECT_EQ(host.Status, secondStatus);
    EXPECT_FALSE(host.IsEnabled(TCommandControl::ButtonWrite));
    EXPECT_EQ(state.OpenedFileName, "bad.hex");

    const auto events = host.Events.size();
    host.HexFileToChoose.reset();
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(host.Events.size(), events);
    EXPECT_EQ(host.Terminal.Text(), Lines({Record(0, 0, {9}), ":0"}));
    EXPECT_EQ(state.OpenedFileName, "bad.hex");
    EXPECT_TRUE(state.FlashImage == secondImage);
}

TEST(ButtonOpenHexClick, FilesThatCannotBeUsed) {
    TempDir dir;
    TFakeHost host;
    TProgramState state;
    host.Terminal.SetText("kept");
    state.FlashImage = "previous";

    // Platform errors name the file and the reason.
    const std::string missing = (dir.Path / "missing.hex").string();
    host.HexFileToChoose = missing;
    try {
        ButtonOpenHexClick(host, state);
        ADD_FAILURE() << "no file error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + missing + "\". No such file or directory");
    }
    fs::create_directory(dir.Path / "folder.hex");
    host.HexFileToChoose = (dir.Path / "folder.hex").string();
    try {
        ButtonOpenHexClick(host, state);
        ADD_FAILURE() << "no file error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Is a directory"), std::string::npos);
    }
    EXPECT_EQ(host.Terminal.Text(), "kept");

    // Larger than any HEX text can sensibly be: refused unread (a sparse file).
    const std::string huge = dir.Write("huge.hex", "");
    fs::resize_file(huge, LargestHexFile + 1);
    host.HexFileToChoose = huge;
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(host.Messages.back(), std::string(TooLargePrefix) + "huge.hex");
    EXPECT_EQ(host.Terminal.Text(), "kept");

    // Files that place no data: refused by name, the image and the status as they were.
    host.Status = "kept status";
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"empty.hex", ""},
             {"srec.hex", "S00F000068656C6C6F202020202000003C\r\nS11F00007C0802A6900100049421FFF0"
                          "7C6C1B787C8C23783C6000003863000026\r\nS9030000FC\r\n"},
             {"blank.hex", "\r\n\r\n"},
         }) {
        host.HexFileToChoose = dir.Write(name, content);
        host.Beeps.clear();
        ButtonOpenHexClick(host, state);
        EXPECT_EQ(host.Messages.back(), std::string(NoDataPrefix) + ": " + name);
        EXPECT_EQ(host.Beeps, std::vector<unsigned>{mbError}) << name;
        EXPECT_EQ(state.FlashImage, "previous") << name;
        EXPECT_EQ(host.Status, "kept status") << name;
        EXPECT_FALSE(state.PreparationRunning);
    }
}

TEST(ButtonOpenHexClick, GarbageNeverEscapesTheImage) {
    TempDir dir;
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary += static_cast<char>((i * 7919 + 13) % 256);
    }
    const std::string contents[] = {
        binary,
        std::string("\0\0\0:00\0\r\n", 10),
        ":10000000\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
        "\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xDD\xDE\xDF"
        "F0\r\n" +
            Eof,
        std::string(100'000, '\n'),
        std::string(100'000, ':'),
    };
    for (const auto& content : contents) {
        TFakeHost host;
        TProgramState state;
        state.FlashImage = "previous";
        host.HexFileToChoose = dir.Write("garbage.hex", content);
        try {
            ButtonOpenHexClick(host, state);
        } catch (const EConvertError&) {
        } catch (const EGaugeRange&) {
        }
        EXPECT_TRUE(state.FlashImage == "previous" || state.FlashImage.size() == FlashImageChars);
        EXPECT_LE(host.Messages.size(), 2u);
        EXPECT_FALSE(state.PreparationRunning);
    }
}

TEST(ButtonOpenHexClick, TheLargestFileTaken) {
    TempDir dir;
    // As large as a file may be, one record line with an odd number of digits: read whole,
    // refused by parity.
    std::string content = ":";
    content.append(LargestHexFile - 1, '0');
    TFakeHost host;
    TProgramState state;
    host.HexFileToChoose = dir.Write("big.hex", content);
    content.clear();
    ButtonOpenHexClick(host, state);
    EXPECT_EQ(host.Terminal.Text().size(), LargestHexFile);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].rfind(std::string(ParityPrefix) + "1! (:000", 0), 0u);
    EXPECT_LT(host.Messages[0].size(), 1200u);
}

TEST(ButtonOpenHexClick, NoReentry) {
    TempDir dir;
    const std::string file = dir.Write("a.hex", Lines({Record(0, 0, {1}), Eof}));
    TFakeHost host;
    TProgramState state;
    host.HexFileToChoose = file;
    int chosen = 0;
    bool sawRunning = false;
    // A second click at every pending-input point of the preparation does nothing.
    host.OnPendingInput = [&] {
        sawRunning = sawRunning || state.PreparationRunning;
        const std::string before = host.LastFilter;
        host.LastFilter.clear();
        ButtonOpenHexClick(host, state);
        chosen += !host.LastFilter.empty();
        host.LastFilter = before;
    };
    ButtonOpenHexClick(host, state);
    EXPECT_TRUE(sawRunning);
    EXPECT_EQ(chosen, 0);
    EXPECT_FALSE(state.PreparationRunning);
    EXPECT_EQ(host.Messages.size(), 1u);

    TFakeHost writing;
    TProgramState busy;
    busy.WriteRunning = true;
    writing.HexFileToChoose = file;
    ButtonOpenHexClick(writing, busy);
    EXPECT_TRUE(writing.LastFilter.empty());
    EXPECT_TRUE(busy.FlashImage.empty());
}

TEST(PrepareFlashImage, TextEmptiedWhileFilling) {
    // An identification handled at a pending-input point empties TextTerminal.
    TFakeHost host;
    TProgramState state;
    host.Terminal.SetText(Lines({Record(0, 0, {1}), Eof}));
    int calls = 0;
    host.OnPendingInput = [&] {
        if (++calls == 1000) {
            host.Terminal.Clear();
        }
    };
    EXPECT_THROW(PrepareFlashImage(host, state), EGaugeRange);
    EXPECT_EQ(state.FlashImage, std::string(FlashImageChars, 'F'));
    EXPECT_FALSE(state.PreparationRunning);
}
