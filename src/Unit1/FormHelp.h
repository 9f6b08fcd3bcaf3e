// The about window: the maker's emblem, its web address and an OK button.
//
// Created hidden at start-up and kept until the program ends; showing it again only
// brings it to the front.  It is never modal.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class TKeyPreview;

class TFormHelp : public QWidget {
    Q_OBJECT
public:
    // The address shown by the link label, without its scheme.
    static constexpr const char* WebAddress = "help.vorn.example";

    explicit TFormHelp(QWidget* parent = nullptr);

    // Makes the window visible if it is hidden and brings it to the front.
    void ShowHelp();
    // Hides the window (faded where the desktop can).
    void CloseHelp();

    // Handlers.
    void FormCreate() {}
    void FormKeyDown(int virtualKey, Qt::KeyboardModifiers shift);
    void Button1Click();
    void sWebLabel1Click();

    QLabel* sWebLabel1 = nullptr;
    QLabel* Image_Emblem = nullptr;
    QPushButton* Button1 = nullptr;

private:
    TKeyPreview* KeyPreview = nullptr;
};
