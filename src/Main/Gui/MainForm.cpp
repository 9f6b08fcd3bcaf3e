#include "MainForm.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTime>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <thread>

#include "BuiltinFirmware.h"
#include "Clock.h"
#include "ComUiThread.h"
#include "Feedback.h"
#include "FormFont.h"
#include "FormHelp.h"
#include "Gauge.h"
#include "KeyPreview.h"
#include "OutsideText.h"
#include "Pictures.h"
#include "PortDiagnosis.h"
#include "PortInfo.h"
#include "PortList.h"
#include "PortSettings.h"
#include "SkinManager.h"
#include "TextView.h"
#include "WindowFront.h"

namespace {

// Input waiting in the queue is looked at no more often than this: the long operations
// ask up to a million times in a row, and a look costs far more than a clock read.
constexpr std::int64_t PendingInputIntervalMs = 5;

const QColor LabelColour(67, 77, 88);

const char* const BaudRates[] = {"110",   "300",   "600",    "1200",   "2400",
                                 "4800",  "9600",  "14400",  "19200",  "38400",
                                 "56000", "57600", "115200", "128000", "256000"};
constexpr int StartBaudRateIndex = 12; // 115200

// A label that reports a click of the left mouse button.
class TClickLabel : public QLabel {
public:
    TClickLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
        : QLabel(text, parent), OnClick(std::move(onClick)) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            OnClick();
        }
    }

private:
    std::function<void()> OnClick;
};

// Names a control and gives it the form's font from the start: sizes taken from its text
// then use the font it is shown in, and the desktop's font is never loaded for it.
template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setFont(FormFont());
    return widget;
}

// Labels size themselves to their text from the laid-out size on, so that a wider
// substitute font does not cut them off.
void FitLabel(QLabel* label) {
    label->setMinimumSize(label->size());
    label->adjustSize();
}

void SetLook(QWidget* widget, const char* look) {
    widget->setProperty("skinLook", look);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Text that may hold outside words (a file's name, a device's USB strings) as the window
// shows it: never obeyed.
QString Shown(const std::string& text, TLineBreaks breaks = TLineBreaks::Escaped) {
    return FromUtf8(ShownText(text, breaks));
}

// BComPort1's user-interface side: event deliveries come in as queued calls on the window's
// thread; an exception from an smWindowSync handler goes to general error reporting.  A
// child of the window, so it outlives BComPort1.
class TWindowComUi final : public QObject, public TComUiThread {
public:
    explicit TWindowComUi(QObject* window) : QObject(window) {}
    void Post(std::function<void()> call) override {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    }
    void ShowException(std::exception_ptr error) override {
        ReportErrors([&] { std::rethrow_exception(error); });
    }
};

// A port list entry's tool tip: the device, what it is, and why it cannot be opened.
std::string PortToolTip(const TSerialPortInfo& info, const TPortUser& user) {
    std::string tip = info.DevicePath;
    const std::string summary = PortSummary(info);
    if (!summary.empty()) {
        tip += "\n" + summary;
    }
    for (const std::string& name : info.ById) {
        tip += "\n/dev/serial/by-id/" + name;
    }
    if (info.Access != TPortAccess::Allowed) {
        tip += "\nНемає доступу: " + AccessReason(info, user);
    }
    const std::string latency = LatencyAdvice(info);
    if (!latency.empty()) {
        tip += "\n" + latency;
    }
    for (const std::string& advice : ServiceAdvice(info)) {
        tip += "\n" + advice;
    }
    return tip;
}

} // namespace

template <class F> void TMainForm::Guarded(F&& handler) {
    ReportErrors(std::forward<F>(handler));
}

TMainForm::TMainForm(TSeams seams)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      Seams(std::move(seams)) {
    if (!Seams.ListPorts) {
        Seams.ListPorts = ListSerialPorts;
    }
    if (!Seams.DescribePort) {
        Seams.DescribePort = [](const std::string& name) {
            TPortPlaces places; // filled at start-up: no pass over /proc or the kernel log
            places.LookAtProcesses = false;
            return DescribeSerialPort(name, places);
        };
    }
    if (!Seams.DescribePorts) {
        Seams.DescribePorts = [] { return DescribeSerialPorts(); };
    }
    setObjectName(QStringLiteral("MainForm"));
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(QStringLiteral("VORN-0.0 Bootloader (від 22.10.12)"));
    setWindowIcon(ProgramIcon());
    setFont(FormFont());
    setBackgroundRole(QPalette::Midlight);
    setAutoFillBackground(true);
    setFixedSize(ClientWidth, CompactClientHeight);

    ApplyStoredPortSettings(BComPort1);
    BComPort1.SetUiThread(new TWindowComUi(this));

    sSkinManager1 = new TSkinManager(this);
    CreateControls();
    SetFormFont(this);
    TextTerminalView->Text().SetText(Seams.FirmwareText ? *Seams.FirmwareText
                                                        : std::string(BuiltinFirmwareText()));

    KeyPreview = new TKeyPreview(this, [this](int key, Qt::KeyboardModifiers shift) {
        Guarded([&] { FormKeyDown(key, shift); });
    });

    Guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateControls() {
    Label3 = Named(new QLabel(QStringLiteral("Автокалібровка: 0.0.0"), this), "Label3");
    Label3->setGeometry(12, 149, 110, 13);
    FitLabel(Label3);

    LabelNameOfHex = Named(new QLabel(QStringLiteral("Визначте прилад"), this), "LabelNameOfHex");
    LabelNameOfHex->move(10, 87);
    SetTextColour(LabelNameOfHex, LabelColour);
    LabelNameOfHex->adjustSize();

    ProgressbarReadWrite = Named(new TGauge(this), "ProgressbarReadWrite");
    ProgressbarReadWrite->setGeometry(6, 104, 315, 17);
    SetLook(ProgressbarReadWrite, "BAR");

    MemoAboutView = Named(new TTextView(this), "MemoAbout");
    MemoAboutView->setGeometry(392, 16, 305, 681);
    MemoAboutView->setToolTip(QStringLiteral("Інформація про прилад"));

    TextTerminalView = Named(new TTextView(this), "TextTerminal");
    TextTerminalView->setGeometry(-288, 320, 465, 225);

    sComboBoxSkinName = Named(new QComboBox(this), "sComboBoxSkinName");
    sComboBoxSkinName->setGeometry(32, 760, 145, 21);
    sComboBoxSkinName->setEditable(true);
    sComboBoxSkinName->setEditText(QStringLiteral("sComboBoxSkinName"));
    SetLook(sComboBoxSkinName, "COMBOBOX");

    ProgressbarWrite = Named(new QProgressBar(this), "ProgressbarWrite");
    ProgressbarWrite->setGeometry(8, 167, 265, 9);
    ProgressbarWrite->setTextVisible(false);
    ProgressbarWrite->setRange(0, 100);
    ProgressbarWrite->setValue(0);
    SetLook(ProgressbarWrite, "BAR");

    sPanel1 = Named(new QFrame(this), "sPanel1");
    sPanel1->setGeometry(7, 8, 314, 73);
    SetLook(sPanel1, "PANEL");

    Label1 = Named(new TClickLabel(QStringLiteral("Порт:"), sPanel1,
                                   [this] { Guarded([this] { Label1Click(); }); }),
                   "Label1");
    Label1->setGeometry(49, 17, 28, 13);
    FitLabel(Label1);
    Label1->setToolTip(QStringLiteral("Запустити диспетчер пристроїв"));
    SetTextColour(Label1, LabelColour);

    cbPort = Named(new QComboBox(sPanel1), "cbPort");
    cbPort->setGeometry(30, 37, 73, 21);
    cbPort->setCursor(Qt::PointingHandCursor);
    cbPort->setToolTip(QStringLiteral("Ctrl+R оновлення списку портів"));
    SetLook(cbPort, "COMBOBOX");

    ButtonWrite = Named(new QToolButton(sPanel1), "ButtonWrite");
    ButtonWrite->setGeometry(161, 6, 96, 60);
    ButtonWrite->setText(QStringLiteral("Прошити"));
    ButtonWrite->setIcon(QIcon(WritePicture()));
    ButtonWrite->setIconSize(QSize(24, 24));
    ButtonWrite->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ButtonWrite->setFocusPolicy(Qt::StrongFocus);

    sPanel2 = Named(new QFrame(this), "sPanel2");
    sPanel2->setGeometry(8, 224, 265, 81);
    SetLook(sPanel2, "PANEL");

    ButtonConect = Named(new QPushButton(QStringLiteral("Визначити"), sPanel2), "ButtonConect");
    ButtonConect->setGeometry(31, 16, 81, 57);
    ButtonOpenHex = Named(new QPushButton(QStringLiteral("Відкрити"), sPanel2), "ButtonOpenHex");
    ButtonOpenHex->setGeometry(152, 16, 81, 57);
    ButtonOpenHex->setToolTip(
        QStringLiteral("Повинна бути точна відповідність приладу і мікропрограми для нього"));
    for (QPushButton* button : {ButtonConect, ButtonOpenHex}) {
        button->setCursor(Qt::PointingHandCursor);
        button->setAutoDefault(true); // Enter on the focused button presses it
        SetLook(button, "BUTTON_HUGE");
    }

    sPanel3 = Named(new QFrame(this), "sPanel3");
    sPanel3->setGeometry(248, 200, 41, 153);
    SetLook(sPanel3, "PANEL");
    sButton2 = Named(new QPushButton(sPanel3), "sButton2");
    sButton2->setGeometry(8, 12, 25, 57);
    sButton2->setToolTip(QStringLiteral("Сайт виробника"));
    sButton3 = Named(new QPushButton(sPanel3), "sButton3");
    sButton3->setGeometry(8, 84, 25, 57);
    sButton3->setToolTip(QStringLiteral("Інформація про програму"));
    for (QPushButton* button : {sButton2, sButton3}) {
        SetLook(button, "DIALOG");
    }

    cbBaudRate = Named(new QComboBox(this), "cbBaudRate");
    cbBaudRate->setGeometry(16, 190, 81, 21);
    cbBaudRate->setCursor(Qt::PointingHandCursor);
    cbBaudRate->setToolTip(
        QStringLiteral("Швидкість встановлюється відповідно до документації на прилад"));
    for (const char* rate : BaudRates) {
        cbBaudRate->addItem(QString::fromLatin1(rate));
    }
    cbBaudRate->setCurrentIndex(-1);
    SetLook(cbBaudRate, "COMBOBOX");

    // The data areas never come into sight: the focus and the keys pass them by.
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{MemoAboutView, TextTerminalView, sComboBoxSkinName}) {
        hidden->setFocusPolicy(Qt::NoFocus);
    }
    // Nor do they visit the service area while the compact view hides it.
    for (QWidget* service : std::initializer_list<QWidget*>{ButtonConect, ButtonOpenHex, sButton2,
                                                            sButton3, cbBaudRate}) {
        ServiceFocus.emplace_back(service, service->focusPolicy());
        service->setFocusPolicy(Qt::NoFocus);
    }

    // Only the user's own actions run the handlers; the program's choices in the lists
    // (activated is not emitted for them) do not.
    connect(cbPort, &QComboBox::activated, this, [this] { Guarded([this] { cbPortChange(); }); });
    connect(cbBaudRate, &QComboBox::activated, this,
            [this] { Guarded([this] { cbBaudRateChange(); }); });
    connect(sComboBoxSkinName, &QComboBox::editTextChanged, this,
            [this] { Guarded([this] { sComboBoxSkinNameChange(); }); });
    connect(ButtonWrite, &QToolButton::clicked, this,
            [this] { Guarded([this] { ButtonWriteClick(); }); });
    connect(ButtonConect, &QPushButton::clicked, this,
            [this] { Guarded([this] { ButtonConectClick(); }); });
    connect(ButtonOpenHex, &QPushButton::clicked, this,
            [this] { Guarded([this] { ButtonOpenHexClick(); }); });
    connect(sButton2, &QPushButton::clicked, this,
            [this] { Guarded([this] { sButton2Click(); }); });
    connect(sButton3, &QPushButton::clicked, this,
            [this] { Guarded([this] { sButton3Click(); }); });
}

// ---- start-up ----

void TMainForm::FormCreate() {
    TFeedback::SetApplicationTitle(BuiltinWindowTitle);
    setWindowTitle(QString::fromUtf8(BuiltinWindowTitle));

    std::vector<std::string> ports;
    Seams.ListPorts(ports);
    FillPortList(ports);

    cbBaudRate->setCurrentIndex(StartBaudRateIndex);
    MemoAbout().Clear();
    MainGauge().SetProgress(0);

    auto ctx = Context();
    if (PrepareFlashImage(ctx)) {
        SetStatusText("Мікропрограма готова до запису");
    }
}

// ---- keyboard commands ----

void TMainForm::FormKeyDown(int virtualKey, Qt::KeyboardModifiers shift) {
    const bool ctrl = shift.testFlag(Qt::ControlModifier);
    const bool withShift = shift.testFlag(Qt::ShiftModifier);
    auto ctx = Context();
    switch (virtualKey) {
    case 112: // F1, whatever modifiers are held
        ShowFormHelp();
        break;
    case 69: // E
        if (ctrl && withShift) {
            ExpandView();
        }
        break;
    case 46: // Delete
        if (ctrl) {
            AbortCommand(ctx);
        }
        break;
    case 82: // R
        if (ctrl) {
            RefreshPortList();
        }
        break;
    case 76: // L
        if (ctrl) {
            ResetCommand(ctx);
        }
        break;
    default:
        break;
    }
}

void TMainForm::ShowFormHelp() {
    if (FormHelp) {
        FormHelp->ShowHelp();
    }
}

void TMainForm::ExpandView() {
    // The outer height counts the title bar and frame, whose size only the desktop knows.
    const int frameHeight = frameGeometry().height() - height();
    setFixedSize(width(), ExpandedOuterHeight - frameHeight);
    if (!Expanded) {
        for (const auto& [control, policy] : ServiceFocus) {
            control->setFocusPolicy(policy);
        }
    }
    Expanded = true;
}

void TMainForm::RefreshPortList() {
    std::vector<std::string> ports;
    Seams.ListPorts(ports); // a failure leaves the list as it was
    FillPortList(ports);
    ShowMessage("Порти оновлено!");
}

void TMainForm::FillPortList(const std::vector<std::string>& ports) {
    const TPortUser user = CurrentPortUser();
    cbPort->clear();
    for (const std::string& port : ports) {
        cbPort->addItem(FromUtf8(port));
        cbPort->setItemData(cbPort->count() - 1,
                            Shown(PortToolTip(Seams.DescribePort(port), user), TLineBreaks::Kept),
                            Qt::ToolTipRole);
    }
    cbPort->setCurrentIndex(cbPort->count() > 0 ? 0 : -1);
    QAbstractItemView* list = cbPort->view();
    int listWidth = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (cbPort->count() > cbPort->maxVisibleItems()) {
        listWidth += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    }
    list->setMinimumWidth(listWidth);
}

// ---- small handlers ----

void TMainForm::FormResize() {
    repaint();
    ProcessPendingInput();
}

void TMainForm::FormActivate() {
    repaint();
    ProcessPendingInput();
}

void TMainForm::Label1Click() {
    // Linux has no Device Manager: the label opens the program's own overview of the
    // serial devices, with what keeps the user from opening one.
    if (PortDiagnosis == nullptr) {
        PortDiagnosis = new TPortDiagnosis(this, Seams.DescribePorts, CurrentPortUser());
    } else {
        PortDiagnosis->Refresh();
    }
    PortDiagnosis->show();
    BringWindowToFront(PortDiagnosis);
}

void TMainForm::cbPortChange() {
    FocusControl(TCommandControl::ButtonConect);
}

void TMainForm::cbBaudRateChange() {
    BComPort1.SetBaudRate(static_cast<TBaudRate>(cbBaudRate->currentIndex()));
}

void TMainForm::ButtonWriteClick() {
    auto ctx = Context();
    ::ButtonWriteClick(ctx);
}

void TMainForm::ButtonConectClick() {
    auto ctx = Context();
    ::ButtonConectClick(ctx);
}

void TMainForm::ButtonOpenHexClick() {
    auto ctx = Context();
    ::ButtonOpenHexClick(ctx);
}

void TMainForm::sButton2Click() {
    MessageBeep(mbInformation);
    TFeedback::OpenUrl(MakerSite);
}

void TMainForm::sButton3Click() {
    MessageBeep(mbInformation);
    ShowFormHelp();
}

void TMainForm::sComboBoxSkinNameChange() {
    sSkinManager1->SetSkinName(sComboBoxSkinName->currentText().toStdString());
}

// ---- window events ----

bool TMainForm::event(QEvent* event) {
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) {
        Guarded([this] { FormActivate(); });
    }
    return result;
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (ShownOnce) {
        return;
    }
    ShownOnce = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        Snapping = true; // centring is not a move towards an edge
        move(frame.topLeft());
        Snapping = false;
    }
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    const QScreen* screen = this->screen();
    if (Snapping || !screen) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    // Distance that brings a near edge onto the screen's edge, or 0.
    auto snap = [](int low, int high, int areaLow, int areaHigh) {
        if (std::abs(low - areaLow) <= SnapDistance) {
            return areaLow - low;
        }
        if (std::abs(high - areaHigh) <= SnapDistance) {
            return areaHigh - high;
        }
        return 0;
    };
    const int dx = snap(frame.left(), frame.right(), area.left(), area.right());
    const int dy = snap(frame.top(), frame.bottom(), area.top(), area.bottom());
    if (dx != 0 || dy != 0) {
        Snapping = true;
        move(pos() + QPoint(dx, dy));
        Snapping = false;
    }
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible()) {
        Guarded([this] { FormResize(); });
    }
}

// ---- TWindowHost ----

void TMainForm::SetStatusText(const std::string& text) {
    LabelNameOfHex->setText(Shown(text));
    LabelNameOfHex->adjustSize();
}

void TMainForm::SetCalibrationText(const std::string& text) {
    Label3->setText(FromUtf8(text));
    Label3->adjustSize();
}

TGaugeModel& TMainForm::MainGauge() {
    return ProgressbarReadWrite->Model();
}

void TMainForm::SetBlockBarMax(int max) {
    ProgressbarWrite->setMaximum(std::max(0, max));
}

void TMainForm::SetBlockBarPosition(int position) {
    ProgressbarWrite->setValue(std::clamp(position, 0, ProgressbarWrite->maximum()));
}

void TMainForm::StepBlockBar() {
    SetBlockBarPosition(ProgressbarWrite->value() + 1);
}

QWidget* TMainForm::Control(TCommandControl control) const {
    switch (control) {
    case TCommandControl::ButtonConect:
        return ButtonConect;
    case TCommandControl::ButtonOpenHex:
        return ButtonOpenHex;
    case TCommandControl::ButtonWrite:
        return ButtonWrite;
    case TCommandControl::cbPort:
        return cbPort;
    case TCommandControl::cbBaudRate:
        return cbBaudRate;
    }
    return nullptr;
}

void TMainForm::SetControlEnabled(TCommandControl control, bool enabled) {
    Control(control)->setEnabled(enabled);
}

void TMainForm::FocusControl(TCommandControl control) {
    // A control out of sight does not take the focus: the keys stay with what the user sees.
    QWidget* widget = Control(control);
    if (widget->focusPolicy() != Qt::NoFocus) {
        widget->setFocus(Qt::OtherFocusReason);
    }
}

bool TMainForm::IsControlEnabled(TCommandControl control) const {
    return Control(control)->isEnabled();
}

TTextArea& TMainForm::MemoAbout() {
    return MemoAboutView->Text();
}

TTextArea& TMainForm::TextTerminal() {
    return TextTerminalView->Text();
}

std::string TMainForm::PortText() {
    return cbPort->currentText().toStdString();
}

int TMainForm::BaudRateIndex() {
    return cbBaudRate->currentIndex();
}

void TMainForm::ProcessPendingInput() {
    // Reading the clock costs more than the rest of a pass that finds nothing to do.  In a
    // tight loop (the preparation's million steps) many calls fall on one clock tick, so
    // while the clock stands still the reads are spaced out, up to one in 1024 calls; once
    // it moves, every call reads it again.  Sparse calls (a write's tries) read it each time.
    if (ClockReadsToSkip > 0) {
        --ClockReadsToSkip;
        return;
    }
    const std::int64_t now = Platform::CoarseMilliseconds();
    ClockSkipSpan = now == LastClockRead ? std::min(2 * ClockSkipSpan + 1, 1023) : 0;
    ClockReadsToSkip = ClockSkipSpan;
    LastClockRead = now;
    if (now - LastPendingInput < PendingInputIntervalMs) {
        return;
    }
    ProcessAllPendingInput();
}

std::size_t TMainForm::SkipIdlePendingInput(std::size_t calls) {
    const std::size_t skipped = std::min(calls, static_cast<std::size_t>(ClockReadsToSkip));
    ClockReadsToSkip -= static_cast<int>(skipped);
    return skipped;
}

void TMainForm::ProcessAllPendingInput() {
    LastPendingInput = Platform::CoarseMilliseconds();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TMainForm::BringToFront() {
    if (!isVisible()) {
        return;
    }
    BringWindowToFront(this);
}

void TMainForm::ShowMessage(const std::string& text) {
    TFeedback::ShowMessage(text);
}

void TMainForm::MessageBeep(unsigned type) {
    TFeedback::MessageBeep(type);
}

void TMainForm::Beep(unsigned frequency, unsigned milliseconds) {
    TFeedback::Beep(frequency, milliseconds);
}

void TMainForm::Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::optional<std::string> TMainForm::ChooseHexFile(const std::string& filter) {
    if (Seams.ChooseFile) {
        return Seams.ChooseFile(filter);
    }
    const QString file =
        QFileDialog::getOpenFileName(this, QString(), QString(), QtFileFilter(filter));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return file.toStdString();
}

std::string TMainForm::LongTimeText() {
    return QLocale::system().toString(QTime::currentTime(), LongTimeFormat()).toStdString();
}

QString TMainForm::LongTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    // Drop the time-zone fields (t, tt, ...) outside quoted text, and the blanks before them.
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('t')) {
            while (!result.isEmpty() && result.back().isSpace()) {
                result.chop(1);
            }
            continue;
        }
        result += c;
    }
    return result.trimmed();
}

QString TMainForm::QtFileFilter(const std::string& filter) {
    const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

std::vector<std::string> TMainForm::PortItems() const {
    std::vector<std::string> items;
    for (int i = 0; i < cbPort->count(); ++i) {
        items.push_back(cbPort->itemText(i).toStdString());
    }
    return items;
}

std::string TMainForm::StatusText() const {
    return LabelNameOfHex->text().toStdString();
}

std::string TMainForm::CalibrationText() const {
    return Label3->text().toStdString();
}
