// Identification, the version gate and the flashing engine over the real serial component,
// a pseudo-terminal and the instrument simulator, with a recording window.
//
// The recording window skips its sleeps unless a test needs the instrument's timing: every
// read waits for its reply within its own time-out, so the outcomes are the same and the
// suite stays quick.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "Convert.h"
#include "Engine.h"
#include "FakeHost.h"
#include "Flows.h"
#include "HexSum.h"
#include "PortSettings.h"
#include "Protocol.h"
#include "SimProcess.h"

namespace {

using Control = TCommandControl;

const char* const ConectNoAnswer =
    "Не визначино, для усунення причин:\r\n- прилад повинен бути включеним;\r\n- ввести "
    "пароль;\r\n- перевірити вибір немеру СОМ;\r\n- перевірити швидкість (більшість 115200).";
const char* const WriteNoAnswer =
    "Не визначино, для усунення причин:\r\n- прилад повинен бути включеним;\r\n- розвернути "
    "роз`єм програмування;\r\n- ввести пароль;\r\n- перевірити вибір немеру СОМ.";
const char* const Attention = "                                               Увага!\r\nПри "
                              "неповному запису можлива некоректна робота приладу!";
const char* const Completed =
    "                                         Мікропрограма успішно завантажена в "
    "12:34:56\r\nПісля запису необхідно провести процедуру встановлення початкових "
    "установок (при наявності)\r\n                  Після запису необхідно провести "
    "встановлення конфігурації (при наявності)";
const char* const AbortMessage = "                   Зупинено користувачем!\r\n"
                                 "         Мікропрограма записана частково!\r\n"
                                 "Необхідно повторно вибрати файл прошивки,\r\n"
                                 "    і провести запис, інакще в подальшому\r\n"
                                 "             прилад буде не працездатний!";

// An image whose bytes differ from their neighbours and from the simulator's blank 00.
std::string PatternImage(std::size_t bytes) {
    std::string image;
    for (std::size_t a = 0; a < bytes; ++a) {
        image += Protocol::AddressText(static_cast<std::int64_t>((a * 7 + 0x31) & 0xFF)).substr(4);
    }
    return image;
}

std::string ImageBytes(const TImageText& image, std::size_t first, std::size_t count) {
    std::string bytes;
    for (std::size_t a = first; a < first + count; ++a) {
        bytes += static_cast<char>(std::stoi(image.substr(2 * a, 2), nullptr, 16));
    }
    return bytes;
}

std::string WriteFrame(int block, const TImageText& image, std::size_t address, std::size_t size) {
    std::string frame;
    Protocol::BuildWriteFrame(frame, block, image.substr(2 * address, 2 * size));
    return frame;
}

long Count(const std::vector<std::string>& frames, const std::string& which) {
    return std::count(frames.begin(), frames.end(), which);
}

class FlowsOnSim : public ::testing::Test {
protected:
    TFakeHost Host;
    TProgramState State;
    TBComPort Port;
    TFlowContext Ctx{Host, State, Port};
    std::unique_ptr<TSimProcess> Sim;

    void Start(std::vector<std::string> args) {
        Sim = std::make_unique<TSimProcess>(std::move(args));
        Host.Port = Sim->PtyPath();
        Host.BaudIndex = 12; // 115200
        Host.RealSleep = false;
        // The window gives every time-out 1 ms.  The simulator writes a reply byte by byte
        // at the line's pace, and on a busy machine it can stall for more than 1 ms inside a
        // reply, which would split it.  These tests are about the flows, so their reads may
        // wait up to 20 ms between two bytes; each read keeps its total budget of N + 1 ms.
        // The window's own settings meet the simulator in the end-to-end test and the
        // benchmark.
        ApplyStoredPortSettings(Port);
        Port.Timeouts().SetReadInterval(20);
    }

    // Ends the simulator so that its records are complete.
    std::vector<std::string> Frames() {
        Port.Close();
        Sim->Stop();
        return Sim->ReceivedFrames();
    }

    void ExpectLocked() {
        for (const auto c :
             {Control::ButtonConect, Control::ButtonWrite, Control::cbPort, Control::cbBaudRate}) {
            EXPECT_FALSE(Host.IsEnabled(c)) << static_cast<int>(c);
        }
        EXPECT_TRUE(Host.IsEnabled(Control::ButtonOpenHex));
    }

    void TearDown() override { Port.Close(); }
};

// ---- identification ----

TEST_F(FlowsOnSim, NoAnswerTriesFiveTimesThenClosesThePortForBothCallers) {
    Start({"--no-answer"});
    Host.Memo.SetText("old");
    Host.Terminal.SetText(":00000001FF");
    EXPECT_EQ(IdentifyDevice(Ctx, TIdentifyCaller::ButtonConect), TIdentifyOutcome::NoAnswer);
    EXPECT_EQ(Host.Gauge.Progress(), 100);
    EXPECT_EQ(Host.Gauge.MaxValue(), 100);
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(State.ReplyCode, "");

    Host.Messages.clear();
    Host.Beeps.clear();
    ButtonConectClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{ConectNoAnswer});
    EXPECT_EQ(Host.Beeps, (std::vector<unsigned>{mbQuestion, mbError}));
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_EQ(Host.Status, "Мікропрограма готова до запису");
    EXPECT_EQ(Host.Gauge.Progress(), 0);
    EXPECT_TRUE(Host.Memo.Empty());
    EXPECT_TRUE(Host.Terminal.Empty());

    Host.Messages.clear();
    Host.Beeps.clear();
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{WriteNoAnswer});
    EXPECT_EQ(Host.Beeps, std::vector<unsigned>{mbError});
    EXPECT_FALSE(Port.IsOpen());

    const auto frames = Frames();
    EXPECT_EQ(frames, std::vector<std::string>(15, "g0202;"));
    // Three identifications: five wake-ups and five identify tries each.
    EXPECT_EQ(Sim->SummaryCount("bytes received"), 3 * (5 * 5 + 5 * 6));
}

TEST_F(FlowsOnSim, UnsupportedLoaderKeepsThePortOpen) {
    Start({"--loader-version", "03", "--geometry", "4,32,7"});
    Host.Memo.SetText("old");
    ButtonConectClick(Ctx);
    EXPECT_EQ(Host.Messages,
              std::vector<std::string>{"03 - невідома версія завантажувача мікроконтролера"});
    EXPECT_EQ(Host.Beeps, (std::vector<unsigned>{mbQuestion, mbInformation}));
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_TRUE(Host.IsEnabled(Control::ButtonOpenHex));
    EXPECT_EQ(State.FlashGeometry.LoaderVersion, "03");
    EXPECT_EQ(State.FlashGeometry.BlocksPerErase, 4);
    EXPECT_EQ(State.FlashGeometry.BlockSize, 32);
    EXPECT_EQ(State.FlashGeometry.EraseCount, 7);
    EXPECT_EQ(Host.Status, "Мікропрограма готова до запису");
    EXPECT_TRUE(Host.Memo.Empty());

    Host.Messages.clear();
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages.size(), 1u);
    EXPECT_FALSE(Host.IsEnabled(Control::ButtonOpenHex));
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(Host.Gauge.Progress(), 0);
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0202;"}));
}

TEST_F(FlowsOnSim, IdentifiedByConectShowsTwoMessagesAndLeavesThePortOpen) {
    Start({"--version", "241003"});
    Host.Calibration = "Автокалібровка: 5.5.5";
    Host.BlockBarPosition = 9;
    ButtonConectClick(Ctx);
    EXPECT_EQ(Host.Messages,
              (std::vector<std::string>{"Визначино:\r\n241003",
                                        "              Робота приладу призупинена!\r\nВідкрийте "
                                        "мікропрограму з розширенням - HEX"}));
    EXPECT_EQ(Host.Beeps, (std::vector<unsigned>{mbQuestion, mbInformation}));
    EXPECT_EQ(Host.Status, "Відкрийте мікропрограму з розширенням - HEX");
    EXPECT_EQ(Host.Focused, Control::ButtonOpenHex);
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 0.0.0");
    EXPECT_EQ(Host.BlockBarPosition, 0);
    EXPECT_EQ(Host.Gauge.Progress(), 0);
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(State.ReplyCode, "83");
    EXPECT_EQ(State.DeviceReply, "241003" + SumHexBytes("83241003"));
    EXPECT_EQ(Host.PendingInputCalls, 1);
    EXPECT_EQ(std::count(Host.Events.begin(), Host.Events.end(), "front"), 1);
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0303;"}));
}

TEST_F(FlowsOnSim, DescriptionLineFeedsNulsAndCyrillic) {
    // LF first, two LFs in a row, "Прилад" in Windows-1251, a NUL and a CR.
    Start({"--describe", "\\nTARVEX-6\\n\\n\\xCF\\xF0\\xE8\\xEB\\xE0\\xE4\\0 1\\r2\\n"});
    ButtonConectClick(Ctx);
    EXPECT_EQ(Host.Memo.Text(), "TARVEX-6\r\nПрилад 1\r2\r\n");
    ASSERT_FALSE(Host.Messages.empty());
    EXPECT_EQ(Host.Messages[0], "Визначино:\r\nTARVEX-6\r\nПрилад 1\r2\r\n");
}

TEST_F(FlowsOnSim, AnEmptyDescriptionLeavesTheTextEmpty) {
    Start({"--describe", ""});
    ButtonConectClick(Ctx);
    EXPECT_TRUE(Host.Memo.Empty());
    ASSERT_FALSE(Host.Messages.empty());
    EXPECT_EQ(Host.Messages[0], "Визначино:\r\n");
}

TEST_F(FlowsOnSim, IdentificationPausesFiveTimes50MsThen100MsThen1000Ms) {
    Start({});
    Host.RealSleep = true;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(IdentifyDevice(Ctx, TIdentifyCaller::ButtonWrite), TIdentifyOutcome::Identified);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(Host.SleptMs, 5 * 50u + 100u + 1000u);
    EXPECT_GE(took, std::chrono::milliseconds(1350));
    EXPECT_LT(took, std::chrono::seconds(3)); // at most about 3 s even without an answer
    EXPECT_EQ(Host.Memo.Text(), "241003");
}

// ---- the version gate ----

TEST_F(FlowsOnSim, VersionGateRefusals) {
    const struct {
        const char* version;
        const char* message;
    } cases[] = {
        {"241004", "Дана версія вже записана в прилад!"},
        {"241005", "В прилад вже записана новіша версія!"},
        {"24100", "Невідомо що то є!"},
        {"241004\\n", "Невідомо що то є!"}, // eight characters with the line break
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Host = TFakeHost();
        State = TProgramState();
        State.FlashImage = PatternImage(64);
        Start({"--describe", c.version, "--geometry", "1,16,2"});
        ButtonWriteClick(Ctx);
        EXPECT_EQ(Host.Messages, std::vector<std::string>{c.message});
        EXPECT_EQ(Host.Beeps, std::vector<unsigned>{mbExclamation});
        EXPECT_FALSE(Port.IsOpen());
        EXPECT_TRUE(Host.IsEnabled(Control::ButtonWrite));
        EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0303;", "g0101;", "g0101;"}));
    }
}

TEST_F(FlowsOnSim, SixLettersEndWithTheConversionErrorWithoutReset) {
    Start({"--version", "abcdef"});
    State.FlashImage = PatternImage(64);
    try {
        ButtonWriteClick(Ctx);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abcdef' is not a valid integer value");
    }
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_FALSE(State.WriteRunning);
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0303;"}));
}

TEST_F(FlowsOnSim, AnImageTooSmallIsRefusedBeforeAnythingIsErased) {
    Start({"--geometry", "2,16,2"});
    State.FlashImage = PatternImage(63);
    ButtonWriteClick(Ctx);
    ASSERT_EQ(Host.Messages.size(), 1u);
    EXPECT_NE(Host.Messages[0].find("Мікропрограма менша"), std::string::npos);
    EXPECT_EQ(Host.Beeps, std::vector<unsigned>{mbError});
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_TRUE(Host.IsEnabled(Control::ButtonWrite));
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0303;"}));
}

// ---- the write ----

TEST_F(FlowsOnSim, TwoUnitsOfTwoBlocksEraseWriteCommitEachBlockThenResetTwice) {
    Start({"--geometry", "2,16,2", "--version", "000001"});
    State.FlashImage = PatternImage(4096);
    ButtonWriteClick(Ctx);

    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    EXPECT_EQ(Host.Status, "Мікропрограма : успішно завантажена в 12:34:56");
    EXPECT_EQ(Host.Beeps, (std::vector<unsigned>{mbInformation, mbExclamation}));
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_EQ(Host.Focused, Control::ButtonConect);
    EXPECT_FALSE(Host.IsEnabled(Control::ButtonWrite));
    for (const auto c :
         {Control::ButtonConect, Control::ButtonOpenHex, Control::cbPort, Control::cbBaudRate}) {
        EXPECT_TRUE(Host.IsEnabled(c)) << static_cast<int>(c);
    }
    EXPECT_EQ(Host.Gauge.MaxValue(), 2);
    EXPECT_EQ(Host.Gauge.Progress(), 0);
    EXPECT_EQ(Host.BlockBarMax, 2);
    EXPECT_EQ(Host.BlockBarPosition, 0);
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 0.0.0");
    EXPECT_FALSE(State.WriteRunning);
    // The write start, then the completion in its order.
    const std::vector<std::string> tail(Host.Events.end() - 6, Host.Events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "beep:64", "status:Йде запис! Заборонено переривати!", "front", "beep:48",
                        "status:Мікропрограма : успішно завантажена в 12:34:56",
                        std::string("message:") + Completed}));

    const auto& image = State.FlashImage;
    const std::vector<std::string> expected = {
        "g0202;",
        "g0303;",
        "g0400000004;",
        WriteFrame(1, image, 0, 16),
        "g0606;",
        WriteFrame(2, image, 16, 16),
        "g0606;",
        "g0400002024;",
        WriteFrame(1, image, 32, 16),
        "g0606;",
        WriteFrame(2, image, 48, 16),
        "g0606;",
        "g0101;",
        "g0101;",
    };
    EXPECT_EQ(Frames(), expected);
    EXPECT_EQ(Sim->Flash(), ImageBytes(image, 0, 64));

    // The description, then one log line per try: the word directly followed by the frame.
    std::string log = "000001\r\n";
    const char* words[] = {"Очистив", "Записав", "Прошив", "Записав", "Прошив"};
    for (std::size_t i = 2; i < 12; ++i) {
        log += words[(i - 2) % 5] + expected[i] + "\r\n";
    }
    EXPECT_EQ(Host.Memo.Text(), log);
}

TEST_F(FlowsOnSim, NoEraseUnitGoesStraightToCompletion) {
    Start({"--geometry", "2,16,0"});
    ButtonWriteClick(Ctx); // no image is needed for nothing
    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    EXPECT_EQ(Host.Gauge.MaxValue(), 0);
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0202;", "g0303;", "g0101;", "g0101;"}));
}

TEST_F(FlowsOnSim, NoBlocksPerEraseSendsOnlyEraseFramesAtZero) {
    Start({"--geometry", "0,16,3"});
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    EXPECT_EQ(Frames(),
              (std::vector<std::string>{"g0202;", "g0303;", "g0400000004;", "g0400000004;",
                                        "g0400000004;", "g0101;", "g0101;"}));
}

TEST_F(FlowsOnSim, EraseAcceptedAtTheThirdTryTunesTheErasePause) {
    Start({"--geometry", "1,16,1", "--fail-erase", "2"});
    State.FlashImage = PatternImage(16);
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 2.0.0");
    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, "g0400000004;"), 3);
    // Pauses 0, 1 and 2 ms for the three erase tries.
    EXPECT_EQ(Host.SleptMs, 5 * 50u + 100u + 1000u + 0u + 1u + 2u + 100u);
}

TEST_F(FlowsOnSim, ALateInstrumentIsFollowedByLongerPauses) {
    Start({"--geometry", "1,16,6", "--late-ms", "30"});
    Host.RealSleep = true;
    State.FlashImage = PatternImage(96);
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    const std::string prefix = "Автокалібровка: ";
    ASSERT_EQ(Host.Calibration.rfind(prefix, 0), 0u) << Host.Calibration;
    long erase = -1, write = -1, commit = -1;
    ASSERT_EQ(std::sscanf(Host.Calibration.c_str() + prefix.size(), "%ld.%ld.%ld", &erase, &write,
                          &commit),
              3)
        << Host.Calibration;
    EXPECT_GT(erase + write + commit, 0);
    // Every failed try lengthened exactly one pause: tries = needed frames + failures.
    const long tries = static_cast<long>(Host.Memo.LineCount()) - 1;
    EXPECT_EQ(tries, 6 * 3 + erase + write + commit);
    Frames();
    EXPECT_EQ(Sim->Flash(), ImageBytes(State.FlashImage, 0, 96));
}

// A USB adapter whose latency timer (32 ms) outlasts every reply read: each reply comes
// after its read has given up.  The write must count those failed tries and lengthen its
// pauses until the replies fit, and never report a write that did not happen.
TEST_F(FlowsOnSim, AnAdapterSlowerThanTheReadWindowCostsTriesAndPausesNotTheTruth) {
    Start({"--geometry", "1,16,6", "--adapter", "ftdi", "--latency-ms", "32"});
    Host.RealSleep = true;
    State.FlashImage = PatternImage(96);
    ButtonWriteClick(Ctx);
    const auto frames = Frames();
    if (Host.Messages == std::vector<std::string>{Completed}) {
        const std::string prefix = "Автокалібровка: ";
        ASSERT_EQ(Host.Calibration.rfind(prefix, 0), 0u) << Host.Calibration;
        long erase = -1, write = -1, commit = -1;
        ASSERT_EQ(std::sscanf(Host.Calibration.c_str() + prefix.size(), "%ld.%ld.%ld", &erase,
                              &write, &commit),
                  3);
        // Each phase's first replies came too late: counted as failures, each lengthening
        // that phase's pause.
        EXPECT_GT(erase, 0);
        EXPECT_GT(write, 0);
        EXPECT_GT(commit, 0);
        const long tries = static_cast<long>(Host.Memo.LineCount()) - 1;
        EXPECT_EQ(tries, 6 * 3 + erase + write + commit);
        EXPECT_EQ(Sim->Flash(), ImageBytes(State.FlashImage, 0, 96));
        EXPECT_EQ(Count(frames, "g0101;"), 2);
    } else {
        // Given up: said so, and the instrument was not restarted as if flashed.
        ASSERT_FALSE(Host.Messages.empty());
        EXPECT_NE(Host.Messages.front(), Completed);
        EXPECT_EQ(Count(frames, "g0101;"), 0);
    }
}

TEST_F(FlowsOnSim, AnInstrumentThatNeverAcceptsStopsAtTheFourHundredthTry) {
    Start({"--geometry", "1,16,2", "--never-accept", "erase"});
    State.FlashImage = PatternImage(32);
    State.OpenedFileName = "fw.hex";
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages,
              (std::vector<std::string>{
                  "                              \r\nПомилка очистки - 000000", Attention}));
    EXPECT_EQ(Host.Status, "Мікропрограма : fw.hex - помилка");
    EXPECT_EQ(Host.Beeps, (std::vector<unsigned>{mbInformation, mbInformation}));
    EXPECT_EQ(Host.Tones, (std::vector<unsigned>{1200, 800, 500}));
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 400.0.0");
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_FALSE(Host.IsEnabled(Control::ButtonWrite));
    for (const auto c :
         {Control::ButtonConect, Control::ButtonOpenHex, Control::cbPort, Control::cbBaudRate}) {
        EXPECT_TRUE(Host.IsEnabled(c)) << static_cast<int>(c);
    }
    EXPECT_EQ(Host.Gauge.Progress(), 0);
    EXPECT_EQ(Host.SleptMs, 5 * 50u + 100u + 1000u + 399u * 400u / 2u);
    const std::vector<std::string> tail(Host.Events.end() - 8, Host.Events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "front", "beep:64", "tone:1200/200", "tone:800/200", "tone:500/200",
                        "status:Мікропрограма : fw.hex - помилка",
                        "message:                              \r\nПомилка очистки - 000000",
                        std::string("message:") + Attention}));
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, "g0400000004;"), 400);
    EXPECT_EQ(Count(frames, "g0101;"), 0);
    EXPECT_EQ(frames.size(), 402u);
}

TEST_F(FlowsOnSim, TheFourHundredthFailureStopsEvenWhenItsFrameIsThenAccepted) {
    // 200 failures on each block: block 2 at 0x20 brings the total to 400, then is accepted.
    Start({"--geometry", "2,32,1", "--fail-write", "200"});
    State.FlashImage = PatternImage(64);
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages,
              (std::vector<std::string>{"                              \r\nПомилка запису - 000020",
                                        Attention}));
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 0.400.0");
    EXPECT_EQ(Host.BlockBarPosition, 2);
    EXPECT_EQ(Host.Status, "Мікропрограма :  - помилка"); // no file opened since start-up
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, WriteFrame(2, State.FlashImage, 32, 32)), 201);
    EXPECT_EQ(Count(frames, "g0606;"), 1); // block 2 is never committed
}

TEST_F(FlowsOnSim, ThreeHundredNinetyNineSpreadFailuresStillComplete) {
    Start({"--geometry", "3,16,1", "--fail-commit", "133"});
    State.FlashImage = PatternImage(48);
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{Completed});
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 0.0.399");
    Frames();
    EXPECT_EQ(Sim->Flash(), ImageBytes(State.FlashImage, 0, 48));
}

// ---- Ctrl+Del and a pulled adapter ----

TEST_F(FlowsOnSim, CtrlDelIsIgnoredInTheFirstUnitAndStopsTheWriteAtItsNextCheck) {
    Start({"--geometry", "2,16,3"});
    State.FlashImage = PatternImage(96);
    const std::string secondErase = Protocol::EraseFrame(32);
    int secondErasePoints = 0;
    Host.OnPendingInput = [&] {
        if (Host.Gauge.Progress() == 0) {
            AbortCommand(Ctx); // the first unit: the command must not act
            return;
        }
        // The second point that still shows the second unit's erase frame is the start of
        // its first block: the write goes on through the unit's blocks to the next check.
        if (State.CurrentFrame == secondErase && ++secondErasePoints == 2) {
            AbortCommand(Ctx);
        }
    };
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{AbortMessage});
    EXPECT_EQ(Host.Status, "Зупинено користувачем");
    EXPECT_TRUE(State.AbortRequested);
    for (const auto& [control, enabled] : Host.Enabled) {
        EXPECT_TRUE(enabled) << static_cast<int>(control);
    }
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(Host.Gauge.Progress(), 2);
    EXPECT_FALSE(State.WriteRunning);
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, "g0400000004;"), 1);
    EXPECT_EQ(Count(frames, secondErase), 1);
    EXPECT_EQ(Count(frames, "g0606;"), 4);
    EXPECT_EQ(Count(frames, Protocol::EraseFrame(64)), 0);
    EXPECT_EQ(Count(frames, "g0101;"), 0);
}

TEST_F(FlowsOnSim, CtrlDelQueuedDuringAUnitIsSeenAtTheNextUnitStart) {
    // Every throttled pass comes too soon to handle input: the key waits in the queue until
    // the unit start, whose pass is never skipped.
    Start({"--geometry", "2,16,3"});
    State.FlashImage = PatternImage(96);
    Host.SkipThrottledPasses = true;
    Host.OnPendingInput = [&] { AbortCommand(Ctx); }; // ignored while the gauge is at 0
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{AbortMessage});
    EXPECT_EQ(Host.Gauge.Progress(), 1);
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, "g0400000004;"), 1);
    EXPECT_EQ(Count(frames, Protocol::EraseFrame(32)), 0);
    EXPECT_EQ(Count(frames, "g0606;"), 2);
}

TEST_F(FlowsOnSim, CtrlDelIsSeenAfterAFailedTry) {
    Start({"--geometry", "1,16,3", "--fail-write", "3"});
    State.FlashImage = PatternImage(48);
    const std::string secondWrite = WriteFrame(1, State.FlashImage, 16, 16);
    Host.OnPendingInput = [&] {
        // At the start of the second unit's first write try, which the instrument ignores.
        if (State.CurrentFrame == secondWrite && !State.AbortRequested) {
            AbortCommand(Ctx);
        }
    };
    ButtonWriteClick(Ctx);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{AbortMessage});
    EXPECT_EQ(Host.Calibration, "Автокалібровка: 0.4.0");
    const auto frames = Frames();
    EXPECT_EQ(Count(frames, secondWrite), 1);
    EXPECT_EQ(Count(frames, "g0606;"), 1);
    EXPECT_EQ(Count(frames, Protocol::EraseFrame(32)), 0);
}

TEST_F(FlowsOnSim, APulledAdapterRaisesAndLeavesTheControlsLocked) {
    // Frames: identify, describe, then erase, write, commit per unit; the line goes after
    // the second unit's commit, while or before its reply is read.
    Start({"--geometry", "1,16,4", "--unplug-after", "8"});
    State.FlashImage = PatternImage(64);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_THROW(ButtonWriteClick(Ctx), EComPort);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
    ExpectLocked();
    EXPECT_EQ(Host.Status, "Йде запис! Заборонено переривати!");
    EXPECT_TRUE(Host.Messages.empty());
    EXPECT_FALSE(State.WriteRunning);
    EXPECT_GE(Host.Gauge.Progress(), 1);
    // Ctrl+Del unlocks them, the gauge not being at 0.
    AbortCommand(Ctx);
    EXPECT_TRUE(Host.IsEnabled(Control::ButtonWrite));
    EXPECT_TRUE(Sim->WaitForExit(std::chrono::seconds(10)));
}

TEST_F(FlowsOnSim, CtrlLDuringAWriteMakesItsNextFrameFailWithTheWriteError) {
    Start({"--geometry", "2,16,2"});
    State.FlashImage = PatternImage(64);
    bool reset = false;
    Host.OnPendingInput = [&] {
        if (!reset && State.CurrentFrame == "g0606;") {
            reset = true;
            ResetCommand(Ctx);
        }
    };
    try {
        ButtonWriteClick(Ctx);
        FAIL() << "the write went on over a closed port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Number(), 3);
    }
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Скинуто прилад!!!"});
    ExpectLocked();
    EXPECT_FALSE(Port.IsOpen());
    const auto frames = Frames();
    ASSERT_GE(frames.size(), 6u);
    EXPECT_EQ(frames[4], "g0101;");
    EXPECT_EQ(frames[5], "g0101;");
    EXPECT_EQ(frames.size(), 6u); // the commit never went out
}

TEST_F(FlowsOnSim, CtrlLResetsTheInstrumentAndClosesThePort) {
    Start({});
    ResetCommand(Ctx);
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Скинуто прилад!!!"});
    EXPECT_EQ(Host.Beeps, std::vector<unsigned>{mbExclamation});
    EXPECT_EQ(Host.SleptMs, 100u);
    EXPECT_EQ(State.LastReply, "g8181;");
    EXPECT_EQ(Frames(), (std::vector<std::string>{"g0101;", "g0101;"}));
}

} // namespace
