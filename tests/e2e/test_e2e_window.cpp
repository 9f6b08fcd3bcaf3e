// End to end: the real main window (offscreen), its real serial port on a pseudo-terminal,
// and the instrument simulator; what the instrument received is checked from its records.
#include <QApplication>
#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CompletionMessage.h"
#include "Protocol.h"
#include "SimProcess.h"
#include "WindowFixture.h"

namespace {

using TKind = TFeedbackRecord::TKind;
using Control = TCommandControl;

std::string ImageBytes(const TImageText& image, std::size_t count) {
    std::string bytes;
    bytes.reserve(count);
    for (std::size_t a = 0; a < count; ++a) {
        bytes += static_cast<char>(std::stoi(image.substr(2 * a, 2), nullptr, 16));
    }
    return bytes;
}

long Count(const std::vector<std::string>& frames, const std::string& which) {
    return std::count(frames.begin(), frames.end(), which);
}

// HEX files for "Відкрити", removed with the fixture.
class TTempFiles {
public:
    TTempFiles()
        : Dir(std::filesystem::temp_directory_path() /
              ("tarvex6-e2e-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(Dir);
    }
    ~TTempFiles() { std::filesystem::remove_all(Dir); }
    TTempFiles(const TTempFiles&) = delete;
    TTempFiles& operator=(const TTempFiles&) = delete;

    std::string Write(const std::string& name, const std::string& text) const {
        const auto path = Dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

private:
    std::filesystem::path Dir;
};

class WindowOnSim : public WindowTest {
protected:
    void StartWith(std::vector<std::string> simArgs) {
        Sim = std::make_unique<TSimProcess>(std::move(simArgs));
        Create({Sim->PtyPath()}, std::nullopt); // the built-in firmware
        ShowForm();
        ASSERT_EQ(Form().PortText(), Sim->PtyPath());
        ASSERT_EQ(Form().BaudRateIndex(), 12); // 115200
        ASSERT_EQ(Form().State.FlashImage.size(), 40'000'000u);
        Recorder.Clear();
    }

    std::unique_ptr<TSimProcess> Sim;
};

} // namespace

TEST_F(WindowOnSim, FlashesTheBuiltInFirmwareIntoA64KiBInstrument) {
    StartWith({}); // 64 KiB in units of one 64-byte block; reports 241003
    Form().ButtonWrite->click();

    EXPECT_TRUE(Recorder.Of(TKind::Error).empty())
        << (Recorder.Of(TKind::Error).empty() ? "" : Recorder.Of(TKind::Error)[0].Text);
    const auto messages = Recorder.Texts(TKind::Message);
    ASSERT_EQ(messages.size(), 1u);
    // The time of day is read twice; only its place in the texts is fixed.
    const std::string& lead = CompletionLead;
    const std::string& tail = CompletionTail;
    ASSERT_EQ(messages[0].rfind(lead, 0), 0u) << messages[0];
    ASSERT_GT(messages[0].size(), lead.size() + tail.size());
    EXPECT_EQ(messages[0].substr(messages[0].size() - tail.size()), tail);
    const std::string time =
        messages[0].substr(lead.size(), messages[0].size() - lead.size() - tail.size());
    EXPECT_GE(time.size(), 5u);
    EXPECT_EQ(Form().StatusText().rfind("Мікропрограма : успішно завантажена в ", 0), 0u);

    EXPECT_FALSE(Form().BComPort1.IsOpen());
    EXPECT_FALSE(Form().IsControlEnabled(Control::ButtonWrite));
    for (const auto c :
         {Control::ButtonConect, Control::ButtonOpenHex, Control::cbPort, Control::cbBaudRate}) {
        EXPECT_TRUE(Form().IsControlEnabled(c)) << static_cast<int>(c);
    }
    // The compact view hides "Визначити": the focus does not go there.
    const QWidget* focus = Form().focusWidget();
    EXPECT_TRUE(focus == nullptr || !Form().sPanel2->isAncestorOf(focus))
        << focus->objectName().toStdString();
    EXPECT_EQ(Form().MainGauge().Progress(), 0);
    EXPECT_EQ(Form().MainGauge().MaxValue(), 1024);
    EXPECT_EQ(Recorder.Beeps(), (std::vector<unsigned>{mbInformation, mbExclamation}));

    Sim->Stop();
    const auto frames = Sim->ReceivedFrames();
    EXPECT_EQ(Count(frames, "g0101;"), 2);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[frames.size() - 1], "g0101;");
    EXPECT_EQ(frames[frames.size() - 2], "g0101;");
    // Every unit erased and every block written and committed; a reply split or delayed
    // on a busy machine costs a retry, which the pauses then absorb.
    EXPECT_GE(Sim->SummaryCount("erases"), 1024);
    EXPECT_GE(Sim->SummaryCount("writes"), 1024);
    EXPECT_GE(Sim->SummaryCount("commits"), 1024);
    RecordProperty("calibration", Form().CalibrationText());
    const std::string flash = Sim->Flash();
    ASSERT_EQ(flash.size(), 65536u);
    EXPECT_TRUE(flash == ImageBytes(Form().State.FlashImage, 65536)) << "flash differs";
    // The version block of the built-in firmware arrived where it belongs.
    EXPECT_EQ(flash.substr(0xF120, 12), std::string("\x55\xAA\xAA\x55"
                                                    "241004\x02\x00",
                                                    12));
}

TEST_F(WindowOnSim, RefusedFilesLeaveTheBuiltInFirmwareToBeWritten) {
    StartWith({});
    const TImageText builtIn = Form().State.FlashImage;
    const TTempFiles files;
    // No data record at all (an S-record file), then data followed by a Start Linear
    // Address record: both refused, neither may leave a trace in the image.
    FilesToChoose = {files.Write("srec.hex", "S00F000068656C6C6F202020202000003C\r\n"
                                             "S9030000FC\r\n"),
                     files.Write("arm.hex", ":0400000001020304F2\r\n"
                                            ":0400000508000131BD\r\n:00000001FF\r\n")};
    Form().ButtonOpenHex->click();
    Form().ButtonOpenHex->click();
    EXPECT_EQ(Recorder.Texts(TKind::Message),
              (std::vector<std::string>{
                  "Немає жодного запису даних Intel HEX у файлі мікропрограми: srec.hex",
                  "Знайдено: Start Linear Address Records (MDK-ARM only): 2! "
                  "(:0400000508000131BD)"}));
    EXPECT_EQ(Recorder.Beeps(), (std::vector<unsigned>{mbError, mbError}));
    EXPECT_EQ(Form().StatusText(), "Мікропрограма готова до запису");
    ASSERT_TRUE(Form().IsControlEnabled(Control::ButtonWrite));

    Recorder.Clear();
    Form().ButtonWrite->click();
    ASSERT_EQ(Recorder.Texts(TKind::Message).size(), 1u);
    EXPECT_EQ(Form().StatusText().rfind("Мікропрограма : успішно завантажена в ", 0), 0u);
    Sim->Stop();
    EXPECT_TRUE(Sim->Flash() == ImageBytes(builtIn, 65536)) << "flash differs";
    EXPECT_EQ(Count(Sim->ReceivedFrames(), "g0101;"), 2);
}

TEST_F(WindowOnSim, IdentifyIsIgnoredWhileAFileIsPrepared) {
    // An instrument with an unknown bootloader: an identification would empty TextTerminal.
    StartWith({"--loader-version", "03"});
    const TTempFiles files;
    FilesToChoose = {files.Write("small.hex", SmallFirmware)};
    QTimer clicks;
    int clicked = 0;
    QObject::connect(&clicks, &QTimer::timeout, [&] {
        if (Form().State.PreparationRunning) {
            ++clicked;
            Form().ButtonConect->click();
        }
    });
    // The window looks at waiting input at most every 5 ms after its last look, and the
    // preparation of this small file can end within that; once that time has passed since
    // the set-up's last look, the preparation's first pending-input point is due.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    clicks.start(0);
    Form().ButtonOpenHex->click();
    clicks.stop();

    ASSERT_GT(clicked, 0);
    EXPECT_EQ(Recorder.Texts(TKind::Message),
              std::vector<std::string>{"Мікропрограма відкрита,\r\n   запишіть її в прилад"});
    EXPECT_EQ(Form().State.FlashImage.substr(0, 10), "01020304FF");
    EXPECT_EQ(Form().State.FlashImage.size(), 40'000'000u);
    Sim->Stop();
    EXPECT_TRUE(Sim->ReceivedFrames().empty());
}

TEST_F(WindowOnSim, CtrlDelFromTheKeyboardStopsTheWriteAfterItsFirstUnit) {
    StartWith({"--geometry", "1,64,6"});
    // The key goes in through the window's own key handling, at one of the write's
    // pending-input points once the first unit has been completed.
    QTimer keys;
    bool pressed = false;
    QObject::connect(&keys, &QTimer::timeout, [&] {
        if (!pressed && Form().IsControlEnabled(Control::ButtonWrite) == false &&
            Form().MainGauge().MaxValue() == 6 && Form().MainGauge().Progress() >= 1) {
            pressed = true;
            QTest::keyClick(&Form(), Qt::Key_Delete, Qt::ControlModifier);
        }
    });
    keys.start(0);
    Form().ButtonWrite->click();
    keys.stop();

    ASSERT_TRUE(pressed);
    EXPECT_EQ(Recorder.Texts(TKind::Message),
              std::vector<std::string>{"                   Зупинено користувачем!\r\n"
                                       "         Мікропрограма записана частково!\r\n"
                                       "Необхідно повторно вибрати файл прошивки,\r\n"
                                       "    і провести запис, інакще в подальшому\r\n"
                                       "             прилад буде не працездатний!"});
    EXPECT_EQ(Form().StatusText(), "Зупинено користувачем");
    for (const auto c : {Control::ButtonConect, Control::ButtonOpenHex, Control::ButtonWrite,
                         Control::cbPort, Control::cbBaudRate}) {
        EXPECT_TRUE(Form().IsControlEnabled(c)) << static_cast<int>(c);
    }
    EXPECT_TRUE(Form().BComPort1.IsOpen());
    EXPECT_TRUE(Form().State.AbortRequested);
    EXPECT_FALSE(Form().State.WriteRunning);
    Form().BComPort1.Close();
    Sim->Stop();
    const auto frames = Sim->ReceivedFrames();
    EXPECT_EQ(Count(frames, "g0101;"), 0);
    EXPECT_LT(Sim->SummaryCount("erases"), 6);
    EXPECT_GE(Sim->SummaryCount("erases"), 1);
}
