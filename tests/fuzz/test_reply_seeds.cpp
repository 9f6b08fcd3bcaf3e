// The reply fuzzer's harness without the fuzzer: how a script becomes replies, the judge of a
// finished write, and each seed in fuzz/corpus-replies run through the real flows with the
// outcome it was written for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "ReplyRun.h"

namespace fs = std::filesystem;

namespace {

std::string ReadSeed(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A finished 1-unit, 2-block write as the line saw it, each frame answered at once.
std::vector<TExchange> CleanWrite() {
    return {{"g0400000004;", "g8484;"}, {"g0501<data>;", "g8585;"}, {"g0606;", "g8686;"},
            {"g0502<data>;", "g8585;"}, {"g0606;", "g8686;"},       {"g0101;", "g8181;"},
            {"g0101;", "g8181;"}};
}

TFlashGeometry OneUnitTwoBlocks() {
    TFlashGeometry g;
    g.BlocksPerErase = 2;
    g.BlockSize = 16;
    g.EraseCount = 1;
    return g;
}

} // namespace

void PrintTo(TWriteOutcome outcome, std::ostream* out) {
    *out << "TWriteOutcome " << static_cast<int>(outcome);
}

TEST(ReplyScript, SplitsIntoOnePiecePerRequest) {
    const struct {
        std::string bytes;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"g8484;", {"g8484;"}},
        {"x\x1ey", {"x", "y"}},
        {"\x1e\x1e", {"", "", ""}},   // requests left unanswered
        {"x\x1d\x1ey", {"x\x1ey"}},   // the escaped separator
        {"\x1dx\x1d", {"\x1dx\x1d"}}, // the escape byte alone is itself
        {std::string("\0\xff\x1e", 3), {std::string("\0\xff", 2), ""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitReplyScript(c.bytes), c.pieces) << testing::PrintToString(c.bytes);
    }
}

TEST(ReplyScript, AnOverLongReplyLeadsTheNextRead) {
    TReplyScriptOs line({"g8484;g85", "85;"});
    char buffer[20];
    line.Write("g0400000004;", 12, std::nullopt);
    ASSERT_EQ(line.Read(buffer, 6).Count, 6u);
    line.Write("g0501;", 6, std::nullopt);
    const TComTransfer second = line.Read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, second.Count), "g8585;");
    EXPECT_EQ(line.Read(buffer, sizeof buffer).Count, 0u); // the script has run out
    ASSERT_EQ(line.Transcript.size(), 2u);
    EXPECT_EQ(line.Transcript[0].Reply, "g8484;");
    EXPECT_EQ(line.Transcript[1].Reply, "g8585;");
}

TEST(FinishedWriteJudge, AcceptsOnlyEveryFrameAnsweredWithItsOwnCode) {
    using Edit = void (*)(std::vector<TExchange>&);
    const struct {
        const char* what;
        Edit edit;
        bool finished;
    } cases[] = {
        {"as sent", [](std::vector<TExchange>&) {}, true},
        {"a retry before the answer",
         [](auto& t) {
             t.insert(t.begin() + 1, {"g0501<data>;", ""});
         },
         true},
        {"the erase answered with the write's code", [](auto& t) { t[0].Reply = "g8585;"; }, false},
        {"a commit answered with the erase's code", [](auto& t) { t[4].Reply = "g8484;"; }, false},
        {"a reply cut before its ;", [](auto& t) { t[1].Reply = "g8585"; }, false},
        {"a reply of the code alone", [](auto& t) { t[2].Reply = "g86"; }, false},
        {"no reply", [](auto& t) { t[3].Reply.clear(); }, false},
        {"the last commit missing", [](auto& t) { t.erase(t.begin() + 4); }, false},
        {"a block written twice after its answer",
         [](auto& t) {
             t.insert(t.begin() + 2, {"g0501<data>;", "g8585;"});
         },
         false},
        {"blocks in the wrong order", [](auto& t) { std::swap(t[1].Request, t[3].Request); },
         false},
        {"an erase at another address", [](auto& t) { t[0].Request = "g0400001014;"; }, false},
        {"an extra erase at the end",
         [](auto& t) {
             t.insert(t.end() - 2, {"g0400002024;", "g8484;"});
         },
         false},
    };
    for (const auto& c : cases) {
        std::vector<TExchange> transcript = CleanWrite();
        c.edit(transcript);
        const auto problem = WriteTranscript::FinishedWriteProblem(transcript, OneUnitTwoBlocks());
        EXPECT_EQ(!problem.has_value(), c.finished) << c.what << ": " << problem.value_or("");
    }
}

TEST(FinishedWriteJudge, CountsTheUnansweredTriesOfTheWriteOnly) {
    std::vector<TExchange> transcript = CleanWrite();
    transcript.insert(transcript.begin(), {{"g0202;", ""}, {"g0400000004;", "g8585;"}});
    transcript.push_back({"g0606;", "g86;x"});
    EXPECT_EQ(WriteTranscript::UnansweredTries(transcript), 2u);
}

TEST(ReplySeeds, EachEndsAsWrittenForAndKeepsTheRules) {
    using O = TWriteOutcome;
    // No outcome: the description's conversion raised.
    const std::map<std::string, std::optional<TWriteOutcome>> expected = {
        {"real-write", O::Completed},
        {"retries", O::Completed},
        {"no-units", O::Completed},
        {"no-blocks", O::Completed},
        {"cut", O::Failed},
        {"wrong-codes", O::Failed},
        {"over-long", O::GateRefused},
        {"over-long-identify", O::GateRefused},
        {"binary", O::GateRefused},
        {"description-lines", O::GateRefused},
        {"same-version", O::GateRefused},
        {"newer-version", O::GateRefused},
        {"six-letters", std::nullopt},
        {"old-loader", O::UnsupportedLoader},
        {"too-big", O::NotWritable},
        {"silent", O::NoAnswer},
        {"commit-unanswered", O::Failed},
        {"spread-399", O::Completed},
        {"spread-400", O::Failed},
    };
    std::set<std::string> seen;
    for (const auto& entry : fs::directory_iterator(TARVEX_REPLY_SEEDS)) {
        const std::string name = entry.path().filename().string();
        seen.insert(name);
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << name << ": a seed without its expected outcome";
        const TReplyRun run = RunWriteOnScript(ReadSeed(entry.path()));
        EXPECT_EQ(run.Outcome, it->second) << name;
        EXPECT_EQ(ReplyRules::Broken(run), std::nullopt) << name;
    }
    EXPECT_EQ(seen.size(), expected.size());
}

TEST(ReplySeeds, AFinishedWriteSentEveryFrameOfItsGeometry) {
    const TReplyRun run = RunWriteOnScript(ReadSeed(fs::path(TARVEX_REPLY_SEEDS) / "retries"));
    ASSERT_EQ(run.Outcome, TWriteOutcome::Completed);
    std::map<std::string, int> tries;
    for (const TExchange& e : run.Transcript) {
        ++tries[e.Request.substr(0, 3)];
    }
    // 2 units of 2 blocks: 2 erases, 4 writes, 4 commits, and the failed tries between.
    EXPECT_EQ(tries["g04"], 2 + 2);
    EXPECT_EQ(tries["g05"], 4 + 1);
    EXPECT_EQ(tries["g06"], 4 + 2);
    EXPECT_EQ(WriteTranscript::UnansweredTries(run.Transcript), 5u);
}
