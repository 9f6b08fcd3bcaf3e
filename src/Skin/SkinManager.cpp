#include "SkinManager.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QWidget>

#include <zlib.h>

namespace {

#include "Web2Skin.inc"

struct TPackedSkin {
    const char* Name;
    const unsigned char* Data;
    unsigned long PackedSize;
    unsigned long Size;
};

const TPackedSkin PackedSkins[] = {
    {TSkinManager::InternalSkinName, Web2Skin, sizeof(Web2Skin), Web2SkinSize},
};

const char* const HideAnimationName = "skinFadeOut";

} // namespace

TSkinManager::TSkinManager(QObject* parent) : QObject(parent) {
    SetSkinName(InternalSkinName);
    qApp->installEventFilter(this);
}

TSkinManager::~TSkinManager() {
    qApp->removeEventFilter(this);
}

bool TSkinManager::SetSkinName(const std::string& name) {
    const std::string sheet = SkinStyleSheet(name);
    if (sheet.empty()) {
        return false;
    }
    SkinName_ = name;
    qApp->setStyleSheet(QString::fromStdString(sheet));
    return true;
}

std::vector<std::string> TSkinManager::SkinNames() {
    std::vector<std::string> names;
    for (const TPackedSkin& skin : PackedSkins) {
        names.emplace_back(skin.Name);
    }
    return names;
}

std::string TSkinManager::SkinStyleSheet(const std::string& name) {
    for (const TPackedSkin& skin : PackedSkins) {
        if (name != skin.Name) {
            continue;
        }
        std::string text(skin.Size, '\0');
        uLongf size = skin.Size;
        if (uncompress(reinterpret_cast<Bytef*>(text.data()), &size, skin.Data, skin.PackedSize) !=
                Z_OK ||
            size != skin.Size) {
            return {};
        }
        return text;
    }
    return {};
}

bool TSkinManager::AnimationsAvailable() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void TSkinManager::AnimatedHide(QWidget* window) {
    if (!window->isVisible()) {
        return;
    }
    if (!AnimationsAvailable()) {
        window->hide();
        return;
    }
    CancelHide(window);
    auto* fade = new QPropertyAnimation(window, "windowOpacity", window);
    fade->setObjectName(HideAnimationName);
    fade->setDuration(qobject_cast<QDialog*>(window) ? DialogAnimationMs : WindowAnimationMs);
    fade->setStartValue(window->windowOpacity());
    fade->setEndValue(0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, window, [window] {
        window->hide();
        window->setWindowOpacity(1.0);
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void TSkinManager::CancelHide(QWidget* window) {
    if (auto* fade =
            window->findChild<QPropertyAnimation*>(HideAnimationName, Qt::FindDirectChildrenOnly)) {
        fade->disconnect(window);
        fade->stop();
        if (AnimationsAvailable()) {
            window->setWindowOpacity(1.0);
        }
    }
}

bool TSkinManager::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || !AnimationsAvailable()) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow()) {
        return false;
    }
    const Qt::WindowType type = widget->windowType();
    if (type != Qt::Window && type != Qt::Dialog) {
        return false; // pop-up lists and tool tips appear at once
    }
    auto* fade = new QPropertyAnimation(widget, "windowOpacity", widget);
    fade->setDuration(qobject_cast<QDialog*>(widget) ? DialogAnimationMs : WindowAnimationMs);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    return false;
}
