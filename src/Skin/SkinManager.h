// The skinned widget layer: named skins (Qt style sheets stored zlib-compressed) and the
// fade animations of windows.
//
// Controls choose their look with the dynamic property skinLook ("BAR", "COMBOBOX",
// "BUTTON_HUGE", "DIALOG", "PANEL"); the skin's style sheet gives each look its paint.
#pragma once

#include <QObject>

#include <string>
#include <vector>

class QWidget;

class TSkinManager : public QObject {
    Q_OBJECT
public:
    static constexpr const char* InternalSkinName = "WEB2 (internal)";
    static constexpr int WindowAnimationMs = 70;
    static constexpr int DialogAnimationMs = 50;

    // Applies the built-in skin to the whole application and starts animating windows.
    explicit TSkinManager(QObject* parent = nullptr);
    ~TSkinManager() override;

    const std::string& SkinName() const { return SkinName_; }
    // Switches to the skin of that name; an unknown name keeps the current skin (false).
    bool SetSkinName(const std::string& name);

    static std::vector<std::string> SkinNames();
    // The skin's style sheet, inflated; empty for an unknown name.
    static std::string SkinStyleSheet(const std::string& name);

    // Fades `window` out and hides it; a show before the fade ends cancels it.
    static void AnimatedHide(QWidget* window);
    // Stops a running fade-out and makes the window fully opaque again.
    static void CancelHide(QWidget* window);
    // False on platforms that cannot change a window's opacity (offscreen, minimal):
    // there windows appear and disappear at once.
    static bool AnimationsAvailable();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string SkinName_;
};
