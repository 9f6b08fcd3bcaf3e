#include "Identify.h"

#include "Convert.h"
#include "Protocol.h"

namespace {

constexpr int BaudRateCount = 15;

constexpr const char* ReadyText = "Мікропрограма готова до запису";

const char* NoAnswerMessage(TIdentifyCaller caller) {
    if (caller == TIdentifyCaller::ButtonConect) {
        return "Не визначино, для усунення причин:\r\n- прилад повинен бути включеним;\r\n"
               "- ввести пароль;\r\n- перевірити вибір немеру СОМ;\r\n"
               "- перевірити швидкість (більшість 115200).";
    }
    return "Не визначино, для усунення причин:\r\n- прилад повинен бути включеним;\r\n"
           "- розвернути роз`єм програмування;\r\n- ввести пароль;\r\n"
           "- перевірити вибір немеру СОМ.";
}

const char* NoDescriptionText(TIdentifyCaller caller) {
    return caller == TIdentifyCaller::ButtonConect ? "Невідомий прилад (без текстового опису)"
                                                   : "Невідомий прилад/версія";
}

} // namespace

void SendWhole(TBComPort& port, const std::string& text) {
    if (port.SendString(text) < static_cast<std::int32_t>(text.size())) {
        throw EComPort(3);
    }
}

void ReopenPort(TFlowContext& ctx) {
    if (ctx.Port.Close()) {
        const int index = ctx.Host.BaudRateIndex();
        if (index < 0 || index >= BaudRateCount) {
            throw EPortChoice("Не вибрано швидкість обміну з приладом");
        }
        ctx.Port.SetPort(ctx.Host.PortText());
        ctx.Port.SetBaudRate(static_cast<TBaudRate>(index));
    }
    ctx.Port.Open();
}

void ResetDevice(TFlowContext& ctx) {
    const std::string frame(Protocol::ResetFrame);
    SendWhole(ctx.Port, frame);
    ctx.Host.Sleep(Protocol::ResetPauseMs);
    ctx.Port.ReceiveString(ctx.State.LastReply, Protocol::ReplyReadSize);
    SendWhole(ctx.Port, frame);
    ctx.Port.ReceiveString(ctx.State.LastReply, Protocol::ReplyReadSize);
    ctx.Host.MessageBeep(mbExclamation);
}

TIdentifyOutcome IdentifyDevice(TFlowContext& ctx, TIdentifyCaller caller) {
    TWindowHost& host = ctx.Host;
    TProgramState& state = ctx.State;
    TGaugeModel& gauge = host.MainGauge();

    if (caller == TIdentifyCaller::ButtonConect) {
        host.MessageBeep(mbQuestion);
    }
    ReopenPort(ctx);
    host.SetBlockBarPosition(0);
    host.SetCalibrationText(Protocol::CalibrationText(0, 0, 0));
    gauge.SetMaxValue(100);
    gauge.SetProgress(0);

    // Whatever the bootloader says to the wake-up stays queued and leads the first identify read.
    const std::string wakeUp(Protocol::WakeUp);
    for (int i = 0; i < Protocol::WakeUpRepeats; ++i) {
        SendWhole(ctx.Port, wakeUp);
        gauge.Advance(10);
        host.Sleep(Protocol::WakeUpPauseMs);
    }
    host.ProcessPendingInput();

    const std::string identify(Protocol::IdentifyFrame);
    for (int i = 0; i < Protocol::IdentifyTries; ++i) {
        SendWhole(ctx.Port, identify);
        gauge.Advance(10);
        host.Sleep(Protocol::IdentifyPauseMs);
        ctx.Port.ReceiveString(state.DeviceReply, Protocol::IdentifyReadSize);
        if (Protocol::IsAnswered(state.DeviceReply)) {
            break;
        }
    }
    state.ReplyCode = std::string(Protocol::ReplyCodeOf(state.DeviceReply));
    host.BringToFront();
    if (state.ReplyCode != Protocol::IdentifyReplyCode) {
        return TIdentifyOutcome::NoAnswer;
    }
    state.FlashGeometry = Protocol::ParseGeometry(state.DeviceReply);
    if (state.FlashGeometry.LoaderVersion != Protocol::SupportedLoaderVersion) {
        return TIdentifyOutcome::UnsupportedLoader;
    }

    host.MemoAbout().Clear();
    state.ReplyCode.clear();
    SendWhole(ctx.Port, std::string(Protocol::DescribeFrame));
    gauge.Advance(20);
    host.Sleep(Protocol::DescribePauseMs);
    ctx.Port.ReceiveString(state.DeviceReply, Protocol::DescribeReadSize);
    state.ReplyCode = std::string(Protocol::ReplyCodeOf(state.DeviceReply));
    // Characters 4 .. L-1: without "g", the code and the closing character.
    const std::size_t length = state.DeviceReply.size();
    state.DeviceReply = length <= 4 ? std::string() : state.DeviceReply.substr(3, length - 4);
    gauge.SetProgress(0);

    if (state.DeviceReply.empty()) {
        host.MemoAbout().SetText(NoDescriptionText(caller));
    } else {
        // The rules work on the instrument's bytes; the text area holds UTF-8.
        std::string description;
        Protocol::AppendDescription(description, state.DeviceReply);
        host.MemoAbout().Append(Cp1251ToUtf8(description));
    }
    return TIdentifyOutcome::Identified;
}

void HandleIdentifyFailure(TFlowContext& ctx, TIdentifyCaller caller, TIdentifyOutcome outcome) {
    TWindowHost& host = ctx.Host;
    TGaugeModel& gauge = host.MainGauge();
    if (outcome == TIdentifyOutcome::NoAnswer) {
        host.MessageBeep(mbError);
        host.SetStatusText(ReadyText);
        gauge.SetProgress(0);
        host.TextTerminal().Clear();
        host.MemoAbout().Clear();
        ctx.Port.Close();
        host.ShowMessage(NoAnswerMessage(caller));
        gauge.SetProgress(0);
        return;
    }
    if (outcome == TIdentifyOutcome::UnsupportedLoader) {
        host.MessageBeep(mbInformation);
        host.SetStatusText(ReadyText);
        gauge.SetProgress(0);
        if (caller == TIdentifyCaller::ButtonWrite) {
            host.SetControlEnabled(TCommandControl::ButtonOpenHex, false);
        }
        host.TextTerminal().Clear();
        host.MemoAbout().Clear();
        host.ShowMessage(Cp1251ToUtf8(ctx.State.FlashGeometry.LoaderVersion) +
                         " - невідома версія завантажувача мікроконтролера");
        gauge.SetProgress(0);
    }
}

void ButtonConectClick(TFlowContext& ctx) {
    // Its failures empty TextTerminal, which a running preparation is reading.
    if (ctx.State.PreparationRunning) {
        return;
    }
    const TIdentifyOutcome outcome = IdentifyDevice(ctx, TIdentifyCaller::ButtonConect);
    if (outcome != TIdentifyOutcome::Identified) {
        HandleIdentifyFailure(ctx, TIdentifyCaller::ButtonConect, outcome);
        return;
    }
    TWindowHost& host = ctx.Host;
    host.SetControlEnabled(TCommandControl::ButtonOpenHex, true);
    host.MessageBeep(mbInformation);
    host.ShowMessage("Визначино:\r\n" + host.MemoAbout().Text());
    host.ShowMessage("              Робота приладу призупинена!\r\n"
                     "Відкрийте мікропрограму з розширенням - HEX");
    host.SetStatusText("Відкрийте мікропрограму з розширенням - HEX");
    host.FocusControl(TCommandControl::ButtonOpenHex);
}
