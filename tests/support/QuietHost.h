// A window stand-in that shows and plays nothing, for benchmarks and the fuzzer: derive
// from it and override only what the measurement looks at.
#pragma once

#include <optional>
#include <string>

#include "WindowHost.h"

class TQuietHost : public TWindowHost {
public:
    TGaugeModel Gauge;
    TTextArea Memo, Terminal;

    void SetStatusText(const std::string&) override {}
    void SetCalibrationText(const std::string&) override {}
    TGaugeModel& MainGauge() override { return Gauge; }
    void SetBlockBarMax(int) override {}
    void SetBlockBarPosition(int) override {}
    void StepBlockBar() override {}
    void SetControlEnabled(TCommandControl, bool) override {}
    void FocusControl(TCommandControl) override {}
    TTextArea& MemoAbout() override { return Memo; }
    TTextArea& TextTerminal() override { return Terminal; }
    std::string PortText() override { return {}; }
    int BaudRateIndex() override { return 12; }
    void ProcessPendingInput() override {}
    void BringToFront() override {}
    void ShowMessage(const std::string&) override {}
    void MessageBeep(unsigned) override {}
    void Beep(unsigned, unsigned) override {}
    void Sleep(unsigned) override {}
    std::optional<std::string> ChooseHexFile(const std::string&) override { return {}; }
    std::string LongTimeText() override { return {}; }
};
