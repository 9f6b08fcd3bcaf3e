#include "Application.h"

TApplicationWindows CreateApplicationWindows(TMainForm::TSeams seams) {
    TApplicationWindows windows;
    windows.MainForm = std::make_unique<TMainForm>(std::move(seams));
    windows.FormHelp = std::make_unique<TFormHelp>();
    windows.MainForm->SetFormHelp(windows.FormHelp.get());
    return windows;
}
