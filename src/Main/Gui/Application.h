// The program's two windows, created in start-up order: the main window (which runs its
// start-up while still hidden), then the about window, hidden.
#pragma once

#include <memory>

#include "FormHelp.h"
#include "MainForm.h"

struct TApplicationWindows {
    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TFormHelp> FormHelp;
};

// The application title before the main window sets its own.
inline constexpr const char* InitialApplicationTitle = "VORN Bootloader";

TApplicationWindows CreateApplicationWindows(TMainForm::TSeams seams = {});
