// Program entry: the application, its title, the main window (whose creation runs the
// start-up), the hidden about window, and the message loop until the main window closes.
#include <QApplication>

#include "Application.h"
#include "Feedback.h"
#include "Fonts.h"

int main(int argc, char** argv) {
    // The program takes no command line: only the program name reaches the toolkit.
    int toolkitArgc = argc > 0 ? 1 : 0;
    Platform::ApplyEnvironmentLocale(); // before the font loader's thread exists
    Platform::TFontPreload fonts;       // while the toolkit connects to the display
    QApplication application(toolkitArgc, argv);
    fonts.Wait();
    TFeedback::SetApplicationTitle(InitialApplicationTitle);

    TApplicationWindows windows = CreateApplicationWindows();
    windows.MainForm->show();
    return application.exec();
}
