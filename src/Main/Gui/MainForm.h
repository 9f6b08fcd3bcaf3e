// The main window: the controls of the flasher, the program-wide values, the serial port
// and the handlers that start the flows.
//
// Everything a flow does to the window goes through TWindowHost; every handler runs inside
// general error reporting (ReportErrors), so an error ends the handler and the window goes
// on with the state reached.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BCPort.h"
#include "Flows.h"
#include "PortInfo.h"
#include "ProgramState.h"
#include "WindowHost.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class TFormHelp;
class TGauge;
class TKeyPreview;
class TPortDiagnosis;
class TSkinManager;
class TTextView;

class TMainForm : public QWidget, public TWindowHost {
    Q_OBJECT
public:
    // What the window takes from the machine, replaceable for tests.
    struct TSeams {
        // Fills a list with the machine's serial ports (ListSerialPorts by default).
        std::function<void(std::vector<std::string>&)> ListPorts;
        // The firmware text held by TextTerminal before the start-up (built-in by default).
        std::optional<std::string> FirmwareText;
        // The file dialog of "Відкрити" (a real dialog by default).
        std::function<std::optional<std::string>(const std::string& filter)> ChooseFile;
        // What one listed port is, for its tool tip (DescribeSerialPort by default, without
        // looking at the processes or the kernel log).
        std::function<TSerialPortInfo(const std::string& name)> DescribePort;
        // Every port with its facts, for the port overview (DescribeSerialPorts by default).
        std::function<std::vector<TSerialPortInfo>()> DescribePorts;
    };

    static constexpr int ClientWidth = 329;
    static constexpr int CompactClientHeight = 127;
    static constexpr int ExpandedOuterHeight = 340;
    static constexpr int SnapDistance = 10;

    // Builds the window and runs FormCreate; the window is not shown.
    explicit TMainForm(TSeams seams = {});
    ~TMainForm() override;

    // The about window shown by F1 and the about button.
    void SetFormHelp(TFormHelp* formHelp) { FormHelp = formHelp; }

    // Handlers.
    void FormCreate();
    void FormKeyDown(int virtualKey, Qt::KeyboardModifiers shift);
    void FormResize();
    void FormActivate();
    void Label1Click();
    void cbPortChange();
    void cbBaudRateChange();
    void ButtonWriteClick();
    void ButtonConectClick();
    void ButtonOpenHexClick();
    void sButton2Click();
    void sButton3Click();
    void sComboBoxSkinNameChange();

    // Keyboard commands of FormKeyDown.
    void ShowFormHelp();
    void ExpandView();
    void RefreshPortList();

    // TWindowHost.
    void SetStatusText(const std::string& text) override;
    void SetCalibrationText(const std::string& text) override;
    TGaugeModel& MainGauge() override;
    void SetBlockBarMax(int max) override;
    void SetBlockBarPosition(int position) override;
    void StepBlockBar() override;
    void SetControlEnabled(TCommandControl control, bool enabled) override;
    void FocusControl(TCommandControl control) override;
    TTextArea& MemoAbout() override;
    TTextArea& TextTerminal() override;
    std::string PortText() override;
    int BaudRateIndex() override;
    void ProcessPendingInput() override;
    void ProcessAllPendingInput() override;
    std::size_t SkipIdlePendingInput(std::size_t calls) override;
    void BringToFront() override;
    void ShowMessage(const std::string& text) override;
    void MessageBeep(unsigned type) override;
    void Beep(unsigned frequency, unsigned milliseconds) override;
    void Sleep(unsigned milliseconds) override;
    std::optional<std::string> ChooseHexFile(const std::string& filter) override;
    std::string LongTimeText() override;

    // Read-outs of the window's state.
    QWidget* Control(TCommandControl control) const;
    bool IsControlEnabled(TCommandControl control) const;
    std::string StatusText() const;
    std::string CalibrationText() const;
    std::vector<std::string> PortItems() const;
    bool IsExpanded() const { return Expanded; }

    // The system's long time format with hours, minutes and seconds and no time zone.
    static QString LongTimeFormat();
    // A file-dialog filter written "description|pattern|description|pattern" in Qt's form.
    static QString QtFileFilter(const std::string& filter);

    TProgramState State;
    TBComPort BComPort1;
    TSkinManager* sSkinManager1 = nullptr;

    // Controls, in the order the window creates them.
    QLabel* Label3 = nullptr;
    QLabel* LabelNameOfHex = nullptr;
    TGauge* ProgressbarReadWrite = nullptr;
    TTextView* MemoAboutView = nullptr;
    TTextView* TextTerminalView = nullptr;
    QComboBox* sComboBoxSkinName = nullptr;
    QProgressBar* ProgressbarWrite = nullptr;
    QFrame* sPanel1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cbPort = nullptr;
    QToolButton* ButtonWrite = nullptr;
    QFrame* sPanel2 = nullptr;
    QPushButton* ButtonConect = nullptr;
    QPushButton* ButtonOpenHex = nullptr;
    QFrame* sPanel3 = nullptr;
    QPushButton* sButton2 = nullptr;
    QPushButton* sButton3 = nullptr;
    QComboBox* cbBaudRate = nullptr;
    // The serial port overview opened by Label1; created on its first opening.
    TPortDiagnosis* PortDiagnosis = nullptr;

    // The maker's web site opened by sButton2.
    static constexpr const char* MakerSite = "https://www.vorn.example/";

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    // Fills cbPort with the names, each with a tool tip saying what the port is; the
    // drop-down list grows to the longest name while the combo keeps its size.
    void FillPortList(const std::vector<std::string>& ports);
    // Runs a handler inside general error reporting.
    template <class F> void Guarded(F&& handler);
    TFlowContext Context() { return {*this, State, BComPort1}; }

    TSeams Seams;
    TFormHelp* FormHelp = nullptr;
    TKeyPreview* KeyPreview = nullptr;
    bool Expanded = false;
    // The service area's controls with the focus policy they have once it is shown.
    std::vector<std::pair<QWidget*, Qt::FocusPolicy>> ServiceFocus;
    bool ShownOnce = false;
    bool Snapping = false;
    std::int64_t LastPendingInput = 0;
    std::int64_t LastClockRead = -1;
    int ClockSkipSpan = 0;
    int ClockReadsToSkip = 0;
};
