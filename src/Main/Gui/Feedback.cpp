#include "Feedback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QShowEvent>
#include <QUrl>
#include <QWidget>

#include "OutsideText.h"
#include "Sound.h"

namespace {

std::string& Title() {
    static std::string title;
    return title;
}

TFeedback::TSink& Sink() {
    static TFeedback::TSink sink;
    return sink;
}

bool AnyWindowVisible() {
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget* w : windows) {
        if (w->isVisible()) {
            return true;
        }
    }
    return false;
}

// The last code point of a UTF-8 text (0 for an empty text).
char32_t LastCodePoint(const std::string& text) {
    std::size_t i = text.size();
    if (i == 0) {
        return 0;
    }
    do {
        --i;
    } while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80);
    const QString tail =
        QString::fromUtf8(text.data() + i, static_cast<qsizetype>(text.size() - i));
    const auto ucs4 = tail.toUcs4();
    return ucs4.isEmpty() ? 0 : ucs4.back();
}

// A box centred on the screen it appears on, whatever its final size turns out to be,
// whose text keeps its lines: QMessageBox wraps any text wider than about 500 pixels, which
// breaks the program's messages mid-line.  Here the box grows to its longest line and
// wraps only a line wider than the screen.
class TCentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    bool event(QEvent* event) override {
        const bool result = QMessageBox::event(event);
        switch (event->type()) {
        case QEvent::LayoutRequest:
        case QEvent::FontChange:
        case QEvent::StyleChange:
            KeepLines();
            break;
        default:
            break;
        }
        return result;
    }

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        KeepLines();
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }

private:
    void KeepLines() {
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        const QScreen* screen = this->screen();
        if (!isVisible() || label == nullptr || screen == nullptr) {
            return;
        }
        const int frameWidth = frameGeometry().width() - width();
        const int widest = screen->availableGeometry().width() - frameWidth;
        label->setWordWrap(false);
        layout()->activate();
        int boxWidth = layout()->totalMinimumSize().width();
        if (boxWidth > widest) {
            label->setWordWrap(true);
            boxWidth = widest;
        }
        const int boxHeight = layout()->hasHeightForWidth()
                                  ? layout()->totalHeightForWidth(boxWidth)
                                  : layout()->totalMinimumSize().height();
        setFixedSize(boxWidth, boxHeight);
        // The changes above ask for another layout pass, which would size the box again.
        QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);
    }
};

// Keeps a key that answers a box to the box.  A key that closes the box on its way down is
// still held when the box has gone: its repeats, its release and, on Windows, the press the
// system hands on to the window that becomes active then reach the window below, where an
// Enter would press a button.  While the box is open this notes the keys that went down in
// it; once it has closed, it swallows those keys until each has come up (or the program
// loses the keyboard, which then sees no release), and ends itself.
class TBoxKeys final : public QObject {
public:
    explicit TBoxKeys(const QWidget* box) : QObject(qApp), Box(box) {
        qApp->installEventFilter(this);
    }
    // Also destroyed with the application, which may then be gone already.
    ~TBoxKeys() override {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            app->removeEventFilter(this);
        }
    }
    TBoxKeys(const TBoxKeys&) = delete;
    TBoxKeys& operator=(const TBoxKeys&) = delete;

    // The box has closed: lets go at once when no key of it is held.
    void BoxClosed() {
        Box = nullptr;
        if (Held.isEmpty()) {
            delete this;
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::ApplicationDeactivate && Box == nullptr) {
            deleteLater();
            return false;
        }
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease) {
            return false;
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (Box != nullptr) {
            const auto* widget = qobject_cast<const QWidget*>(watched);
            if (widget == nullptr || widget->window() != Box || key->isAutoRepeat()) {
                return false;
            }
            if (type == QEvent::KeyPress) {
                Held.insert(key->key());
            } else {
                Held.remove(key->key());
            }
            return false;
        }
        if (!Held.contains(key->key())) {
            return false;
        }
        if (type == QEvent::KeyRelease && !key->isAutoRepeat()) {
            Held.remove(key->key());
            if (Held.isEmpty()) {
                deleteLater();
            }
        }
        return true;
    }

private:
    const QWidget* Box;
    QSet<int> Held;
};

// Shows a box modally; the key that answers it goes no further.
void Exec(QMessageBox& box) {
    auto* keys = new TBoxKeys(&box);
    box.exec();
    keys->BoxClosed();
}

std::unique_ptr<QMessageBox> MakeBox(const std::string& text, QMessageBox::Icon icon) {
    auto box = std::make_unique<TCentredMessageBox>();
    box->setWindowTitle(QString::fromStdString(TFeedback::ApplicationTitle()));
    box->setIcon(icon);
    box->setTextFormat(Qt::PlainText);
    // A message may carry outside words (a unit's description, a file's name): its own line
    // breaks stay, every other control character shows as an escape.  CR LF is one line
    // break; a lone CR would otherwise show as a strange glyph.
    const std::string safe = ShownText(text, TLineBreaks::Kept);
    QString shown = QString::fromUtf8(safe.data(), static_cast<qsizetype>(safe.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box->setText(shown);
    box->setStandardButtons(QMessageBox::Ok);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    return box;
}

} // namespace

void TFeedback::SetApplicationTitle(const std::string& title) {
    Title() = title;
}

const std::string& TFeedback::ApplicationTitle() {
    return Title();
}

void TFeedback::SetSink(TSink sink) {
    Sink() = std::move(sink);
}

bool TFeedback::ToSink(TFeedbackRecord record) {
    if (!Sink()) {
        return false;
    }
    record.WindowVisible = AnyWindowVisible();
    Sink()(record);
    return true;
}

std::string TFeedback::WithFullStop(const std::string& text) {
    return LastCodePoint(text) > U'.' ? text + "." : text;
}

std::unique_ptr<QMessageBox> TFeedback::MessageBox(const std::string& text) {
    return MakeBox(text, QMessageBox::NoIcon);
}

std::unique_ptr<QMessageBox> TFeedback::ErrorBox(const std::string& text) {
    return MakeBox(WithFullStop(text), QMessageBox::Critical);
}

void TFeedback::ShowMessage(const std::string& text) {
    TFeedbackRecord record;
    record.Kind = TFeedbackRecord::TKind::Message;
    record.Text = text;
    record.Caption = ApplicationTitle();
    if (ToSink(record)) {
        return;
    }
    Exec(*MessageBox(text));
}

void TFeedback::ShowError(const std::string& text, const std::string& detail) {
    TFeedbackRecord record;
    record.Kind = TFeedbackRecord::TKind::Error;
    record.Text = WithFullStop(text) + (detail.empty() ? "" : "\n" + detail);
    record.Caption = ApplicationTitle();
    if (ToSink(record)) {
        return;
    }
    Exec(*MakeBox(record.Text, QMessageBox::Critical));
}

void TFeedback::MessageBeep(unsigned type) {
    TFeedbackRecord record;
    record.Kind = TFeedbackRecord::TKind::Beep;
    record.Value = type;
    if (ToSink(record)) {
        return;
    }
    Platform::MessageBeep(type);
}

void TFeedback::Beep(unsigned frequency, unsigned milliseconds) {
    TFeedbackRecord record;
    record.Kind = TFeedbackRecord::TKind::Tone;
    record.Value = frequency;
    record.Duration = milliseconds;
    if (ToSink(record)) {
        return;
    }
    Platform::Beep(frequency, milliseconds);
}

void TFeedback::OpenUrl(const std::string& address) {
    TFeedbackRecord record;
    record.Kind = TFeedbackRecord::TKind::OpenUrl;
    record.Text = address;
    if (ToSink(record)) {
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}
