// Start-up, the main window's controls, its keyboard commands and small handlers.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <vector>

#include "Feedback.h"
#include "FormFont.h"
#include "FormHelp.h"
#include "Gauge.h"
#include "PortDiagnosis.h"
#include "SkinManager.h"
#include "TextView.h"
#include "WindowFixture.h"

namespace {

using TKind = TFeedbackRecorder::TKind;
const char* const Ready = "Мікропрограма готова до запису";

TEST_F(WindowTest, StartWithBuiltInFirmwareAndPorts) {
    Create({"ttyACM0", "ttyS0", "ttyUSB1"}, std::nullopt);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_EQ(Form().windowTitle(), QString::fromUtf8("TARVEX-6 Bootloader (від 04.10.24)"));
    EXPECT_EQ(TFeedback::ApplicationTitle(), "TARVEX-6 Bootloader (від 04.10.24)");
    EXPECT_EQ(Form().PortText(), "ttyACM0");
    EXPECT_EQ(Form().PortItems().size(), 3u);
    EXPECT_EQ(Form().cbBaudRate->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(Form().StatusText(), Ready);
    EXPECT_EQ(Form().ProgressbarReadWrite->Text(), "0%");
    EXPECT_EQ(Form().State.FlashImage.size(), 40'000'000u);
    EXPECT_TRUE(Form().MemoAbout().Empty());
    // The port keeps its stored settings; the program's own choice of 115200 reaches it
    // only when the port is reopened.
    EXPECT_EQ(Form().BComPort1.BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(Form().BComPort1.Port(), "COM2");
    const TComTimeouts& timeouts = Form().BComPort1.Timeouts();
    EXPECT_EQ(timeouts.ReadInterval() + timeouts.ReadTotalMultiplier() +
                  timeouts.ReadTotalConstant() + timeouts.WriteTotalMultiplier() +
                  timeouts.WriteTotalConstant(),
              5);
    // One information beep, sounded before any window was on screen; no message.
    ASSERT_EQ(Recorder.Records.size(), 1u);
    EXPECT_EQ(Recorder.Records[0].Kind, TKind::Beep);
    EXPECT_EQ(Recorder.Records[0].Value, 64u);
    EXPECT_FALSE(Recorder.Records[0].WindowVisible);
    EXPECT_FALSE(Help().isVisible());
    for (auto control :
         {TCommandControl::ButtonConect, TCommandControl::ButtonOpenHex,
          TCommandControl::ButtonWrite, TCommandControl::cbPort, TCommandControl::cbBaudRate}) {
        EXPECT_TRUE(Form().IsControlEnabled(control));
    }
}

TEST_F(WindowTest, StartWithoutPortListReportsBeforeTheWindowAndSkipsTheRest) {
    PortListFails = true;
    Create({});
    const auto errors = Recorder.Of(TKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Text, ComMessageText(15)); // ends in "!": no full stop
    EXPECT_EQ(errors[0].Caption, "TARVEX-6 Bootloader (від 04.10.24)");
    EXPECT_FALSE(errors[0].WindowVisible);
    EXPECT_EQ(Recorder.Records.size(), 1u); // no preparation, so no beep
    EXPECT_EQ(Form().cbPort->count(), 0);
    EXPECT_EQ(Form().BaudRateIndex(), -1);
    EXPECT_EQ(Form().StatusText(), "Визначте прилад");
    EXPECT_EQ(Form().ProgressbarReadWrite->Text(), "0%");
    EXPECT_TRUE(Form().State.FlashImage.empty());
    EXPECT_TRUE(Form().IsControlEnabled(TCommandControl::ButtonWrite));
    ShowForm();
    EXPECT_TRUE(Form().isVisible()); // the window opens all the same
}

TEST_F(WindowTest, RefusedFirmwareKeepsTheFirstStatusAndTheWindowOpens) {
    Create({"ttyS0"}, std::string(":0400000001020304F3\r\n:00000001FF\r\n"));
    EXPECT_EQ(Form().StatusText(), "Визначте прилад");
    ASSERT_FALSE(Recorder.Records.empty());
    for (const auto& record : Recorder.Records) {
        EXPECT_FALSE(record.WindowVisible);
    }
    EXPECT_FALSE(Recorder.Of(TKind::Message).empty());
}

TEST_F(WindowTest, ControlsAreNamedPlacedAndParentedAsLaidOut) {
    Create({"ttyS0"});
    EXPECT_EQ(Form().size(), QSize(329, 127));
    EXPECT_EQ(Form().minimumSize(), Form().maximumSize());
    EXPECT_FALSE(Form().windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(Form().windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(Form().windowFlags().testFlag(Qt::WindowSystemMenuHint));

    struct TPlace {
        const char* Name;
        QRect Geometry;
        const char* Parent;
    };
    const TPlace places[] = {
        {"ProgressbarReadWrite", {6, 104, 315, 17}, "MainForm"},
        {"MemoAbout", {392, 16, 305, 681}, "MainForm"},
        {"TextTerminal", {-288, 320, 465, 225}, "MainForm"},
        {"sComboBoxSkinName", {32, 760, 145, 21}, "MainForm"},
        {"ProgressbarWrite", {8, 167, 265, 9}, "MainForm"},
        {"sPanel1", {7, 8, 314, 73}, "MainForm"},
        {"cbPort", {30, 37, 73, 21}, "sPanel1"},
        {"ButtonWrite", {161, 6, 96, 60}, "sPanel1"},
        {"sPanel2", {8, 224, 265, 81}, "MainForm"},
        {"ButtonConect", {31, 16, 81, 57}, "sPanel2"},
        {"ButtonOpenHex", {152, 16, 81, 57}, "sPanel2"},
        {"sPanel3", {248, 200, 41, 153}, "MainForm"},
        {"sButton2", {8, 12, 25, 57}, "sPanel3"},
        {"sButton3", {8, 84, 25, 57}, "sPanel3"},
        {"cbBaudRate", {16, 190, 81, 21}, "MainForm"},
    };
    for (const TPlace& place : places) {
        const auto* widget = Form().findChild<QWidget*>(QString::fromLatin1(place.Name));
        ASSERT_NE(widget, nullptr) << place.Name;
        EXPECT_EQ(widget->geometry(), place.Geometry) << place.Name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(place.Parent))
            << place.Name;
    }
    // Labels start where they were laid out and grow with their text.
    EXPECT_EQ(Form().Label1->pos(), QPoint(49, 17));
    EXPECT_EQ(Form().Label3->pos(), QPoint(12, 149));
    EXPECT_EQ(Form().LabelNameOfHex->pos(), QPoint(10, 87));
    EXPECT_EQ(Form().Label3->text(), QStringLiteral("Автокалібровка: 0.0.0"));

    // sPanel3 lies on top of sPanel2.
    const auto children = Form().children();
    EXPECT_GT(children.indexOf(Form().sPanel3), children.indexOf(Form().sPanel2));

    EXPECT_EQ(Form().ButtonWrite->text(), QStringLiteral("Прошити"));
    EXPECT_EQ(Form().ButtonConect->text(), QStringLiteral("Визначити"));
    EXPECT_EQ(Form().ButtonOpenHex->text(), QStringLiteral("Відкрити"));
    EXPECT_EQ(Form().Label1->text(), QStringLiteral("Порт:"));
    EXPECT_EQ(Form().sButton2->toolTip(), QStringLiteral("Сайт виробника"));
    EXPECT_EQ(Form().sButton3->toolTip(), QStringLiteral("Інформація про програму"));
    EXPECT_EQ(Form().cbPort->toolTip(), QStringLiteral("Ctrl+R оновлення списку портів"));
    EXPECT_EQ(Form().sComboBoxSkinName->currentText(), QStringLiteral("sComboBoxSkinName"));
    EXPECT_EQ(Form().sPanel1->toolTip(), QString()); // its hint is never shown
    EXPECT_EQ(Form().cbBaudRate->count(), 15);
    EXPECT_EQ(Form().cbBaudRate->itemText(0), QStringLiteral("110"));
    EXPECT_EQ(Form().cbBaudRate->itemText(14), QStringLiteral("256000"));
    EXPECT_FALSE(Form().cbPort->isEditable());
    EXPECT_EQ(Form().LabelNameOfHex->palette().color(QPalette::WindowText), QColor(67, 77, 88));
    EXPECT_EQ(Form().font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(Form().font().pointSize(), 8);
    EXPECT_FALSE(Form().ProgressbarWrite->isTextVisible());
    EXPECT_EQ(Form().ProgressbarWrite->maximum(), 100);
    EXPECT_EQ(Form().ProgressbarWrite->value(), 0);
    EXPECT_EQ(Form().ProgressbarReadWrite->property("skinLook").toString(), QStringLiteral("BAR"));
    EXPECT_EQ(Form().ButtonConect->property("skinLook").toString(), QStringLiteral("BUTTON_HUGE"));

    // The data areas lie outside the client area in both views.
    // The expanded client area ends some 30 pixels above the outer height of 340.
    const QRect client(0, 0, 329, 310);
    for (QWidget* area : {static_cast<QWidget*>(Form().MemoAboutView),
                          static_cast<QWidget*>(Form().TextTerminalView),
                          static_cast<QWidget*>(Form().sComboBoxSkinName)}) {
        EXPECT_FALSE(client.intersects(area->geometry())) << area->objectName().toStdString();
    }
}

TEST_F(WindowTest, CtrlShiftEExpandsTheOuterHeightOnce) {
    Create({"ttyS0"});
    ShowForm();
    const QPoint topLeft = Form().frameGeometry().topLeft();
    const int width = Form().width();
    QTest::keyClick(&Form(), Qt::Key_E, Qt::ControlModifier); // Ctrl+E alone does nothing
    QTest::keyClick(&Form(), Qt::Key_E, Qt::ShiftModifier);
    EXPECT_EQ(Form().height(), 127);
    QTest::keyClick(&Form(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Form().frameGeometry().height(), 340);
    EXPECT_EQ(Form().width(), width);
    EXPECT_EQ(Form().frameGeometry().topLeft(), topLeft);
    QTest::keyClick(&Form(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(Form().frameGeometry().height(), 340);
    EXPECT_TRUE(Form().IsExpanded());
}

TEST_F(WindowTest, CtrlRRefreshesThePortListAndKeepsItOnFailure) {
    Create({"ttyS0"});
    ShowForm();
    Form().cbPort->setFocus();
    Ports = {"COM1", "COM10", "COM3"};
    QTest::keyClick(Form().cbPort, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Form().PortItems(), Ports);
    EXPECT_EQ(Form().PortText(), "COM1");
    EXPECT_EQ(Recorder.Texts(TKind::Message), std::vector<std::string>{"Порти оновлено!"});

    Recorder.Clear();
    PortListFails = true;
    Form().cbPort->setCurrentIndex(2);
    QTest::keyClick(Form().cbPort, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(Form().PortItems(), Ports);
    EXPECT_EQ(Form().PortText(), "COM3");
    EXPECT_TRUE(Recorder.Of(TKind::Message).empty());
    EXPECT_EQ(Recorder.Texts(TKind::Error), std::vector<std::string>{ComMessageText(15)});
}

TEST_F(WindowTest, KeyPreviewSeesEachPressOnceAndPassesItOn) {
    Create({"ttyS0", "ttyS1"});
    ShowForm();
    Ports = {"ttyA"};
    // A key the button does not take travels up through the panel to the window; it runs
    // one command all the same.
    QTest::keyClick(Form().ButtonConect, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Recorder.Of(TKind::Message).size(), 1u);
    Form().cbPort->setFocus();
    // Keys still reach the focused control after the preview.
    Ports = {"ttyA", "ttyB"};
    QTest::keyClick(Form().cbPort, Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(Form().cbPort, Qt::Key_Down);
    EXPECT_EQ(Form().PortText(), "ttyB");
}

TEST_F(WindowTest, CommandsActWhileADropDownListIsOpen) {
    Create({"ttyS0", "ttyS1"});
    ShowForm();
    Form().cbPort->showPopup();
    QWidget* list = Form().cbPort->view();
    ASSERT_TRUE(list->isVisible());
    ASSERT_NE(list->window(), &Form());
    Ports = {"ttyA"};
    QTest::keyClick(list, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Recorder.Texts(TKind::Message), std::vector<std::string>{"Порти оновлено!"});
    EXPECT_EQ(Form().PortItems(), Ports);

    Form().cbBaudRate->showPopup();
    ASSERT_TRUE(Form().cbBaudRate->view()->isVisible());
    QTest::keyClick(Form().cbBaudRate->view(), Qt::Key_F1);
    EXPECT_TRUE(Help().isVisible());
}

TEST_F(WindowTest, ChoosingAPortMovesTheFocusAndARateReachesThePort) {
    Create({"ttyS0", "ttyS1"});
    ShowForm();
    Form().ExpandView();
    emit Form().cbPort->activated(1);
    EXPECT_EQ(Form().focusWidget(), Form().ButtonConect);
    const TBaudRate stored = Form().BComPort1.BaudRate();
    Form().cbBaudRate->setCurrentIndex(3); // as the list does before it reports a choice
    EXPECT_EQ(Form().BComPort1.BaudRate(), stored);
    emit Form().cbBaudRate->activated(3);
    EXPECT_EQ(Form().BComPort1.BaudRate(), TBaudRate::br1200);
}

// The controls the focus visits with Tab from the window's focus, the first one included.
std::vector<QWidget*> TabChain(QWidget& window) {
    std::vector<QWidget*> chain;
    for (int i = 0; i < 20 && window.focusWidget() != nullptr; ++i) {
        QWidget* focus = window.focusWidget();
        if (std::find(chain.begin(), chain.end(), focus) != chain.end()) {
            break;
        }
        chain.push_back(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return chain;
}

TEST_F(WindowTest, InTheCompactViewOnlyVisibleControlsTakeTheFocusAndTheKeys) {
    Create({"ttyS0", "ttyS1"});
    ShowForm();
    const QRect client = Form().rect();
    auto visible = [&](const QWidget* w) {
        return client.contains(QRect(w->mapTo(&Form(), QPoint(0, 0)), w->size()));
    };
    // Choosing a port leaves the focus where the user can see it.
    Form().cbPort->setFocus();
    emit Form().cbPort->activated(1);
    ASSERT_NE(Form().focusWidget(), nullptr);
    EXPECT_TRUE(visible(Form().focusWidget())) << Form().focusWidget()->objectName().toStdString();
    for (QWidget* w : TabChain(Form())) {
        EXPECT_TRUE(visible(w)) << w->objectName().toStdString();
    }
    // A write disables "Прошити" under the focus, and a box reports its failure: the
    // technician's Enter and Space then reach nothing out of sight and open nothing.
    Form().ButtonWrite->setFocus();
    for (auto control : {TCommandControl::cbPort, TCommandControl::cbBaudRate,
                         TCommandControl::ButtonConect, TCommandControl::ButtonWrite}) {
        Form().SetControlEnabled(control, false);
    }
    Recorder.Clear();
    // With nothing in sight that can take it, the focus leaves the controls: keys go to
    // the window itself.
    QWidget* focus = Form().focusWidget();
    EXPECT_TRUE(focus == nullptr || visible(focus)) << focus->objectName().toStdString();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        QTest::keyClick(Form().focusWidget() ? Form().focusWidget() : &Form(), key);
    }
    EXPECT_EQ(FileDialogs, 0);
    EXPECT_TRUE(Recorder.Records.empty()); // no identification either

    // The service area, once shown, takes the focus and its keys as before.
    for (auto control : {TCommandControl::cbPort, TCommandControl::cbBaudRate,
                         TCommandControl::ButtonConect, TCommandControl::ButtonWrite}) {
        Form().SetControlEnabled(control, true);
    }
    Form().ExpandView();
    Form().FocusControl(TCommandControl::ButtonOpenHex);
    ASSERT_EQ(Form().focusWidget(), Form().ButtonOpenHex);
    QTest::keyClick(Form().ButtonOpenHex, Qt::Key_Return);
    EXPECT_EQ(FileDialogs, 1);
    const std::vector<QWidget*> chain = TabChain(Form());
    EXPECT_NE(std::find(chain.begin(), chain.end(), Form().cbBaudRate), chain.end());
}

TEST_F(WindowTest, TheKeyThatAnswersABoxActsOnTheBoxOnly) {
    Create({"ttyS0"});
    ShowForm();
    Form().ExpandView();
    Form().FocusControl(TCommandControl::ButtonOpenHex);
    ASSERT_EQ(Form().focusWidget(), Form().ButtonOpenHex);
    TFeedback::SetSink({}); // the real box
    // Enter goes down on the box, which closes at once; the key is released afterwards.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QTest::keyPress(box, Qt::Key_Return);
        }
    });
    answer.start(10);
    TFeedback::ShowMessage("Порти оновлено!");
    answer.stop();
    ASSERT_EQ(QApplication::activeModalWidget(), nullptr);
    // What follows of the same key (the held key's repeats, the press a system hands on to
    // the window that became active, the release) opens nothing.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
    QApplication::sendEvent(Form().ButtonOpenHex, &repeat);
    QTest::keyPress(Form().ButtonOpenHex, Qt::Key_Return);
    QTest::keyRelease(Form().ButtonOpenHex, Qt::Key_Return);
    EXPECT_EQ(FileDialogs, 0);
    // The next Enter is the technician's own again.
    QTest::keyClick(Form().ButtonOpenHex, Qt::Key_Return);
    EXPECT_EQ(FileDialogs, 1);
}

// Every text of the window inside its control, and the labels clear of the controls below
// them, in the font and at the scale the window is shown in (the desktop's scaling on
// Windows; QT_SCALE_FACTOR elsewhere).  TARVEX_EXPECT_SCALE, where given, is the scale the
// run set up, so that a scaling the window did not get fails rather than passes at 100 %.
TEST_F(WindowTest, EveryTextFitsItsControl) {
    Create({"COM10", "ttyS0"});
    ShowForm();
    Form().ExpandView();
    QApplication::processEvents();
    if (const QByteArray scale = qgetenv("TARVEX_EXPECT_SCALE"); !scale.isEmpty()) {
        EXPECT_DOUBLE_EQ(Form().devicePixelRatioF(), scale.toDouble());
    }
    // The font found for the form's family has the form's letters: a machine without any of
    // its substitutes must not fall back to a symbol font.
    const QString family = QFontInfo(Form().ButtonConect->font()).family();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic))
        << family.toStdString();
    const auto fits = [](const QPushButton* button) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const QFontMetrics metrics = button->fontMetrics();
        EXPECT_LE(metrics.horizontalAdvance(button->text()), room.width())
            << button->text().toStdString() << " in " << room.width();
        EXPECT_LE(metrics.height(), room.height()) << button->text().toStdString();
    };
    for (const QPushButton* button : Form().findChildren<QPushButton*>()) {
        if (!button->text().isEmpty() && button->window() == &Form()) {
            fits(button);
        }
    }
    const QFontMetrics writeMetrics = Form().ButtonWrite->fontMetrics();
    EXPECT_LE(writeMetrics.horizontalAdvance(Form().ButtonWrite->text()),
              Form().ButtonWrite->contentsRect().width());
    EXPECT_LE(Form().ButtonWrite->iconSize().height() + writeMetrics.height(),
              Form().ButtonWrite->contentsRect().height());
    for (const QComboBox* list : {Form().cbPort, Form().cbBaudRate}) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        const QRect room = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                         QStyle::SC_ComboBoxEditField, list);
        for (int i = 0; i < list->count(); ++i) {
            EXPECT_LE(list->fontMetrics().horizontalAdvance(list->itemText(i)), room.width())
                << list->itemText(i).toStdString() << " in " << room.width();
        }
    }
    // A label ends above the control laid out below it.
    Form().SetStatusText(Ready);
    struct TBelow {
        const QLabel* Label;
        const QWidget* Control;
    };
    for (const TBelow& pair :
         {TBelow{Form().LabelNameOfHex, Form().ProgressbarReadWrite},
          TBelow{Form().Label3, Form().ProgressbarWrite}, TBelow{Form().Label1, Form().cbPort}}) {
        const QLabel& label = *pair.Label;
        const QFontMetrics metrics = label.fontMetrics();
        EXPECT_LE(metrics.horizontalAdvance(label.text()), label.contentsRect().width())
            << label.text().toStdString();
        EXPECT_LE(metrics.height(), label.contentsRect().height()) << label.text().toStdString();
        EXPECT_LT(label.geometry().bottom(), pair.Control->geometry().top())
            << label.text().toStdString();
    }
    // The dialogs over the window, a message box and the port overview: their buttons as
    // large as a system dialog's, their texts inside.
    const std::unique_ptr<QMessageBox> box = TFeedback::MessageBox("Порти оновлено!");
    box->show();
    QTest::mouseClick(Form().Label1, Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_NE(Form().PortDiagnosis, nullptr);
    std::vector<const QPushButton*> buttons{
        qobject_cast<const QPushButton*>(box->buttons().value(0)),
        Form().PortDiagnosis->ButtonRefresh, Form().PortDiagnosis->ButtonClose};
    for (const QPushButton* button : buttons) {
        ASSERT_NE(button, nullptr);
        EXPECT_GE(button->width(), 75) << button->text().toStdString();
        EXPECT_GE(button->height(), 23) << button->text().toStdString();
        fits(button);
    }
}

TEST_F(WindowTest, CtrlDelAtGaugeZeroDoesNothing) {
    Create({"ttyS0"});
    ShowForm();
    Recorder.Clear();
    QTest::keyClick(&Form(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(Recorder.Records.empty());
    EXPECT_FALSE(Form().State.AbortRequested);
    EXPECT_EQ(Form().StatusText(), "Мікропрограма готова до запису");
}

TEST_F(WindowTest, CtrlLOnAMissingPortEndsInGeneralErrorReporting) {
    Create({"ttyTARVEXNOSUCHPORT"});
    ShowForm();
    Recorder.Clear();
    QTest::keyClick(&Form(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(Recorder.Texts(TKind::Error),
              std::vector<std::string>{std::string(ComMessageText(1)) + "."});
    EXPECT_TRUE(Recorder.Of(TKind::Message).empty());
    EXPECT_TRUE(Form().isVisible()); // the window goes on
    EXPECT_FALSE(Form().BComPort1.IsOpen());
}

TEST_F(WindowTest, MakerSiteAndAboutButtons) {
    Create({"ttyS0"});
    Recorder.Clear();
    Form().sButton2->click();
    ASSERT_EQ(Recorder.Records.size(), 2u);
    EXPECT_EQ(Recorder.Records[0].Value, 64u);
    EXPECT_EQ(Recorder.Records[1].Kind, TKind::OpenUrl);
    EXPECT_EQ(Recorder.Records[1].Text, TMainForm::MakerSite);
    Recorder.Clear();
    Form().sButton3->click();
    EXPECT_EQ(Recorder.Beeps(), std::vector<unsigned>{64});
    EXPECT_TRUE(Help().isVisible());
    Recorder.Clear();
    Form().Label1Click();
    EXPECT_TRUE(Recorder.Records.empty());
}

TEST_F(WindowTest, SkinNameChoosesAKnownSkinOnly) {
    Create({"ttyS0"});
    const QString sheet = qApp->styleSheet();
    ASSERT_FALSE(sheet.isEmpty());
    Form().sComboBoxSkinName->setEditText(QStringLiteral("No such skin"));
    EXPECT_EQ(Form().sSkinManager1->SkinName(), TSkinManager::InternalSkinName);
    EXPECT_EQ(qApp->styleSheet(), sheet);
    Form().sComboBoxSkinName->setEditText(QString::fromLatin1(TSkinManager::InternalSkinName));
    EXPECT_EQ(Form().sSkinManager1->SkinName(), TSkinManager::InternalSkinName);
}

TEST_F(WindowTest, SnapsToTheScreenEdgesWithinTenPixels) {
    Create({"ttyS0"});
    ShowForm();
    const QRect area = Form().screen()->availableGeometry();
    // First shown in the middle of the screen.
    EXPECT_LE((Form().frameGeometry().center() - area.center()).manhattanLength(), 2);
    Form().move(area.left() + 7, area.top() + 100);
    EXPECT_EQ(Form().frameGeometry().left(), area.left());
    EXPECT_EQ(Form().frameGeometry().top(), area.top() + 100);
    Form().move(area.left() + 40, area.top() + 9);
    EXPECT_EQ(Form().frameGeometry().topLeft(), QPoint(area.left() + 40, area.top()));
    const int right = area.right() - Form().frameGeometry().width() + 1;
    Form().move(right - 10, area.top() + 50);
    EXPECT_EQ(Form().frameGeometry().right(), area.right());
}

TEST_F(WindowTest, PendingInputIsCheapAndStillHandledDuringALongRun) {
    Create({"ttyS0"});
    ShowForm();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 1'000'000; ++i) {
        Form().ProcessPendingInput();
    }
    // Typically a few milliseconds; the bound only catches a look at the queue per call.
    EXPECT_LT(timer.elapsed(), 1500);

    QCoreApplication::postEvent(&Form(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier));
    timer.restart();
    while (!Help().isVisible() && timer.elapsed() < 5000) {
        Form().ProcessPendingInput();
    }
    EXPECT_TRUE(Help().isVisible());
    EXPECT_LT(timer.elapsed(), 500);

    // A loop that lets the window pass over its idle calls still comes to real looks.
    Help().hide();
    QCoreApplication::postEvent(&Form(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier));
    timer.restart();
    while (!Help().isVisible() && timer.elapsed() < 5000) {
        Form().ProcessPendingInput();
        Form().SkipIdlePendingInput(1'000'000);
    }
    EXPECT_TRUE(Help().isVisible());
    EXPECT_LT(timer.elapsed(), 500);
}

TEST_F(WindowTest, LongTimeTextHasSecondsAndNoTimeZone) {
    Create({"ttyS0"});
    const QString format = TMainForm::LongTimeFormat();
    EXPECT_TRUE(format.contains(QLatin1Char('s')));
    EXPECT_FALSE(format.contains(QLatin1Char('t')));
    EXPECT_FALSE(Form().LongTimeText().empty());
    EXPECT_EQ(TMainForm::QtFileFilter("Файли: I8HEX, I16HEX, I32HEX|*.hex"),
              QString::fromUtf8("Файли: I8HEX, I16HEX, I32HEX (*.hex)"));
}

TEST_F(WindowTest, TextAreasFollowTheirModelAndDrawOnlyWhatIsInSight) {
    Create({"ttyS0"});
    TTextView view;
    view.resize(305, 200);
    for (int i = 0; i < 20000; ++i) {
        view.Text().AppendLine("line " + std::to_string(i));
    }
    const int lineHeight = view.fontMetrics().lineSpacing();
    const int visible = view.viewport()->height() / lineHeight;
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 20000 - visible);
    EXPECT_EQ(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(view.grab().isNull());
    view.Text().Clear();
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
}

// A unit's description in MemoAbout is drawn as its visible escapes would be: the same
// pixels, so no control or right-to-left override reaches the painter.
TEST_F(WindowTest, TextAreasDrawOutsideTextAsItsEscapes) {
    Create({"ttyS0"});
    const auto drawn = [](const std::string& text) {
        TTextView view;
        view.resize(305, 120);
        view.Text().SetText(text);
        return view.grab().toImage();
    };
    const std::string rlo = "\xE2\x80\xAE";
    EXPECT_EQ(drawn("241003\r\nfw\x1b[2J\x07" + rlo + "exe.txt"),
              drawn("241003\r\nfw\\x1b[2J\\x07\\u202eexe.txt"));
    EXPECT_NE(drawn("fw\x1b[2J"), drawn("fw[2J")); // the escape is there to see
}

} // namespace

// Every control of each window, drop-down lists included, in the windows' own font.
TEST_F(WindowTest, EveryControlShowsTheFormsFont) {
    Create({"ttyS0"});
    ShowForm();
    Form().ShowFormHelp();
    Form().Label1Click(); // the port overview
    ASSERT_NE(Form().PortDiagnosis, nullptr);
    const QString family = QFontInfo(FormFont()).family();
    for (QWidget* window : {static_cast<QWidget*>(&Form()), static_cast<QWidget*>(&Help()),
                            static_cast<QWidget*>(Form().PortDiagnosis)}) {
        EXPECT_EQ(QFontInfo(window->font()).family(), family);
        for (QWidget* control : window->findChildren<QWidget*>()) {
            EXPECT_EQ(QFontInfo(control->font()).family(), family)
                << window->objectName().toStdString() << ": " << control->metaObject()->className()
                << " " << control->objectName().toStdString();
        }
    }
    EXPECT_EQ(Form().ButtonWrite->font().pointSize(), 8);
}
