// The real window on Windows (under Wine, the windows platform plugin on an X display),
// writing the built-in firmware into the instrument simulator that the host side put behind
// the COM port named in TARVEX_WIN_PORT.  Nothing is replaced: the port list is the
// system's, the message box and the sounds are the real ones; the completion message box is
// read and closed as a technician would close it.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

} // namespace
