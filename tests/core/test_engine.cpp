// The parts of the write flow and the key commands that need no instrument: the span check,
// the re-entry guard, Ctrl+Del, and a port choice that must not be opened.
#include <gtest/gtest.h>

#include "Engine.h"
#include "FakeHost.h"
#include "Flows.h"
#include "Identify.h"

namespace {

struct TFlowsFixture {
    TFakeHost Host;
    TProgramState State;
    TBComPort Port;
    TFlowContext Ctx{Host, State, Port};
};

const char* const AbortMessage = "                   Зупинено користувачем!\r\n"
                                 "         Мікропрограма записана частково!\r\n"
                                 "Необхідно повторно вибрати файл прошивки,\r\n"
                                 "    і провести запис, інакще в подальшому\r\n"
                                 "             прилад буде не працездатний!";

} // namespace

TEST(EngineSpan, RefusedBeyondTheAddressSpaceOrTheImage) {
    const std::size_t fullImage = 40'000'000;
    const struct {
        std::int32_t bpe, bs, ec;
        std::size_t imageChars;
        bool refused;
    } cases[] = {
        {1, 64, 1024, fullImage, false},    // 64 KiB
        {255, 255, 258, fullImage, false},  // 16,776,450 bytes, just below 2^24
        {255, 255, 259, fullImage, true},   // 16,841,475 bytes: beyond the erase address
        {128, 128, 1024, fullImage, false}, // exactly 2^24
        {2, 16, 2, 128, false},             // 64 bytes from a 64-byte image
        {2, 16, 2, 127, true},              // one character short
        {2, 16, 2, 0, true},                // no image after a failed start-up
        {0, 16, 2, 0, false},               // nothing is written: erase frames only
        {2, 16, 0, 0, false},               // no unit at all
        {2, 0, 2, 0, false},                // empty blocks
    };
    for (const auto& c : cases) {
        TFlashGeometry g;
        g.BlocksPerErase = c.bpe;
        g.BlockSize = c.bs;
        g.EraseCount = c.ec;
        const auto problem = WriteSpanProblem(g, c.imageChars);
        EXPECT_EQ(problem.has_value(), c.refused)
            << c.bpe << "," << c.bs << "," << c.ec << " image " << c.imageChars;
    }
    TFlashGeometry huge;
    huge.BlocksPerErase = 255;
    huge.BlockSize = 255;
    huge.EraseCount = 65535;
    ASSERT_TRUE(WriteSpanProblem(huge, fullImage).has_value());
    EXPECT_NE(WriteSpanProblem(huge, fullImage)->find("4261413375"), std::string::npos);
}

TEST(EngineGuard, NoWriteDuringAPreparationOrAnotherWrite) {
    for (const bool preparing : {true, false}) {
        TFlowsFixture f;
        f.Host.Port = "/dev/null/not-a-port";
        f.State.PreparationRunning = preparing;
        f.State.WriteRunning = !preparing;
        ButtonWriteClick(f.Ctx); // would raise if it tried to open the port
        EXPECT_TRUE(f.Host.Events.empty());
        EXPECT_FALSE(f.Port.IsOpen());
        EXPECT_EQ(f.State.WriteRunning, !preparing);
    }
}

TEST(EngineGuard, NoIdentificationDuringAPreparation) {
    // Its failures would empty TextTerminal under the preparation's feet.
    TFlowsFixture f;
    f.Host.Port = "/dev/null/not-a-port";
    f.Host.Terminal.SetText(":00000001FF");
    f.State.PreparationRunning = true;
    ButtonConectClick(f.Ctx); // would raise if it tried to open the port
    EXPECT_TRUE(f.Host.Events.empty());
    EXPECT_EQ(f.Host.Terminal.Text(), ":00000001FF");
}

TEST(EngineGuard, WriteRunningIsClearedWhenTheWriteRaises) {
    TFlowsFixture f;
    f.Host.Port = "/dev/null/not-a-port";
    EXPECT_THROW(ButtonWriteClick(f.Ctx), EComPort);
    EXPECT_FALSE(f.State.WriteRunning);
}

TEST(AbortCommand, DoesNothingWhileTheGaugeIsAtZero) {
    TFlowsFixture f;
    f.Host.Enabled[TCommandControl::ButtonWrite] = false;
    AbortCommand(f.Ctx);
    EXPECT_FALSE(f.State.AbortRequested);
    EXPECT_TRUE(f.Host.Events.empty());
    EXPECT_FALSE(f.Host.IsEnabled(TCommandControl::ButtonWrite));
}

TEST(AbortCommand, SetsTheFlagUnlocksAndTells) {
    TFlowsFixture f;
    f.Host.Gauge.SetMaxValue(4);
    f.Host.Gauge.SetProgress(1);
    for (auto& [control, enabled] : f.Host.Enabled) {
        enabled = control == TCommandControl::ButtonOpenHex;
    }
    AbortCommand(f.Ctx);
    EXPECT_TRUE(f.State.AbortRequested);
    for (const auto& [control, enabled] : f.Host.Enabled) {
        EXPECT_TRUE(enabled) << static_cast<int>(control);
    }
    EXPECT_EQ(f.Host.Status, "Зупинено користувачем");
    ASSERT_EQ(f.Host.Messages.size(), 1u);
    EXPECT_EQ(f.Host.Messages[0], AbortMessage);
    EXPECT_TRUE(f.Host.Beeps.empty());
    EXPECT_EQ(f.Host.Gauge.Progress(), 1);
}

TEST(ReopenPort, RefusesARateOutsideTheList) {
    for (const int index : {-1, 15}) {
        TFlowsFixture f;
        f.Host.Port = "/dev/null/not-a-port";
        f.Host.BaudIndex = index;
        EXPECT_THROW(ReopenPort(f.Ctx), EPortChoice) << index;
        EXPECT_FALSE(f.Port.IsOpen());
        EXPECT_NE(f.Port.Port(), f.Host.Port); // nothing was applied
    }
}

TEST(ReopenPort, AppliesTheChosenNameAndRateBeforeOpening) {
    TFlowsFixture f;
    f.Host.Port = "/dev/null/not-a-port";
    f.Host.BaudIndex = 6;
    EXPECT_THROW(ReopenPort(f.Ctx), EComPort);
    EXPECT_EQ(f.Port.Port(), "/dev/null/not-a-port");
    EXPECT_EQ(f.Port.BaudRate(), TBaudRate::br9600);
}
