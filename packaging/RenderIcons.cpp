// Writes the program's icon as PNG files for the desktop's menus, or as one Windows icon
// file holding every size:
//   tarvex6-icons OUTPUT_DIR NAME SIZE...  ->  OUTPUT_DIR/<SIZE>x<SIZE>/apps/NAME.png
//   tarvex6-icons --ico FILE SIZE...       ->  FILE (.ico, each size stored as PNG)
// The picture is the window's own, drawn by the same code at each size.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QString>

#include <cstdio>
#include <cstring>
#include <vector>

#include "Pictures.h"

namespace {

void PutLe16(QByteArray& out, unsigned value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void PutLe32(QByteArray& out, unsigned value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

// An .ico file: its header, one directory entry per picture, then each picture as PNG
// (Windows reads PNG entries of any size since Vista).  A size of 256 is written as 0.
bool WriteIco(const QString& file, const std::vector<int>& sizes) {
    std::vector<QByteArray> pictures;
    for (const int size : sizes) {
        const QPixmap picture = ProgramPicture(size);
        QByteArray png;
        QBuffer buffer(&png);
        if (size > 256 || picture.size() != QSize(size, size) ||
            !buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
            return false;
        }
        pictures.push_back(png);
    }
    QByteArray out;
    PutLe16(out, 0); // reserved
    PutLe16(out, 1); // an icon
    PutLe16(out, static_cast<unsigned>(sizes.size()));
    unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const unsigned side = sizes[i] == 256 ? 0 : static_cast<unsigned>(sizes[i]);
        out.append(static_cast<char>(side)); // width
        out.append(static_cast<char>(side)); // height
        out.append('\0');                    // no palette
        out.append('\0');                    // reserved
        PutLe16(out, 1);                     // colour planes
        PutLe16(out, 32);                    // bits per pixel
        PutLe32(out, static_cast<unsigned>(pictures[i].size()));
        PutLe32(out, offset);
        offset += static_cast<unsigned>(pictures[i].size());
    }
    for (const QByteArray& png : pictures) {
        out.append(png);
    }
    QFile target(file);
    return target.open(QIODevice::WriteOnly) && target.write(out) == out.size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR NAME SIZE... | --ico FILE SIZE...\n",
                     argc > 0 ? argv[0] : "");
        return 1;
    }
    // Drawing needs a GUI application; the offscreen platform needs no display.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    char* toolkitArgv[] = {argv[0], platformOption, platformName, nullptr};
    int toolkitArgc = 3;
    QGuiApplication application(toolkitArgc, toolkitArgv);

    if (std::strcmp(argv[1], "--ico") == 0) {
        std::vector<int> sizes;
        for (int i = 3; i < argc; ++i) {
            bool ok = false;
            sizes.push_back(QString::fromLocal8Bit(argv[i]).toInt(&ok));
            if (!ok || sizes.back() <= 0) {
                std::fprintf(stderr, "bad size: %s\n", argv[i]);
                return 1;
            }
        }
        if (!WriteIco(QString::fromLocal8Bit(argv[2]), sizes)) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }

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
