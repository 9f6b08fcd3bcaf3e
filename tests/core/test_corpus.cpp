// Real toolchain HEX files and the built-in firmware, opened with "Відкрити" and compared
// byte for byte with what srec_cat makes of the same file.  The files whose licences allow
// it are in tests/hex-corpus; the others are read from ../shared/hex-corpus beside the
// checkout when it is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "FlashImage.h"

namespace fs = std::filesystem;

namespace {

std::string Capture(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) {
        return out;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        out.append(buffer, n);
    }
    return out;
}

bool HaveSrecord() {
    return std::system(
               "srec_cat --version >/dev/null 2>&1 && srec_info --version >/dev/null 2>&1") == 0;
}

std::string Quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

struct TRange {
    std::int64_t Low, High; // inclusive
};

// The file's data ranges as srec_info lists them.
std::vector<TRange> DataRanges(const fs::path& file) {
    std::istringstream in(Capture("srec_info " + Quoted(file) + " -Intel"));
    std::vector<TRange> ranges;
    std::string line;
    bool inData = false;
    while (std::getline(in, line)) {
        if (line.rfind("Data:", 0) == 0) {
            inData = true;
            line = line.substr(5);
        } else if (!inData || line.empty() || line[0] != ' ') {
            inData = false;
            continue;
        }
        std::istringstream fields(line);
        std::string low, dash, high;
        fields >> low >> dash >> high;
        ranges.push_back({std::stoll(low, nullptr, 16), std::stoll(high, nullptr, 16)});
    }
    return ranges;
}

std::string HexOf(const std::string& bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += Digits[b >> 4];
        out += Digits[b & 0xF];
    }
    return out;
}

// Compares the image with srec_cat's flat binary of every data range; every other byte of
// the image must read FF.
void ExpectImageMatches(const fs::path& file, const TImageText& stored) {
    const std::string image = stored.substr(0);
    const auto ranges = DataRanges(file);
    ASSERT_FALSE(ranges.empty());
    std::int64_t next = 0;
    for (const auto& r : ranges) {
        ASSERT_LT(r.High, FlashImageBytes);
        const std::string flat = Capture("srec_cat " + Quoted(file) + " -Intel -crop " +
                                         std::to_string(r.Low) + " " + std::to_string(r.High + 1) +
                                         " -offset -" + std::to_string(r.Low) + " -o - -Binary");
        ASSERT_EQ(static_cast<std::int64_t>(flat.size()), r.High - r.Low + 1);
        EXPECT_TRUE(
            image.compare(static_cast<std::size_t>(2 * r.Low), 2 * flat.size(), HexOf(flat)) == 0)
            << "range " << std::hex << r.Low << "-" << r.High;
        const auto gap = image.substr(static_cast<std::size_t>(2 * next),
                                      static_cast<std::size_t>(2 * (r.Low - next)));
        EXPECT_EQ(gap.find_first_not_of('F'), std::string::npos) << "before " << std::hex << r.Low;
        next = r.High + 1;
    }
    EXPECT_EQ(image.find_first_not_of('F', static_cast<std::size_t>(2 * next)), std::string::npos);
}

} // namespace

namespace {

// Opens each file with "Відкрити": the image must equal srec_cat's, or the file be refused
// at its Start Linear Address record as `refused` says.
void ExpectImagesMatchSrecCat(const std::vector<fs::path>& files,
                              const std::map<std::string, std::string>& refused) {
    int built = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        TFakeHost host;
        TProgramState state;
        host.HexFileToChoose = file.string();
        ButtonOpenHexClick(host, state);
        const auto r = refused.find(file.filename().string());
        if (r == refused.end()) {
            ASSERT_EQ(state.FlashImage.size(), FlashImageChars);
            EXPECT_EQ(host.Messages, std::vector<std::string>{
                                         "Мікропрограма відкрита,\r\n   запишіть її в прилад"});
            ExpectImageMatches(file, state.FlashImage);
            ++built;
        } else {
            EXPECT_EQ(host.Messages,
                      std::vector<std::string>{std::string(StartLinearPrefix) + r->second});
            EXPECT_EQ(host.Beeps, std::vector<unsigned>{mbError});
            EXPECT_TRUE(state.FlashImage.empty()); // nothing was built
        }
    }
    int expected = 0;
    for (const auto& file : files) {
        expected += refused.count(file.filename().string()) == 0 ? 1 : 0;
    }
    EXPECT_EQ(built, expected);
}

std::vector<fs::path> HexFilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".hex") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

const char* const OutsideOnly = "the HEX files without a stated licence are kept outside the "
                                "project, and there is no ";

} // namespace

TEST(HexCorpus, ProjectFilesMatchSrecCat) {
    if (!HaveSrecord()) {
        GTEST_SKIP() << "srec_cat is not installed";
    }
    std::vector<fs::path> files = {fs::path(TARVEX_SOURCE_DIR) / "firmware/tarvex6-241004.hex"};
    for (const auto& file : HexFilesIn(TARVEX_HEX_FILES)) {
        files.push_back(file);
    }
    ASSERT_EQ(files.size(), 4u);
    ExpectImagesMatchSrecCat(files, {});
}

TEST(HexCorpus, OutsideFilesMatchSrecCat) {
    const fs::path corpus = TARVEX_HEX_CORPUS;
    if (!fs::is_directory(corpus)) {
        GTEST_SKIP() << OutsideOnly << corpus.lexically_normal();
    }
    if (!HaveSrecord()) {
        GTEST_SKIP() << "srec_cat is not installed";
    }
    std::vector<fs::path> files;
    for (const auto& file : HexFilesIn(corpus)) {
        if (!fs::exists(fs::path(TARVEX_HEX_FILES) / file.filename())) {
            files.push_back(file);
        }
    }
    ASSERT_GE(files.size(), 11u);
    // Files with a Start Linear Address record: refused at that line.
    ExpectImagesMatchSrecCat(files,
                             {
                                 {"stm32f103-keil-fwlib-template.hex", "53! (:0400000508000131BD)"},
                                 {"stm8s-iar-ir-remote.hex", "89! (:04000005000084F380)"},
                             });
}

TEST(HexCorpus, StartLinearFileKeepsThePreviousImage) {
    const fs::path corpus = TARVEX_HEX_CORPUS;
    if (!fs::is_directory(corpus)) {
        GTEST_SKIP() << OutsideOnly << corpus.lexically_normal();
    }
    if (!HaveSrecord()) {
        GTEST_SKIP() << "srec_cat is not installed";
    }
    TFakeHost host;
    TProgramState state;
    const fs::path first = corpus / "pic18f4620-xc8-sd-init.hex";
    host.HexFileToChoose = first.string();
    ButtonOpenHexClick(host, state);
    const std::string status = host.Status;
    // STM8: all its data lies before the refused line, inside the image; STM32: its data at
    // 0x08000000 has no place in it.  Neither leaves a trace.
    for (const char* refused : {"stm8s-iar-ir-remote.hex", "stm32f103-keil-fwlib-template.hex"}) {
        host.HexFileToChoose = (corpus / refused).string();
        ButtonOpenHexClick(host, state);
        ExpectImageMatches(first, state.FlashImage);
        EXPECT_EQ(host.Status, status);
    }
}

TEST(BuiltinFirmware, GeneratorReproducesTheCommittedText) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 is not installed";
    }
    const std::string source = TARVEX_SOURCE_DIR;
    const std::string made = Capture("python3 '" + source + "/tools/make_firmware.py'");
    const std::string older =
        Capture("python3 '" + source + "/tools/make_firmware.py' --version 230915");
    TFakeHost host;
    host.HexFileToChoose = source + "/firmware/tarvex6-241004.hex";
    std::string committed;
    ASSERT_TRUE(ReadHexFile(*host.HexFileToChoose, committed));
    EXPECT_TRUE(made == committed);
    // A variant differs only in its version block.
    ASSERT_EQ(older.size(), committed.size());
    const auto at = committed.find(":0CF1200055AAAA55");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(older.substr(0, at), committed.substr(0, at));
    EXPECT_EQ(older.substr(at, 37), ":0CF1200055AAAA553233303931350200AF\r\n");
    EXPECT_EQ(older.substr(at + 37), committed.substr(at + 37));
}
