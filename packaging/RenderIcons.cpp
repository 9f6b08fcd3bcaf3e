// Writes the program's icon as PNG files for the desktop's menus:
//   tarvex6-icons OUTPUT_DIR NAME SIZE...  ->  OUTPUT_DIR/<SIZE>x<SIZE>/apps/NAME.png
// The picture is the window's own, drawn by the same code at each size.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QString>

#include <cstdio>

#include "Pictures.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR NAME SIZE...\n", argc > 0 ? argv[0] : "");
        return 1;
    }
    // Drawing needs a GUI application; the offscreen platform needs no display.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    char* toolkitArgv[] = {argv[0], platformOption, platformName, nullptr};
    int toolkitArgc = 3;
    QGuiApplication application(toolkitArgc, toolkitArgv);

    const QString outputDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0) {
            std::fprintf(stderr, "bad size: %s\n", argv[i]);
            return 1;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outputDir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        const QPixmap picture = ProgramPicture(size);
        if (!QDir().mkpath(dir) || picture.size() != QSize(size, size) ||
            !picture.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
