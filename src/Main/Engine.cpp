#include "Engine.h"

#include <array>

#include "BuiltinFirmware.h"
#include "Convert.h"
#include "Flows.h"
#include "Identify.h"
#include "Protocol.h"

namespace {

// Marks the write as running for as long as ButtonWriteClick runs, exceptions included.
class TWriteRunningScope {
public:
    explicit TWriteRunningScope(TProgramState& state) : State(state) { State.WriteRunning = true; }
    ~TWriteRunningScope() { State.WriteRunning = false; }
    TWriteRunningScope(const TWriteRunningScope&) = delete;
    TWriteRunningScope& operator=(const TWriteRunningScope&) = delete;

private:
    TProgramState& State;
};

enum TPhase { phErase, phWrite, phCommit };

struct TPhaseInfo {
    const char* LogWord;
    const char* ReplyPrefix;
    const char* FailureMessage;
};

constexpr std::array<TPhaseInfo, 3> Phases = {{
    {"Очистив", "g84", "                              \r\nПомилка очистки - "},
    {"Записав", "g85", "                              \r\nПомилка запису - "},
    {"Прошив", "g86", "                              \r\nПомилка прошивки - "},
}};

void RefuseWrite(TFlowContext& ctx, const char* message) {
    ResetDevice(ctx);
    ctx.Port.Close();
    ctx.Host.ShowMessage(message);
}

// True when the write may start; a refusal has restarted the instrument and closed the port.
// A six-character text that is no number raises EConvertError with the port open.
bool PassVersionGate(TFlowContext& ctx) {
    const std::string description = ctx.Host.MemoAbout().Text();
    if (Protocol::CharacterCount(description) != 6) {
        RefuseWrite(ctx, "Невідомо що то є!");
        return false;
    }
    if (description == std::string_view(BuiltinFirmwareVersion)) {
        RefuseWrite(ctx, "Дана версія вже записана в прилад!");
        return false;
    }
    const std::int32_t installed = StrToInt(description);
    if (installed > StrToInt(std::string_view(BuiltinFirmwareVersion))) {
        RefuseWrite(ctx, "В прилад вже записана новіша версія!");
        return false;
    }
    return true;
}

class TFlashEngine {
public:
    // The geometry is taken once: an identification run from a pending-input point must not
    // change the shape of a write already under way.
    explicit TFlashEngine(TFlowContext& ctx)
        : Ctx(ctx), Host(ctx.Host), State(ctx.State), Geometry(ctx.State.FlashGeometry) {}

    TWriteOutcome Run() {
        Start();
        const TFlashGeometry& g = Geometry;
        for (std::int32_t unit = 0; unit < g.EraseCount; ++unit) {
            Host.ProcessAllPendingInput();
            if (State.AbortRequested) {
                return TWriteOutcome::Aborted;
            }
            State.CurrentFrame = Protocol::EraseFrame(WriteAddress);
            if (!Tries(phErase)) {
                return TWriteOutcome::Aborted;
            }
            if (FailedTries > Protocol::FailedTriesLimit) {
                Fail(phErase);
                return TWriteOutcome::Failed;
            }
            Host.SetBlockBarMax(g.BlocksPerErase);
            Host.SetBlockBarPosition(0);
            for (std::int32_t block = 1; block <= g.BlocksPerErase; ++block) {
                Host.ProcessPendingInput();
                if (!BuildWriteFrame(block)) {
                    Fail(phWrite);
                    return TWriteOutcome::Failed;
                }
                if (!Tries(phWrite)) {
                    return TWriteOutcome::Aborted;
                }
                Host.StepBlockBar();
                if (FailedTries > Protocol::FailedTriesLimit) {
                    Fail(phWrite);
                    return TWriteOutcome::Failed;
                }
                State.CurrentFrame = Protocol::CommitFrame;
                if (!Tries(phCommit)) {
                    return TWriteOutcome::Aborted;
                }
                if (FailedTries > Protocol::FailedTriesLimit) {
                    Fail(phCommit);
                    return TWriteOutcome::Failed;
                }
                WriteAddress += g.BlockSize;
            }
            Host.MainGauge().Advance(1);
        }
        Complete();
        return TWriteOutcome::Completed;
    }

private:
    void Start() {
        Host.SetControlEnabled(TCommandControl::ButtonOpenHex, true);
        Host.MessageBeep(mbInformation);
        Host.SetControlEnabled(TCommandControl::cbPort, false);
        Host.SetControlEnabled(TCommandControl::cbBaudRate, false);
        Host.SetControlEnabled(TCommandControl::ButtonConect, false);
        Host.SetControlEnabled(TCommandControl::ButtonWrite, false);
        Host.MainGauge().SetMaxValue(Geometry.EraseCount);
        Host.MainGauge().SetProgress(0);
        Host.SetStatusText("Йде запис! Заборонено переривати!");
        State.AbortRequested = false;
    }

    // The block's data is read from the image now, not earlier: the image is only ever
    // rebuilt between writes, but a short image must never give a short frame.
    bool BuildWriteFrame(std::int32_t block) {
        const std::size_t first = static_cast<std::size_t>(WriteAddress) * 2;
        const std::size_t count = static_cast<std::size_t>(Geometry.BlockSize) * 2;
        if (first + count > State.FlashImage.size()) {
            return false;
        }
        BlockData.resize(count);
        State.FlashImage.Read(first, count, BlockData.data());
        Protocol::BuildWriteFrame(State.CurrentFrame, block, BlockData);
        return true;
    }

    // Up to 400 tries of State.CurrentFrame.  False when an abort ends the handler.
    bool Tries(TPhase phase) {
        const TPhaseInfo& info = Phases[phase];
        std::int32_t& pause = Pauses[phase];
        for (int i = 0; i < Protocol::TriesPerFrame; ++i) {
            Host.ProcessPendingInput();
            SendWhole(Ctx.Port, State.CurrentFrame);
            LogLine.assign(info.LogWord);
            LogLine += State.CurrentFrame;
            Host.MemoAbout().AppendLine(LogLine);
            Host.Sleep(static_cast<unsigned>(pause));
            Ctx.Port.ReceiveString(State.LastReply, Protocol::ReplyReadSize);
            if (Protocol::IsAccepted(State.LastReply, info.ReplyPrefix)) {
                return true;
            }
            ++FailedTries;
            ++pause;
            Host.SetCalibrationText(
                Protocol::CalibrationText(Pauses[phErase], Pauses[phWrite], Pauses[phCommit]));
            if (State.AbortRequested) {
                return false;
            }
        }
        return true;
    }

    void Fail(TPhase phase) {
        Host.BringToFront();
        Host.MessageBeep(mbInformation);
        Host.Beep(1200, 200);
        Host.Beep(800, 200);
        Host.Beep(500, 200);
        Host.SetControlEnabled(TCommandControl::cbPort, true);
        Host.SetControlEnabled(TCommandControl::cbBaudRate, true);
        Host.SetControlEnabled(TCommandControl::ButtonConect, true);
        Host.SetStatusText("Мікропрограма : " + State.OpenedFileName + " - помилка");
        Host.ShowMessage(Phases[phase].FailureMessage + Protocol::AddressText(WriteAddress));
        Host.ShowMessage("                                               Увага!\r\n"
                         "При неповному запису можлива некоректна робота приладу!");
    }

    void Complete() {
        Host.BringToFront();
        ResetDevice(Ctx);
        Host.SetControlEnabled(TCommandControl::ButtonConect, true);
        Host.SetControlEnabled(TCommandControl::cbPort, true);
        Host.SetControlEnabled(TCommandControl::cbBaudRate, true);
        Host.SetStatusText("Мікропрограма : успішно завантажена в " + Host.LongTimeText());
        Ctx.Port.Close();
        Host.ShowMessage("                                         Мікропрограма успішно "
                         "завантажена в " +
                         Host.LongTimeText() +
                         "\r\nПісля запису необхідно провести процедуру встановлення "
                         "початкових установок (при наявності)\r\n                  Після "
                         "запису необхідно провести встановлення конфігурації (при "
                         "наявності)");
        Host.MainGauge().SetProgress(0);
        Host.SetBlockBarPosition(0);
        Host.FocusControl(TCommandControl::ButtonConect);
        Host.SetControlEnabled(TCommandControl::ButtonWrite, false);
    }

    TFlowContext& Ctx;
    TWindowHost& Host;
    TProgramState& State;
    const TFlashGeometry Geometry;
    std::int32_t WriteAddress = 0;
    std::int32_t FailedTries = 0;
    std::array<std::int32_t, 3> Pauses{};
    std::string LogLine;   // reused, so a try allocates nothing for its log line
    std::string BlockData; // the block's characters, read from the image
};

} // namespace

std::optional<std::string> WriteSpanProblem(const TFlashGeometry& geometry,
                                            std::size_t imageChars) {
    const auto count = [](std::int32_t v) { return v > 0 ? static_cast<std::int64_t>(v) : 0; };
    const std::int64_t span =
        count(geometry.EraseCount) * count(geometry.BlocksPerErase) * count(geometry.BlockSize);
    if (span == 0) {
        return std::nullopt;
    }
    if (span > Protocol::AddressSpace) {
        return "Прилад повідомив завеликий обсяг пам'яті: " + std::to_string(span) +
               " байт (найбільше 16777216)";
    }
    if (imageChars == 0) {
        return std::string("Мікропрограма не підготовлена до запису!");
    }
    if (static_cast<std::uint64_t>(span) * 2 > imageChars) {
        return "Мікропрограма менша за пам'ять приладу: " + std::to_string(imageChars / 2) + " з " +
               std::to_string(span) + " байт";
    }
    return std::nullopt;
}

TWriteOutcome ButtonWriteClick(TFlowContext& ctx, TVersionGate gate) {
    // No write on a half-built image, and no second write from inside a running one.
    if (ctx.State.PreparationRunning || ctx.State.WriteRunning) {
        return TWriteOutcome::Ignored;
    }
    const TWriteRunningScope running(ctx.State);
    const TIdentifyOutcome outcome = IdentifyDevice(ctx, TIdentifyCaller::ButtonWrite);
    if (outcome != TIdentifyOutcome::Identified) {
        HandleIdentifyFailure(ctx, TIdentifyCaller::ButtonWrite, outcome);
        return outcome == TIdentifyOutcome::NoAnswer ? TWriteOutcome::NoAnswer
                                                     : TWriteOutcome::UnsupportedLoader;
    }
    if (gate == TVersionGate::Check && !PassVersionGate(ctx)) {
        return TWriteOutcome::GateRefused;
    }
    // Refused before anything is erased: the instrument keeps its firmware and stays in its
    // bootloader with the port open, as after an unsupported bootloader.
    if (const auto problem =
            WriteSpanProblem(ctx.State.FlashGeometry, ctx.State.FlashImage.size())) {
        ctx.Host.MessageBeep(mbError);
        ctx.Host.ShowMessage(*problem);
        return TWriteOutcome::NotWritable;
    }
    return TFlashEngine(ctx).Run();
}

void AbortCommand(TFlowContext& ctx) {
    TWindowHost& host = ctx.Host;
    if (host.MainGauge().Progress() == 0) {
        return;
    }
    ctx.State.AbortRequested = true;
    host.SetControlEnabled(TCommandControl::ButtonConect, true);
    host.SetControlEnabled(TCommandControl::ButtonOpenHex, true);
    host.SetControlEnabled(TCommandControl::ButtonWrite, true);
    host.SetControlEnabled(TCommandControl::cbPort, true);
    host.SetControlEnabled(TCommandControl::cbBaudRate, true);
    host.SetStatusText("Зупинено користувачем");
    host.ShowMessage("                   Зупинено користувачем!\r\n"
                     "         Мікропрограма записана частково!\r\n"
                     "Необхідно повторно вибрати файл прошивки,\r\n"
                     "    і провести запис, інакще в подальшому\r\n"
                     "             прилад буде не працездатний!");
}

void ResetCommand(TFlowContext& ctx) {
    ReopenPort(ctx);
    ResetDevice(ctx);
    ctx.Port.Close();
    ctx.Host.ShowMessage("Скинуто прилад!!!");
}
