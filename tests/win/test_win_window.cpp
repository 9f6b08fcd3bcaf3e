// The real window on Windows (under Wine, the windows platform plugin on an X display),
// writing the built-in firmware into the instrument simulator that the host side put behind
// the COM port named in TARVEX_WIN_PORT.  Nothing is replaced: the port list is the
// system's, the message box and the sounds are the real ones; the completion message box is
// read and closed as a technician would close it.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Application.h"
#include "CompletionMessage.h"
#include "Feedback.h"
#include "MainForm.h"

namespace {

std::string PortUnderTest() {
    const char* port = std::getenv("TARVEX_WIN_PORT");
    return port != nullptr ? port : "";
}

// Reads and closes every message box that comes up modally, as the user's OK would.
class TMessageBoxReader {
public:
    TMessageBoxReader() {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            Texts.push_back(box->text().toStdString());
            Titles.push_back(box->windowTitle().toStdString());
            box->button(QMessageBox::Ok)->click();
        });
        Timer.start(100);
    }

    std::vector<std::string> Texts;
    std::vector<std::string> Titles;

private:
    QTimer Timer;
};

TEST(WinWindow, WritesTheBuiltInFirmwareThroughTheComPort) {
    const std::string port = PortUnderTest();
    ASSERT_FALSE(port.empty()) << "TARVEX_WIN_PORT names no port";
    TFeedback::SetApplicationTitle(InitialApplicationTitle);
    TApplicationWindows windows = CreateApplicationWindows();
    TMainForm& form = *windows.MainForm;
    form.show();
    QApplication::processEvents();
    ASSERT_EQ(form.StatusText(), "Мікропрограма готова до запису");

    // The port is chosen from the system's list, as the user does.
    const std::vector<std::string> ports = form.PortItems();
    int index = -1;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i] == port) {
            index = static_cast<int>(i);
        }
    }
    ASSERT_GE(index, 0) << port << " is not in the port list";
    form.cbPort->setCurrentIndex(index);
    emit form.cbPort->activated(index);
    ASSERT_EQ(form.PortText(), port);

    TMessageBoxReader reader;
    form.ButtonWrite->click();

    ASSERT_EQ(reader.Texts.size(), 1u) << (reader.Texts.empty() ? "" : reader.Texts[0]);
    const std::string& message = reader.Texts[0];
    const std::string& lead = CompletionLead;
    // The box shows the text with its line breaks as the toolkit keeps them.
    const std::string expectedTail = WithLineFeeds(CompletionTail);
    const std::string shown = WithLineFeeds(message);
    ASSERT_EQ(shown.rfind(lead, 0), 0u) << message;
    ASSERT_GT(shown.size(), lead.size() + expectedTail.size()) << message;
    EXPECT_EQ(shown.substr(shown.size() - expectedTail.size()), expectedTail) << message;
    // The time of completion in the system's long time format: hours, minutes and seconds.
    const std::string time =
        shown.substr(lead.size(), shown.size() - lead.size() - expectedTail.size());
    EXPECT_GE(std::count(time.begin(), time.end(), ':'), 2) << time;
    EXPECT_EQ(reader.Titles[0], TFeedback::ApplicationTitle());
    EXPECT_EQ(form.StatusText().rfind("Мікропрограма : успішно завантажена в ", 0), 0u)
        << form.StatusText();
    EXPECT_FALSE(form.BComPort1.IsOpen());
}

// Keys as the keyboard gives them: through the system's input queue to the window that has
// the focus, with the system's own key-up and whatever the toolkit makes of them.
class TNativeKeys : public QObject {
public:
    TNativeKeys() { qApp->installEventFilter(this); }
    ~TNativeKeys() override { qApp->removeEventFilter(this); }

    static void Send(WORD key, bool down) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        ::SendInput(1, &input, sizeof(input));
    }
    static void Click(WORD key) {
        Send(key, true);
        Send(key, false);
    }
    // Input is handled in order: once a marker key sent last has arrived, so has all that
    // went before it.
    bool Settle() {
        const int seen = Markers;
        Click(VK_F13);
        QElapsedTimer waited;
        waited.start();
        while (Markers == seen && waited.elapsed() < 10'000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return Markers != seen;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease && watched->isWidgetType() &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F13 &&
            !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
            ++Markers;
        }
        return false;
    }

private:
    int Markers = 0;
};

// Brings a window to the front and waits (bounded) until it has the keyboard.
bool Activate(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
    QElapsedTimer waited;
    waited.start();
    while (QApplication::activeWindow() != &window && waited.elapsed() < 10'000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return QApplication::activeWindow() == &window;
}

// Answers the next message box with Enter as the keyboard gives it: down, and up again only
// if `release`.
void AnswerNextBoxWithEnter(bool release) {
    auto* answer = new QTimer;
    QObject::connect(answer, &QTimer::timeout, [answer, release] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr || QApplication::activeWindow() != box) {
            return;
        }
        answer->stop();
        answer->deleteLater();
        TNativeKeys::Send(VK_RETURN, true);
        if (release) {
            TNativeKeys::Send(VK_RETURN, false);
        }
    });
    answer->start(20);
}

TEST(WinWindowKeys, EnterThatAnswersABoxOpensNothingInTheWindowBelow) {
    TFeedback::SetApplicationTitle(InitialApplicationTitle);
    int fileDialogs = 0;
    TMainForm::TSeams seams;
    seams.ListPorts = [](std::vector<std::string>& list) { list = {"COM7"}; };
    seams.ChooseFile = [&](const std::string&) -> std::optional<std::string> {
        ++fileDialogs;
        return std::nullopt;
    };
    TApplicationWindows windows = CreateApplicationWindows(std::move(seams));
    TMainForm& form = *windows.MainForm;
    ASSERT_TRUE(Activate(form));
    TNativeKeys keys;

    // The compact view, a write under way ("Прошити" and the lists disabled) and its error
    // box answered with Enter; then Enter on the window.
    form.ButtonWrite->setFocus();
    for (auto control : {TCommandControl::cbPort, TCommandControl::cbBaudRate,
                         TCommandControl::ButtonConect, TCommandControl::ButtonWrite}) {
        form.SetControlEnabled(control, false);
    }
    AnswerNextBoxWithEnter(true);
    TFeedback::ShowMessage("Помилка читання з порта");
    ASSERT_TRUE(Activate(form));
    TNativeKeys::Click(VK_RETURN);
    ASSERT_TRUE(keys.Settle());
    EXPECT_EQ(fileDialogs, 0);

    // The service area shown, "Відкрити" holding the focus: the Enter that answers a box,
    // released only once the box has gone, presses nothing; the next Enter presses it.
    for (auto control : {TCommandControl::cbPort, TCommandControl::cbBaudRate,
                         TCommandControl::ButtonConect, TCommandControl::ButtonWrite}) {
        form.SetControlEnabled(control, true);
    }
    form.ExpandView();
    form.FocusControl(TCommandControl::ButtonOpenHex);
    AnswerNextBoxWithEnter(false);
    TFeedback::ShowMessage("Порти оновлено!");
    ASSERT_TRUE(Activate(form));
    TNativeKeys::Send(VK_RETURN, false);
    ASSERT_TRUE(keys.Settle());
    EXPECT_EQ(fileDialogs, 0);
    TNativeKeys::Click(VK_RETURN);
    ASSERT_TRUE(keys.Settle());
    EXPECT_EQ(fileDialogs, 1);
}

} // namespace
