// The window interface on a terminal, for one port of tarvex6-flash.
//
// The flows run unchanged over it: status and gauges become progress figures, message boxes
// become the port's messages, and the pending-input points are where a Ctrl+C becomes
// AbortRequested, as Ctrl+Del does in the window.  Nothing is shown from here; the progress
// goes to a callback at most ten times a second.  Each port has its own host, on its own
// thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ComUiThread.h"
#include "ProgramState.h"
#include "Progress.h"
#include "WindowHost.h"

class TTerminalHost : public TWindowHost, private TTextArea::TListener {
public:
    using TProgressSink = std::function<void(const TPortProgress&)>;

    // `interrupted` is asked at every pending-input point.
    TTerminalHost(TProgramState& state, std::string port, int baudIndex,
                  std::function<bool()> interrupted, TProgressSink sink);
    ~TTerminalHost() override;
    TTerminalHost(const TTerminalHost&) = delete;
    TTerminalHost& operator=(const TTerminalHost&) = delete;

    // The figures now.
    TPortProgress Snapshot() const;
    const std::vector<std::string>& Messages() const { return Messages_; }
    // The description the identification left, before the write's log lines.
    std::string Description() const;
    // The user-interface side of this port's serial component: its event dispatches run at
    // the pending-input points, as in the window.
    TComUiQueue& UiQueue() { return Ui; }
    // True once the engine has sent its first frame.
    bool WriteStarted() const { return Tries > 0; }

    void SetStatusText(const std::string& text) override;
    void SetCalibrationText(const std::string& text) override;
    TGaugeModel& MainGauge() override { return Gauge; }
    void SetBlockBarMax(int) override {}
    void SetBlockBarPosition(int position) override;
    void StepBlockBar() override;
    void SetControlEnabled(TCommandControl, bool) override {}
    void FocusControl(TCommandControl) override {}
    TTextArea& MemoAbout() override { return Memo; }
    TTextArea& TextTerminal() override { return Terminal; }
    std::string PortText() override { return Port; }
    int BaudRateIndex() override { return BaudIndex; }
    void ProcessPendingInput() override;
    void BringToFront() override {}
    void ShowMessage(const std::string& text) override;
    void MessageBeep(unsigned) override {}
    // No sound on a terminal, and so no reason to wait for one.
    void Beep(unsigned, unsigned) override {}
    void Sleep(unsigned milliseconds) override;
    std::optional<std::string> ChooseHexFile(const std::string&) override { return {}; }
    std::string LongTimeText() override;

private:
    using Clock = std::chrono::steady_clock;

    // TTextArea::TListener: every try of the engine logs its frame as a line of MemoAbout.
    void TextReset() override;
    void TextAppended(std::size_t firstLine) override;

    TPortProgress SnapshotAt(Clock::time_point now) const;
    void MaybeReport();

    TProgramState& State;
    std::string Port;
    int BaudIndex;
    std::function<bool()> Interrupted;
    TProgressSink Sink;

    TGaugeModel Gauge;
    TTextArea Memo, Terminal;
    TComUiQueue Ui;
    std::vector<std::string> Messages_;

    Clock::time_point Started = Clock::now();
    Clock::time_point WriteBegan{};
    Clock::time_point LastReport{};
    bool Reported = false;
    std::string Phase = "identify";
    std::size_t DescriptionEnd = std::string::npos; // Memo's size when the write started
    std::size_t LinesSeen = 0;
    std::int64_t Tries = 0;
    std::int64_t FailedTries = 0;
    std::array<std::int64_t, 3> Pauses{};
    std::int64_t BlockBarPosition = 0;
    std::int64_t BlockBarUnit = 0; // the gauge's count when the block bar last moved
    std::uint64_t SleptMs = 0;
};
