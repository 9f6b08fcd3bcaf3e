// Every message box, error box, beep, tone and shell open of the program passes through
// here, so that the texts and sounds are shown or played in one way and tests can watch
// them without a modal loop.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "ComMessages.h"

class QMessageBox;

struct TFeedbackRecord {
    enum class TKind { Message, Error, Beep, Tone, OpenUrl };
    TKind Kind = TKind::Message;
    std::string Text;    // the text as shown (error: with its full stop), or the address
    std::string Caption; // message and error boxes
    unsigned Value = 0;  // MessageBeep type or tone frequency
    unsigned Duration = 0;
    // Whether any window of the program was on screen at that moment.
    bool WindowVisible = false;
};

class TFeedback {
public:
    // The application title: every message box carries it as its caption.
    static void SetApplicationTitle(const std::string& title);
    static const std::string& ApplicationTitle();

    // The plain message box: no icon, one "OK", line breaks and leading blanks kept.
    static void ShowMessage(const std::string& text);
    // The error box of general error reporting: error icon, the text with WithFullStop, and
    // below it on a line of its own `detail` when there is one.
    static void ShowError(const std::string& text, const std::string& detail = {});
    // The text plus "." when its last character's code is above that of ".".
    static std::string WithFullStop(const std::string& text);

    static void MessageBeep(unsigned type);
    // Blocks for the tone's duration.
    static void Beep(unsigned frequency, unsigned milliseconds);
    // Hands an address to the desktop (browser, file manager); the result is not looked at.
    static void OpenUrl(const std::string& address);

    // The boxes as they would be shown, for inspection.
    static std::unique_ptr<QMessageBox> MessageBox(const std::string& text);
    static std::unique_ptr<QMessageBox> ErrorBox(const std::string& text);

    // With a sink set nothing is shown, played or opened: each call is handed to the sink
    // and returns at once.  An empty function restores the real behaviour.
    using TSink = std::function<void(const TFeedbackRecord&)>;
    static void SetSink(TSink sink);

private:
    static bool ToSink(TFeedbackRecord record);
};

// General error reporting: runs `action`; an exception ends it there and is shown in the
// error box, after which the caller goes on.
template <class F> void ReportErrors(F&& action) {
    try {
        action();
    } catch (const EComPort& e) {
        TFeedback::ShowError(e.what(), e.Detail()); // message 2: who holds the port
    } catch (const std::exception& e) {
        TFeedback::ShowError(e.what());
    }
}
