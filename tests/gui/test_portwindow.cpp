// The port list's drop-down and tool tips, and the serial port overview behind "Порт:".
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <vector>

#include "PortDiagnosis.h"
#include "WindowFixture.h"

namespace {

const char* const LongName = "TARVEX6-SIM-ON-A-LONG-LINK";

TSerialPortInfo FtdiAdapter() {
    TSerialPortInfo info;
    info.Name = "ttyUSB0";
    info.DevicePath = "/dev/ttyUSB0";
    info.Driver = "ftdi_sio";
    info.Manufacturer = "FTDI";
    info.Product = "FT232R USB UART";
    info.SerialNumber = "A12345";
    info.VendorId = "0403";
    info.ProductId = "6001";
    info.ById = {"usb-FTDI_FT232R_USB_UART_A12345-if00-port0"};
    info.Access = TPortAccess::Allowed;
    info.Group = "dialout";
    info.Mode = "crw-rw----";
    return info;
}

TSerialPortInfo DeniedAcm() {
    TSerialPortInfo info;
    info.Name = "ttyACM0";
    info.DevicePath = "/dev/ttyACM0";
    info.Driver = "cdc_acm";
    info.Access = TPortAccess::NotInGroup;
    info.Group = "dialout";
    info.Mode = "crw-rw----";
    return info;
}

bool Has(const QString& text, const char* piece) {
    return text.contains(QString::fromUtf8(piece));
}

// What the window says of the port it may not open is the system's own: the group to join
// on Linux, the program that may hold the port on Windows.
#ifdef _WIN32
const char* const DeniedTip = "Система не дає відкрити";
const std::vector<const char*> DeniedAdvice = {"ttyACM0", "Закрийте програму, що тримає порт"};
#else
const char* const DeniedTip = "dialout";
const std::vector<const char*> DeniedAdvice = {"ttyACM0", "групі dialout",
                                               "sudo usermod -aG dialout", "увійдіть знову"};
#endif

TEST_F(WindowTest, PortListDropsDownAsWideAsItsLongestNameAndKeepsItsSize) {
    Create({"ttyS0", LongName});
    ShowForm();
    EXPECT_EQ(Form().cbPort->geometry(), QRect(30, 37, 73, 21));
    Form().cbPort->showPopup();
    const QAbstractItemView* list = Form().cbPort->view();
    ASSERT_TRUE(list->isVisible());
    const int longest = list->fontMetrics().horizontalAdvance(QString::fromLatin1(LongName));
    EXPECT_GE(list->viewport()->width(), longest);
    EXPECT_EQ(Form().cbPort->geometry(), QRect(30, 37, 73, 21));
    Form().cbPort->hidePopup();
}

TEST_F(WindowTest, EachPortEntrySaysWhatThePortIs) {
    PortFacts["ttyUSB0"] = FtdiAdapter();
    PortFacts["ttyACM0"] = DeniedAcm();
    Create({"ttyACM0", "ttyUSB0"});
    const auto tip = [this](int index) {
        return Form().cbPort->itemData(index, Qt::ToolTipRole).toString();
    };
    for (const char* piece : {"/dev/ttyUSB0", "ftdi_sio", "FTDI FT232R USB UART", "A12345",
                              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0"}) {
        EXPECT_TRUE(Has(tip(1), piece)) << piece;
    }
    EXPECT_FALSE(Has(tip(1), "Немає доступу"));
    EXPECT_TRUE(Has(tip(0), "cdc_acm"));
    EXPECT_TRUE(Has(tip(0), "Немає доступу"));
    EXPECT_TRUE(Has(tip(0), DeniedTip));
    EXPECT_EQ(Form().cbPort->toolTip(), QStringLiteral("Ctrl+R оновлення списку портів"));

    // A refreshed list carries its tool tips too.
    Ports = {"ttyUSB0"};
    Form().RefreshPortList();
    EXPECT_TRUE(Has(tip(0), "FTDI FT232R USB UART"));
}

TEST_F(WindowTest, PortLabelOpensTheSerialPortOverview) {
    PortFacts["ttyUSB0"] = FtdiAdapter();
    PortFacts["ttyACM0"] = DeniedAcm();
    Create({"ttyACM0", "ttyUSB0"});
    ShowForm();
    Recorder.Clear();
    QTest::mouseClick(Form().Label1, Qt::LeftButton);
    TPortDiagnosis* overview = Form().PortDiagnosis;
    ASSERT_NE(overview, nullptr);
    EXPECT_TRUE(overview->isVisible());
    EXPECT_TRUE(Recorder.Records.empty()); // no sound, no message box

    ASSERT_EQ(overview->PortTable->topLevelItemCount(), 2);
    const QTreeWidgetItem* acm = overview->PortTable->topLevelItem(0);
    const QTreeWidgetItem* ftdi = overview->PortTable->topLevelItem(1);
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColPort), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColDriver), QStringLiteral("ftdi_sio"));
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColUsb),
              QStringLiteral("FTDI FT232R USB UART (USB 0403:6001)"));
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColSerial), QStringLiteral("A12345"));
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColById),
              QStringLiteral("usb-FTDI_FT232R_USB_UART_A12345-if00-port0"));
    EXPECT_EQ(ftdi->text(TPortDiagnosis::ColAccess), QStringLiteral("так"));
    EXPECT_EQ(acm->text(TPortDiagnosis::ColAccess), QStringLiteral("ні"));

    // The reason and the fix for the port that cannot be opened, and only for it.
    const QString advice = overview->Advice->text();
    for (const char* piece : DeniedAdvice) {
        EXPECT_TRUE(Has(advice, piece)) << piece;
    }
    EXPECT_FALSE(Has(advice, "ttyUSB0"));
    EXPECT_TRUE(Has(overview->Intro->text(), "Порт зайнятий іншою програмою"));
    // The label keeps its tool tip.
    EXPECT_EQ(Form().Label1->toolTip(), QStringLiteral("Запустити диспетчер пристроїв"));

    // A second click shows the same window with the facts read again.
    PortFacts["ttyACM0"].Access = TPortAccess::Allowed;
    overview->close();
    QTest::mouseClick(Form().Label1, Qt::LeftButton);
    EXPECT_EQ(Form().PortDiagnosis, overview);
    EXPECT_TRUE(overview->isVisible());
    EXPECT_EQ(overview->PortTable->topLevelItem(0)->text(TPortDiagnosis::ColAccess),
              QStringLiteral("так"));
    EXPECT_EQ(overview->Advice->text(), QStringLiteral("Усі порти можна відкрити."));
}

TEST_F(WindowTest, PortOverviewWithoutPortsOrWithoutTheSystemsList) {
    Create({});
    Form().Label1Click();
    TPortDiagnosis* overview = Form().PortDiagnosis;
    ASSERT_NE(overview, nullptr);
    EXPECT_EQ(overview->PortTable->topLevelItemCount(), 0);
    EXPECT_TRUE(Has(overview->Advice->text(), "Послідовних портів не знайдено"));

    PortListFails = true;
    overview->ButtonRefresh->click();
    EXPECT_EQ(overview->Advice->text(), QString::fromUtf8(ComMessageText(15)));
    EXPECT_TRUE(Recorder.Of(TFeedbackRecorder::TKind::Error).empty());
}

TEST_F(WindowTest, TheOverviewNamesWhoHoldsAPortAndTheServicesThatTakeAdapters) {
    TSerialPortInfo held = FtdiAdapter();
    held.Holders = {{1234, "minicom", "ivan", ""}};
    held.ModemManagerProbes = true;
    held.BrlttyRules = "/usr/lib/udev/rules.d/85-brltty.rules";
    PortFacts["ttyUSB0"] = held;
    Create({"ttyUSB0"});
    const QString tip = Form().cbPort->itemData(0, Qt::ToolTipRole).toString();
    EXPECT_TRUE(Has(tip, "ENV{ID_MM_DEVICE_IGNORE}=\"1\"")) << tip.toStdString();
    Form().Label1Click();
    TPortDiagnosis* overview = Form().PortDiagnosis;
    ASSERT_NE(overview, nullptr);
    EXPECT_EQ(overview->PortTable->topLevelItem(0)->text(TPortDiagnosis::ColHeldBy),
              QStringLiteral("minicom 1234"));
    const QString advice = overview->Advice->text();
    for (const char* piece : {"ttyUSB0: Порт тримає: minicom (процес 1234, користувач ivan)",
                              "ENV{ID_MM_DEVICE_IGNORE}=\"1\"", "sudo apt remove brltty"}) {
        EXPECT_TRUE(Has(advice, piece)) << piece;
    }
}

// A USB adapter whose strings and a holder whose name carry escape sequences and a
// right-to-left override, and a stale lock: all shown as text, never obeyed.
TEST_F(WindowTest, TheOverviewShowsHostileNamesAsText) {
    TSerialPortInfo hostile = FtdiAdapter();
    hostile.Product = std::string("UART\x1b[2J\xE2\x80\xAE") + "evil";
    hostile.Holders = {{1234, "mc\x1b]0;PWNED\x07", "ivan", ""}};
    hostile.StaleLocks = {{"/run/lock/LCK..ttyUSB0", 2, TStaleLock::TWhy::KernelThread}};
    PortFacts["ttyUSB0"] = hostile;
    Create({"ttyUSB0"});
    const QString tip = Form().cbPort->itemData(0, Qt::ToolTipRole).toString();
    EXPECT_TRUE(Has(tip, "FTDI UART\\x1b[2J\\u202eevil")) << tip.toStdString();
    EXPECT_TRUE(Has(tip, "\n/dev/serial/by-id/")) << tip.toStdString(); // its own lines stay
    Form().Label1Click();
    TPortDiagnosis* overview = Form().PortDiagnosis;
    ASSERT_NE(overview, nullptr);
    const QTreeWidgetItem* row = overview->PortTable->topLevelItem(0);
    EXPECT_EQ(row->text(TPortDiagnosis::ColUsb).toStdString(),
              "FTDI UART\\x1b[2J\\u202eevil (USB 0403:6001)");
    EXPECT_EQ(row->text(TPortDiagnosis::ColHeldBy).toStdString(), "mc\\x1b]0;PWNED\\x07 1234");
    const std::string advice = overview->Advice->text().toStdString();
    EXPECT_EQ(advice.find_first_of("\x1b\x07"), std::string::npos) << advice;
    EXPECT_NE(advice.find("ttyUSB0: Застарілий файл блокування /run/lock/LCK..ttyUSB0: процес 2 "
                          "- потік ядра; порт він не тримає"),
              std::string::npos)
        << advice;
}

} // namespace
