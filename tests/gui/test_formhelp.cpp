// The about window: layout, emblem, and the ways it is shown and hidden.
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "FormHelp.h"
#include "JpegImage.h"
#include "TarvexVersion.h"
#include "WindowFixture.h"

namespace {

using TKind = TFeedbackRecorder::TKind;

// A window hides at once where there is nothing to see, and after its fade on a real display.
bool Hides(const QWidget& window) {
    return QTest::qWaitFor([&window] { return !window.isVisible(); }, 5000);
}

TEST_F(WindowTest, AboutWindowLayout) {
    Create({"ttyS0"});
    EXPECT_EQ(Help().windowTitle(), QStringLiteral("Про програму"));
    EXPECT_EQ(Help().geometry(), QRect(616, 197, 154, 193));
    EXPECT_EQ(Help().Button1->text(), QStringLiteral("ОК"));
    EXPECT_EQ(Help().Button1->geometry(), QRect(35, 145, 81, 33));
    EXPECT_EQ(Help().sWebLabel1->geometry(), QRect(29, 119, 91, 13));
    EXPECT_EQ(Help().sWebLabel1->text(), QString::fromLatin1(TFormHelp::WebAddress));
    EXPECT_EQ(Help().Image_Emblem->geometry(), QRect(16, 16, 121, 89));
    EXPECT_EQ(Help().Image_Emblem->pixmap().size(), QSize(120, 89));
    EXPECT_EQ(Help().Image_Emblem->toolTip(),
              QStringLiteral("TARVEX-6 Bootloader, версія ") + QString::fromLatin1(TarvexVersion));
    EXPECT_FALSE(Help().windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(Help().isVisible());
}

TEST_F(WindowTest, F1OpensAndClosesTheAboutWindowSilently) {
    Create({"ttyS0"});
    ShowForm();
    Recorder.Clear();
    QTest::keyClick(&Form(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_TRUE(Help().isVisible());
    QTest::keyClick(&Form(), Qt::Key_F1, Qt::ControlModifier); // shown twice: still one
    EXPECT_TRUE(Help().isVisible());
    QTest::keyClick(Help().Button1, Qt::Key_Escape);
    EXPECT_TRUE(Help().isVisible());
    QTest::keyClick(Help().Button1, Qt::Key_F1);
    EXPECT_TRUE(Hides(Help()));
    EXPECT_TRUE(Recorder.Records.empty());
    EXPECT_TRUE(Form().isVisible());
}

TEST_F(WindowTest, OkButtonBeepsAndHides) {
    Create({"ttyS0"});
    ShowForm();
    for (auto press : {0, 1, 2}) {
        Form().ShowFormHelp();
        Recorder.Clear();
        if (press == 0) {
            Help().Button1->click();
        } else {
            QTest::keyClick(Help().Button1, press == 1 ? Qt::Key_Space : Qt::Key_Return);
        }
        EXPECT_TRUE(Hides(Help())) << press;
        EXPECT_EQ(Recorder.Beeps(), std::vector<unsigned>{64}) << press;
    }
}

TEST_F(WindowTest, WebLabelOpensTheMakersPage) {
    Create({"ttyS0"});
    Recorder.Clear();
    Help().sWebLabel1Click();
    ASSERT_EQ(Recorder.Records.size(), 2u);
    EXPECT_EQ(Recorder.Records[0].Value, 64u);
    EXPECT_EQ(Recorder.Records[1].Text, std::string("http://") + TFormHelp::WebAddress);
    EXPECT_NE(Recorder.Records[1].Text, TMainForm::MakerSite);
}

TEST_F(WindowTest, AboutWindowFrameStandsWhereItWasLaidOut) {
    Create({"ttyS0"});
    Form().ShowFormHelp();
    QApplication::processEvents();
    ASSERT_NE(Help().frameGeometry().topLeft(), Help().geometry().topLeft()); // a frame is drawn
    EXPECT_EQ(Help().frameGeometry().topLeft(), QPoint(616, 197));
    EXPECT_EQ(Help().size(), QSize(154, 193));
}

TEST_F(WindowTest, WebLabelTakesTheWindowTextColourUnderTheMouse) {
    Create({"ttyS0"});
    Form().ShowFormHelp();
    QLabel* link = Help().sWebLabel1;
    const auto shown = [link] {
        link->ensurePolished();
        return link->palette().color(QPalette::WindowText);
    };
    const QColor linkColour(0, 64, 128);
    const QColor windowText = QApplication::palette().color(QPalette::WindowText);
    ASSERT_NE(windowText, linkColour);
    EXPECT_EQ(shown(), linkColour);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(shown(), windowText);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(shown(), linkColour);
}

TEST(Jpeg, DamagedDataGivesANullImage) {
    const unsigned char junk[] = {0xFF, 0xD8, 0xFF, 0x00, 0x12, 0x34};
    EXPECT_TRUE(DecodeJpeg(junk, sizeof junk).isNull());
    EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
}

} // namespace
