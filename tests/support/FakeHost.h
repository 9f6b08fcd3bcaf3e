// A recording stand-in for the main window, for tests of the flows.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "WindowHost.h"

class TFakeHost : public TWindowHost {
public:
    // Everything the flows did that a user would see or hear, in order.
    std::vector<std::string> Events;
    std::vector<std::string> Messages;
    std::vector<unsigned> Beeps; // MessageBeep types
    std::vector<unsigned> Tones; // Beep frequencies
    std::string Status = "Визначте прилад";
    std::string Calibration = "Автокалібровка: 0.0.0";
    std::map<TCommandControl, bool> Enabled = {{TCommandControl::ButtonConect, true},
                                               {TCommandControl::ButtonOpenHex, true},
                                               {TCommandControl::ButtonWrite, true},
                                               {TCommandControl::cbPort, true},
                                               {TCommandControl::cbBaudRate, true}};
    std::optional<TCommandControl> Focused;
    int BlockBarMax = 100;
    int BlockBarPosition = 0;
    std::string Port;
    int BaudIndex = 12;
    std::optional<std::string> HexFileToChoose;
    std::string LastFilter;
    bool RealSleep = true;
    unsigned SleptMs = 0;
    int PendingInputCalls = 0;
    // Set: ProcessPendingInput handles nothing, as the window's pass does when it comes
    // within its interval of the previous one; only ProcessAllPendingInput handles input.
    bool SkipThrottledPasses = false;
    // How many of the coming pending-input calls SkipIdlePendingInput takes at each ask, as
    // a window does between two looks at its clock; 0: every call is made.
    std::size_t IdleCallsPerAsk = 0;
    std::size_t SkippedPendingInputs = 0;
    // Runs at every pending-input point; a test injects key commands here.
    std::function<void()> OnPendingInput;
    // Runs when a message box is shown, after it was recorded.
    std::function<void(const std::string&)> OnMessage;

    TGaugeModel Gauge;
    TTextArea Memo;
    TTextArea Terminal;

    void SetStatusText(const std::string& text) override {
        Status = text;
        Events.push_back("status:" + text);
    }
    void SetCalibrationText(const std::string& text) override { Calibration = text; }
    TGaugeModel& MainGauge() override { return Gauge; }
    void SetBlockBarMax(int max) override { BlockBarMax = max; }
    void SetBlockBarPosition(int position) override { BlockBarPosition = position; }
    void StepBlockBar() override { ++BlockBarPosition; }
    void SetControlEnabled(TCommandControl control, bool enabled) override {
        Enabled[control] = enabled;
    }
    void FocusControl(TCommandControl control) override { Focused = control; }
    TTextArea& MemoAbout() override { return Memo; }
    TTextArea& TextTerminal() override { return Terminal; }
    std::string PortText() override { return Port; }
    int BaudRateIndex() override { return BaudIndex; }
    void ProcessPendingInput() override {
        if (!SkipThrottledPasses) {
            ProcessAllPendingInput();
        }
    }
    std::size_t SkipIdlePendingInput(std::size_t calls) override {
        const std::size_t skipped = std::min(calls, IdleCallsPerAsk);
        SkippedPendingInputs += skipped;
        return skipped;
    }
    void ProcessAllPendingInput() override {
        ++PendingInputCalls;
        if (OnPendingInput) {
            OnPendingInput();
        }
    }
    void BringToFront() override { Events.push_back("front"); }
    void ShowMessage(const std::string& text) override {
        Messages.push_back(text);
        Events.push_back("message:" + text);
        if (OnMessage) {
            OnMessage(text);
        }
    }
    void MessageBeep(unsigned type) override {
        Beeps.push_back(type);
        Events.push_back("beep:" + std::to_string(type));
    }
    void Beep(unsigned frequency, unsigned milliseconds) override {
        Tones.push_back(frequency);
        Events.push_back("tone:" + std::to_string(frequency) + "/" + std::to_string(milliseconds));
    }
    void Sleep(unsigned milliseconds) override {
        SleptMs += milliseconds;
        if (RealSleep) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
    }
    std::optional<std::string> ChooseHexFile(const std::string& filter) override {
        LastFilter = filter;
        return HexFileToChoose;
    }
    std::string LongTimeText() override { return "12:34:56"; }

    bool IsEnabled(TCommandControl c) const { return Enabled.at(c); }
};
