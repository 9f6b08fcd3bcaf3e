// A Qt generic plugin that the package test loads into the installed, unchanged window
// program (QT_QPA_GENERIC_PLUGINS=tarvex6readyprobe).  It watches the program's own widgets
// until the main window is shown with the ready status and an enabled flash button, prints
//   READY<TAB>window title<TAB>about window's emblem tool tip
// and ends the message loop with 0.  If that state is not reached within 60 s it prints what
// it saw and ends it with 3.
#include <QApplication>
#include <QElapsedTimer>
#include <QGenericPlugin>
#include <QLabel>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

QWidget* TopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name)) {
            return widget;
        }
    }
    return nullptr;
}

class TReadyProbe : public QObject {
public:
    TReadyProbe() {
        Clock.start();
        connect(&Timer, &QTimer::timeout, this, &TReadyProbe::Look);
        Timer.start(20);
    }

private:
    void Look() {
        QWidget* form = TopLevel("MainForm");
        QWidget* help = TopLevel("FormHelp");
        auto* status = form ? form->findChild<QLabel*>(QStringLiteral("LabelNameOfHex")) : nullptr;
        auto* write = form ? form->findChild<QWidget*>(QStringLiteral("ButtonWrite")) : nullptr;
        auto* emblem = help ? help->findChild<QWidget*>(QStringLiteral("Image_Emblem")) : nullptr;
        const bool ready = form && form->isVisible() && status && write && emblem &&
                           status->text() == QStringLiteral("Мікропрограма готова до запису") &&
                           write->isEnabled();
        if (!ready && Clock.elapsed() < 60'000) {
            return;
        }
        Timer.stop();
        if (ready) {
            std::printf("READY\t%s\t%s\n", qUtf8Printable(form->windowTitle()),
                        qUtf8Printable(emblem->toolTip()));
        } else {
            std::printf("NOT READY after 60 s: main window %s, status \"%s\"\n",
                        form ? (form->isVisible() ? "shown" : "hidden") : "missing",
                        status ? qUtf8Printable(status->text()) : "");
        }
        std::fflush(stdout);
        QCoreApplication::exit(ready ? 0 : 3);
    }

    QTimer Timer;
    QElapsedTimer Clock;
};

} // namespace

class TReadyProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ReadyProbe.json")
public:
    QObject* create(const QString& key, const QString&) override {
        return key == QLatin1String("tarvex6readyprobe") ? new TReadyProbe : nullptr;
    }
};

#include "ReadyProbe.moc"
