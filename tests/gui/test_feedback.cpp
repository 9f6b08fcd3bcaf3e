// Message boxes, the full-stop rule of general error reporting, and the sounds.
#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "ComMessages.h"
#include "Feedback.h"
#include "Recorder.h"
#include "Sound.h"
#ifdef __linux__
#include "SoundThemeLinux.h"
#endif

namespace {

struct TFullStopCase {
    const char* Text;
    const char* Shown;
};

void PrintTo(const TFullStopCase& c, std::ostream* os) {
    *os << '"' << c.Text << '"';
}

class FullStopRule : public ::testing::TestWithParam<TFullStopCase> {};

TEST_P(FullStopRule, AddsAFullStopOnlyAfterCharactersAboveTheFullStop) {
    EXPECT_EQ(TFeedback::WithFullStop(GetParam().Text), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FullStopRule,
    ::testing::Values(TFullStopCase{"Спроба відкрити неіснуючий СОМ-порт",
                                    "Спроба відкрити неіснуючий СОМ-порт."},
                      TFullStopCase{"Відсутні СОМ-порти!\nНеобхідно повторно відкрити програму!",
                                    "Відсутні СОМ-порти!\nНеобхідно повторно відкрити програму!"},
                      TFullStopCase{"Value must be between 1 and 2147483647",
                                    "Value must be between 1 and 2147483647."},
                      TFullStopCase{"'x1' is not a valid integer value",
                                    "'x1' is not a valid integer value."},
                      TFullStopCase{"ends here.", "ends here."},
                      TFullStopCase{"(bracket)", "(bracket)"}, TFullStopCase{"slash/", "slash/."},
                      TFullStopCase{"blank ", "blank "}, TFullStopCase{"Ї", "Ї."},
                      TFullStopCase{"", ""}));

const char* const AbortText =
    "                   Зупинено користувачем!\r\n         Мікропрограма записана частково!\r\n"
    "Необхідно повторно вибрати файл прошивки,\r\n    і провести запис, інакще в подальшому\r\n"
    "             прилад буде не працездатний!";

TEST(MessageBox, KeepsLineBreaksAndLeadingBlanksWithoutIcon) {
    TFeedback::SetApplicationTitle("TARVEX-6 Bootloader (від 04.10.24)");
    const auto box = TFeedback::MessageBox(AbortText);
    EXPECT_EQ(box->windowTitle(), QString::fromUtf8("TARVEX-6 Bootloader (від 04.10.24)"));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    const QStringList lines = box->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 5);
    const int blanks[] = {19, 9, 0, 4, 13};
    for (int i = 0; i < 5; ++i) {
        const qsizetype firstVisible = lines[i].indexOf(QRegularExpression(QStringLiteral("\\S")));
        EXPECT_EQ(firstVisible, blanks[i]) << "line " << i + 1;
    }
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().front()->text(), QStringLiteral("OK"));
    // The label that shows the text is given it unchanged: no rich text, no trimming.
    const auto labels = box->findChildren<QLabel*>();
    const bool shownAsIs = std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
        return label->text() == box->text() && label->textFormat() == Qt::PlainText;
    });
    EXPECT_TRUE(shownAsIs);
}

// The completion message as the write shows it: three lines, the second the longest.
const char* const CompletionText =
    "                                         Мікропрограма успішно завантажена в 12:04:36\r\n"
    "Після запису необхідно провести процедуру встановлення початкових установок (при "
    "наявності)\r\n                  Після запису необхідно провести встановлення "
    "конфігурації (при наявності)";

// The box shown without its modal loop; the label that carries the text.
struct TShownBox {
    explicit TShownBox(const std::string& text) : Box(TFeedback::MessageBox(text)) {
        Box->show();
        QApplication::processEvents();
        Label = Box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    }
    int ScreenWidth() const { return Box->screen()->availableGeometry().width(); }
    std::unique_ptr<QMessageBox> Box;
    QLabel* Label = nullptr;
};

TEST(MessageBox, EachLineWholeAndTheBoxAsWideAsTheLongest) {
    const TShownBox shown(CompletionText);
    ASSERT_NE(shown.Label, nullptr);
    EXPECT_FALSE(shown.Label->wordWrap());
    const QFontMetrics metrics(shown.Label->font());
    int longest = 0;
    for (const QString& line : shown.Box->text().split(QLatin1Char('\n'))) {
        longest = std::max(longest, metrics.horizontalAdvance(line));
    }
    ASSERT_GT(longest, 500); // wider than a message box allows by itself
    EXPECT_GE(shown.Label->contentsRect().width(), longest);
    EXPECT_LT(shown.Label->height(), 4 * metrics.lineSpacing()); // three lines, none wrapped
    EXPECT_LE(shown.Box->frameGeometry().width(), shown.ScreenWidth());
    // No wider than it must be: the longest line plus the box's margins.
    EXPECT_LT(shown.Box->width(), longest + 100);
}

TEST(MessageBox, OnlyALineWiderThanTheScreenWraps) {
    const TShownBox shown(std::string(200, 'W') + "\r\n" + std::string(400, 'W'));
    ASSERT_NE(shown.Label, nullptr);
    EXPECT_TRUE(shown.Label->wordWrap());
    EXPECT_LE(shown.Box->frameGeometry().width(), shown.ScreenWidth());
}

// A unit's description and a file's name reach the box as text: its own line breaks stay,
// escape sequences and the right-to-left override show as escapes, markup as characters.
TEST(MessageBox, OutsideTextIsShownNeverObeyed) {
    const struct {
        std::string Text;
        std::string Shown;
    } cases[] = {
        {"Визначино:\r\n\x1b[2J\x1b]0;PWNED\x07", "Визначино:\n\\x1b[2J\\x1b]0;PWNED\\x07"},
        {"firmware\xE2\x80\xAEtxt.hex", "firmware\\u202etxt.hex"},
        {"<b>bold</b>\rnext", "<b>bold</b>\nnext"},
    };
    for (const auto& c : cases) {
        const auto box = TFeedback::MessageBox(c.Text);
        EXPECT_EQ(box->text().toStdString(), c.Shown);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
    }
}

TEST(MessageBox, ErrorBoxHasErrorIconAndFullStop) {
    TFeedback::SetApplicationTitle("VORN Bootloader");
    const auto box = TFeedback::ErrorBox(ComMessageText(1));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("VORN Bootloader"));
    EXPECT_EQ(box->text().toStdString(), std::string(ComMessageText(1)) + ".");
    EXPECT_EQ(box->buttons().size(), 1);
}

TEST(GeneralErrorReporting, ShowsTheErrorAndGoesOn) {
    TFeedbackRecorder recorder;
    TFeedback::SetApplicationTitle("T");
    bool after = false;
    ReportErrors([] { throw EComPort(15); });
    ReportErrors([] { throw std::runtime_error("Спроба"); });
    after = true;
    EXPECT_TRUE(after);
    const std::vector<std::string> expected = {ComMessageText(15), "Спроба."};
    EXPECT_EQ(recorder.Texts(TFeedbackRecorder::TKind::Error), expected);
    EXPECT_EQ(recorder.Records.front().Caption, "T");
}

TEST(GeneralErrorReporting, ABusyPortsHolderFollowsTheMessageOnALineOfItsOwn) {
    TFeedbackRecorder recorder;
    ReportErrors([] { throw EComPort(2, "Порт тримає: minicom (процес 812, користувач ivan)"); });
    ReportErrors([] { throw EComPort(2); });
    const std::vector<std::string> expected = {
        "Порт зайнятий іншою програмою.\nПорт тримає: minicom (процес 812, користувач ivan)",
        "Порт зайнятий іншою програмою."};
    EXPECT_EQ(recorder.Texts(TFeedbackRecorder::TKind::Error), expected);
}

TEST(Sounds, ToneBlocksForItsDurationAndBeepReturnsAtOnce) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Platform::Beep(1200, 60);
    const auto toneTime = Clock::now() - start;
    EXPECT_GE(toneTime, std::chrono::milliseconds(60));
    EXPECT_LT(toneTime, std::chrono::seconds(3));

    const auto beepStart = Clock::now();
    for (unsigned type : {16u, 32u, 48u, 64u}) {
        Platform::MessageBeep(type);
    }
    EXPECT_LT(Clock::now() - beepStart, std::chrono::seconds(2));
}

#ifdef __linux__
TEST(Sounds, EveryBeepHasANameTheInstalledSoundThemeHolds) {
    const std::filesystem::path theme = "/usr/share/sounds/freedesktop/stereo";
    if (!std::filesystem::is_directory(theme)) {
        GTEST_SKIP() << "no freedesktop sound theme installed";
    }
    for (unsigned type : {16u, 32u, 48u, 64u, 0u}) {
        const auto names = Platform::EventSoundNames(type);
        const bool held = std::any_of(names.begin(), names.end(), [&](const char* name) {
            return std::filesystem::exists(theme / (std::string(name) + ".oga"));
        });
        EXPECT_TRUE(held) << "MessageBeep type " << type;
    }
    // A theme's own question sound comes first where it has one.
    EXPECT_STREQ(Platform::EventSoundNames(32).front(), "dialog-question");
}
#endif

TEST(Sounds, SinkRecordsWithoutPlaying) {
    TFeedbackRecorder recorder;
    const auto start = std::chrono::steady_clock::now();
    TFeedback::Beep(1200, 200);
    TFeedback::Beep(800, 200);
    TFeedback::MessageBeep(48);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    ASSERT_EQ(recorder.Records.size(), 3u);
    EXPECT_EQ(recorder.Records[1].Value, 800u);
    EXPECT_EQ(recorder.Records[1].Duration, 200u);
    EXPECT_EQ(recorder.Beeps(), std::vector<unsigned>{48});
}

} // namespace
