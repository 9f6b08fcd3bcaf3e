// The operations the flows (preparation, identification, flashing) perform on the window.
//
// TMainForm implements them with widgets; tests use a recording double; another front end
// can implement them on a terminal.  Everything runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "GaugeModel.h"
#include "TextArea.h"

// The five controls whose enabled state ever changes.
enum class TCommandControl { ButtonConect, ButtonOpenHex, ButtonWrite, cbPort, cbBaudRate };

// MessageBeep types.
enum TBeepType : unsigned {
    mbError = 16, // the system's stop sound
    mbQuestion = 32,
    mbExclamation = 48,
    mbInformation = 64, // the system's asterisk sound
};

class TWindowHost {
public:
    virtual ~TWindowHost() = default;

    // LabelNameOfHex.
    virtual void SetStatusText(const std::string& text) = 0;
    // Label3, the pause read-out.
    virtual void SetCalibrationText(const std::string& text) = 0;

    // ProgressbarReadWrite.
    virtual TGaugeModel& MainGauge() = 0;
    // ProgressbarWrite.
    virtual void SetBlockBarMax(int max) = 0;
    virtual void SetBlockBarPosition(int position) = 0;
    virtual void StepBlockBar() = 0;

    virtual void SetControlEnabled(TCommandControl control, bool enabled) = 0;
    virtual void FocusControl(TCommandControl control) = 0;

    virtual TTextArea& MemoAbout() = 0;
    virtual TTextArea& TextTerminal() = 0;

    // cbPort's text and cbBaudRate's item index (-1 when nothing is chosen).
    virtual std::string PortText() = 0;
    virtual int BaudRateIndex() = 0;

    // Lets the window handle input that has queued up; cheap when none is waiting.  A window
    // may skip a pass that comes too soon after the previous one.
    virtual void ProcessPendingInput() = 0;
    // The same, never skipped: used right before the flows look at a command's flag, so a
    // Ctrl+Del waiting in the queue is seen at that check and not one unit later.
    virtual void ProcessAllPendingInput() { ProcessPendingInput(); }
    // Counts up to `calls` of the coming ProcessPendingInput calls as made, as many as the
    // window knows would skip their pass; returns how many it counted.  For a loop whose
    // steps change nothing else, so that those steps cost nothing.
    virtual std::size_t SkipIdlePendingInput(std::size_t calls) {
        (void)calls;
        return 0;
    }
    virtual void BringToFront() = 0;

    // The plain message box: returns when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void MessageBeep(unsigned type) = 0;
    // Blocks for `milliseconds` while the tone plays (silently where there is no audio).
    virtual void Beep(unsigned frequency, unsigned milliseconds) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // The file dialog of "Відкрити"; no value when the user cancels.
    virtual std::optional<std::string> ChooseHexFile(const std::string& filter) = 0;
    // The time of day in the system's long time format (hours, minutes, seconds).
    virtual std::string LongTimeText() = 0;
};
