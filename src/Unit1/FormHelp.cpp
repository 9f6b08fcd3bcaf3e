#include "FormHelp.h"

#include <functional>

#include <QApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

#include "Feedback.h"
#include "FormFont.h"
#include "JpegImage.h"
#include "KeyPreview.h"
#include "SkinManager.h"
#include "TarvexVersion.h"
#include "WindowFront.h"
#include "WindowHost.h"

#include "EmblemJpeg.h"

namespace {

// The link label: a hand cursor, its own colour, the window-text colour under the mouse.
class TWebLabel : public QLabel {
public:
    TWebLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
        : QLabel(text, parent), OnClick(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
        SetColour(QColor(0, 64, 128));
    }

protected:
    void enterEvent(QEnterEvent* event) override {
        // The system's colour: the label's own palette carries the link colour by now.
        SetColour(QApplication::palette().color(QPalette::WindowText));
        QLabel::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        SetColour(QColor(0, 64, 128));
        QLabel::leaveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            OnClick();
        }
    }

private:
    void SetColour(const QColor& colour) {
        // Only the text's colour, over whatever the skin gives labels.
        setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
    }
    std::function<void()> OnClick;
};

} // namespace

TFormHelp::TFormHelp(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FormHelp"));
    setAttribute(Qt::WA_StyledBackground);
    // Closing the main window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Про програму"));
    setFont(FormFont());
    setBackgroundRole(QPalette::Button);
    // The outer frame's corner: move() places the frame, setGeometry() the client area.
    setFixedSize(154, 193);
    move(616, 197);

    sWebLabel1 = new TWebLabel(QString::fromLatin1(WebAddress), this,
                               [this] { ReportErrors([this] { sWebLabel1Click(); }); });
    sWebLabel1->setObjectName(QStringLiteral("sWebLabel1"));
    sWebLabel1->setGeometry(29, 119, 91, 13);

    Image_Emblem = new QLabel(this);
    Image_Emblem->setObjectName(QStringLiteral("Image_Emblem"));
    Image_Emblem->setGeometry(16, 16, 121, 89);
    Image_Emblem->setPixmap(QPixmap::fromImage(DecodeJpeg(EmblemJpeg, sizeof(EmblemJpeg))));
    Image_Emblem->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The program's version, where it leaves the window's layout as it is.
    Image_Emblem->setToolTip(QStringLiteral("TARVEX-6 Bootloader, версія ") +
                             QString::fromLatin1(TarvexVersion));

    Button1 = new QPushButton(QStringLiteral("ОК"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(35, 145, 81, 33);
    Button1->setAutoDefault(true); // Enter presses it as Space does
    Button1->setFocusPolicy(Qt::StrongFocus);
    Button1->setProperty("skinLook", QStringLiteral("DIALOG"));
    connect(Button1, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { Button1Click(); }); });
    setFocusProxy(Button1);
    SetFormFont(this);

    KeyPreview = new TKeyPreview(this, [this](int key, Qt::KeyboardModifiers shift) {
        ReportErrors([&] { FormKeyDown(key, shift); });
    });
    FormCreate();
}

void TFormHelp::ShowHelp() {
    TSkinManager::CancelHide(this);
    show();
    BringWindowToFront(this);
}

void TFormHelp::CloseHelp() {
    TSkinManager::AnimatedHide(this);
}

void TFormHelp::FormKeyDown(int virtualKey, Qt::KeyboardModifiers) {
    if (virtualKey == 112) { // F1, whatever modifiers are held
        CloseHelp();
    }
}

void TFormHelp::Button1Click() {
    TFeedback::MessageBeep(mbInformation);
    CloseHelp();
}

void TFormHelp::sWebLabel1Click() {
    TFeedback::MessageBeep(mbInformation);
    TFeedback::OpenUrl(std::string("http://") + WebAddress);
}
