// Takes the README's pictures of the real window on a real X display (Xvfb, see
// screenshots.sh, and tests/win/screenshots.sh for the Windows build under Wine): the window
// with its frame, the open port list with an entry's tool tip, the serial port overview, and
// the completion message of a real write into the instrument simulator.
//
//   gui_screenshots <output folder> <port to write to>
//                   [window,service,list,overview,overview-busy,completion]
//
// overview-busy is the overview saved as port-overview-busy, for a run while another program
// holds the port; service is the window with its service area shown, saved as
// window-service.
// The third argument names the pictures to take (list, overview and completion by default).
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "Application.h"
#include "Feedback.h"
#include "PortDiagnosis.h"

namespace {

QString Folder;

// Lets the window system draw for `ms` milliseconds.
void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The screen's pixels inside `area` (grown by a margin), saved as name.png.
void Shoot(const QRect& area, const char* name) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect box = area.adjusted(-12, -12, 12, 12).intersected(screen->geometry());
    const QString path = Folder + QLatin1Char('/') + QString::fromLatin1(name) + ".png";
    const bool saved =
        screen->grabWindow(0, box.x(), box.y(), box.width(), box.height()).save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED", path.toLocal8Bit().constData());
}

QRect Outer(const QWidget* w) {
    return w->frameGeometry();
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr,
                     "usage: gui_screenshots <folder> <port> [window,list,overview,completion]\n");
        return 2;
    }
    const QStringList shots =
        QString::fromLatin1(argc == 4 ? argv[3] : "list,overview,completion").split(',');
    Folder = QString::fromLocal8Bit(argv[1]);
    const QString port = QString::fromLocal8Bit(argv[2]);
    TFeedback::SetApplicationTitle(InitialApplicationTitle);
    TApplicationWindows windows = CreateApplicationWindows();
    TMainForm& form = *windows.MainForm;
    form.show();
    Settle(500);

    // 1. The open port list, the pointer on the simulator's entry and its tool tip.
    QComboBox* list = form.cbPort;
    const int index = list->findText(port);
    if (index < 0) {
        std::fprintf(stderr, "port %s is not listed\n", argv[2]);
        return 1;
    }
    if (shots.contains(QStringLiteral("list"))) {
        list->setCurrentIndex(index);
        list->showPopup();
        Settle(400);
        QAbstractItemView* view = list->view();
        const QRect item = view->visualRect(view->model()->index(index, 0));
        const QPoint at = view->viewport()->mapToGlobal(item.center());
        QCursor::setPos(at);
        QToolTip::showText(at + QPoint(12, 16), list->itemData(index, Qt::ToolTipRole).toString(),
                           view->viewport());
        Settle(600);
        QRect area = Outer(&form).united(Outer(view->window()));
        if (QWidget* tip = QApplication::widgetAt(at + QPoint(20, 24))) {
            area = area.united(Outer(tip->window()));
        }
        Shoot(area, "port-list");
        QToolTip::hideText();
        list->hidePopup();
        list->setCurrentIndex(index);
        Settle(300);
    }
    list->setCurrentIndex(index);
    if (shots.contains(QStringLiteral("window"))) {
        Settle(300);
        Shoot(Outer(&form), "window");
    }
    if (shots.contains(QStringLiteral("service"))) {
        form.ExpandView();
        Settle(300);
        // The taller window whole on the screen, with the picture's margin: a grab that
        // reaches past the screen's edge comes back black.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const int over = form.frameGeometry().bottom() + 16 - screen.bottom();
        if (over > 0) {
            form.move(form.x(), std::max(screen.top(), form.y() - over));
        }
        Settle(800);
        Shoot(Outer(&form), "window-service");
    }

    // 2. The serial port overview behind "Порт:".
    for (const char* name : {"overview", "overview-busy"}) {
        if (shots.contains(QLatin1String(name))) {
            form.Label1Click();
            Settle(600);
            Shoot(Outer(form.PortDiagnosis), (std::string("port-") + name).c_str());
            form.PortDiagnosis->close();
            Settle(300);
        }
    }

    // 3. A real write; the completion message is taken when it appears, then closed.
    if (!shots.contains(QStringLiteral("completion"))) {
        return 0;
    }
    QTimer watch;
    watch.setInterval(200);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        watch.stop();
        QTimer::singleShot(500, box, [box, &form] {
            Shoot(Outer(box).united(Outer(&form)), "completion-message");
            box->accept();
        });
    });
    watch.start();
    form.ButtonWriteClick();
    std::printf("status: %s\n", form.StatusText().c_str());
    return 0;
}
