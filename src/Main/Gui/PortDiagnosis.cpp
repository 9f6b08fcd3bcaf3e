#include "PortDiagnosis.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "ComMessages.h"
#include "FormFont.h"
#include "OutsideText.h"

namespace {

// Every text here holds the machine's and the devices' words (USB strings, names of
// processes and groups, the kernel's log): shown, never obeyed.
QString FromUtf8(const std::string& text) {
    const std::string shown = ShownText(text);
    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

QString DriverText(const TSerialPortInfo& info) {
    if (info.Driver == "pseudo-terminal") {
        return QStringLiteral("псевдотермінал");
    }
    return FromUtf8(info.Driver);
}

QString UsbText(const TSerialPortInfo& info) {
    if (info.Driver == "pseudo-terminal" && !info.LinkTarget.empty()) {
        return QStringLiteral("→ ") + FromUtf8(info.LinkTarget);
    }
    return FromUtf8(UsbDescription(info));
}

// The holders for the table: "minicom 1234", one per line.
QString HolderNames(const std::vector<TPortHolder>& holders) {
    QStringList names;
    for (const TPortHolder& h : holders) {
        names << FromUtf8((h.Program.empty() ? std::string("?") : h.Program) + " " +
                          std::to_string(h.Pid));
    }
    return names.join(QLatin1Char('\n'));
}

QString SessionGroupsText(const TPortUser& user) {
    std::vector<std::uint32_t> groups = user.SessionGroups;
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    QStringList names;
    for (std::uint32_t gid : groups) {
        names << FromUtf8(GroupNameOf(gid));
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

TPortDiagnosis::TPortDiagnosis(QWidget* parent, TDescribePorts describe, TPortUser user)
    : QDialog(parent), Describe(std::move(describe)), User(std::move(user)) {
    setObjectName(QStringLiteral("PortDiagnosis"));
    setWindowTitle(QStringLiteral("Послідовні порти"));
    setFont(FormFont());
    setSizeGripEnabled(true);

    Intro = new QLabel(this);
    Intro->setObjectName(QStringLiteral("Intro"));
    Intro->setTextFormat(Qt::PlainText);
    Intro->setWordWrap(true);

    PortTable = new QTreeWidget(this);
    PortTable->setObjectName(QStringLiteral("PortTable"));
    PortTable->setRootIsDecorated(false);
    PortTable->setAllColumnsShowFocus(true);
    PortTable->setColumnCount(ColumnCount);
    PortTable->setHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Драйвер"),
                                QStringLiteral("USB-пристрій"), QStringLiteral("Серійний номер"),
                                QStringLiteral("/dev/serial/by-id"), QStringLiteral("Доступ"),
                                QStringLiteral("Зайнятий")});
    PortTable->header()->setStretchLastSection(false);

    Advice = new QLabel(this);
    Advice->setObjectName(QStringLiteral("Advice"));
    Advice->setTextFormat(Qt::PlainText);
    Advice->setTextInteractionFlags(Qt::TextSelectableByMouse); // commands can be copied
    Advice->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    ButtonRefresh = new QPushButton(QStringLiteral("Оновити"), this);
    ButtonRefresh->setObjectName(QStringLiteral("ButtonRefresh"));
    ButtonClose = new QPushButton(QStringLiteral("Закрити"), this);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    ButtonClose->setDefault(true);
    connect(ButtonRefresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonRefresh);
    buttons->addWidget(ButtonClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Intro);
    layout->addWidget(PortTable, 1);
    layout->addWidget(Advice);
    layout->addLayout(buttons);
    SetFormFont(this);

    Refresh();
}

void TPortDiagnosis::Refresh() {
    std::vector<TSerialPortInfo> ports;
    QString failure;
    try {
        ports = Describe();
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }

    Intro->setText(QStringLiteral("Користувач: ") + FromUtf8(User.Name) +
                   QStringLiteral("; групи цього сеансу: ") + SessionGroupsText(User) +
                   QStringLiteral(".\nПовідомлення «") + QString::fromUtf8(ComMessageText(2)) +
                   QStringLiteral("» з'являється і тоді, коли немає прав на відкриття порту."));

    PortTable->clear();
    QStringList advice;
    for (const TSerialPortInfo& port : ports) {
        auto* row = new QTreeWidgetItem(PortTable);
        row->setText(ColPort, FromUtf8(port.DevicePath));
        row->setText(ColDriver, DriverText(port));
        row->setText(ColUsb, UsbText(port));
        if (!port.Interface.empty()) {
            row->setToolTip(ColUsb, FromUtf8(port.Interface));
        }
        row->setText(ColSerial, FromUtf8(port.SerialNumber));
        QStringList byId;
        for (const std::string& name : port.ById) {
            byId << FromUtf8(name);
        }
        row->setText(ColById, byId.join(QLatin1Char('\n')));
        const bool allowed = port.Access == TPortAccess::Allowed;
        row->setText(ColAccess, allowed ? QStringLiteral("так") : QStringLiteral("ні"));
        if (!port.Mode.empty()) {
            row->setToolTip(ColAccess, FromUtf8(port.Mode + " " + port.Group));
        }
        if (!allowed) {
            row->setForeground(ColAccess, QColor(128, 0, 0));
            advice << FromUtf8(port.Name + ": " + AccessReason(port, User)) +
                          QStringLiteral("\n    Що зробити: ") + FromUtf8(AccessFix(port, User));
        }
        if (!port.Holders.empty()) {
            row->setForeground(ColHeldBy, QColor(128, 0, 0));
            row->setText(ColHeldBy, HolderNames(port.Holders));
            advice << FromUtf8(port.Name + ": " + HoldersText(port.Holders)) +
                          QStringLiteral("\n    Що зробити: закрийте цю програму (або "
                                         "завершіть процес) і спробуйте знову.");
        }
        const std::string latency = LatencyAdvice(port);
        if (!latency.empty()) {
            advice << FromUtf8(port.Name + ": " + latency);
        }
        for (const std::string& service : ServiceAdvice(port)) {
            advice << FromUtf8(port.Name + ": " + service);
        }
        for (const TStaleLock& lock : port.StaleLocks) {
            advice << FromUtf8(port.Name + ": " + StaleLockText(lock));
        }
    }

    if (!failure.isEmpty()) {
        Advice->setText(failure);
    } else if (ports.empty()) {
        Advice->setText(QStringLiteral("Послідовних портів не знайдено. Під'єднайте прилад і "
                                       "натисніть «Оновити»."));
    } else if (advice.isEmpty()) {
        Advice->setText(QStringLiteral("Усі порти можна відкрити."));
    } else {
        Advice->setText(advice.join(QLatin1Char('\n')));
    }
    FitToContents();
}

void TPortDiagnosis::FitToContents() {
    for (int column = 0; column < ColumnCount; ++column) {
        PortTable->resizeColumnToContents(column);
    }
    int tableWidth = 2 * PortTable->frameWidth();
    for (int column = 0; column < ColumnCount; ++column) {
        tableWidth += PortTable->columnWidth(column);
    }
    const QMargins margins = layout()->contentsMargins();
    int width =
        std::max({tableWidth, Advice->sizeHint().width(), 480}) + margins.left() + margins.right();
    if (const QScreen* screen = this->screen()) {
        width = std::min(width, screen->availableGeometry().width() - 40);
    }
    // Rows for up to eight ports before the table scrolls.
    const int rows = std::clamp(PortTable->topLevelItemCount(), 3, 8);
    const int rowHeight = PortTable->fontMetrics().height() + 6;
    PortTable->setMinimumHeight(PortTable->header()->sizeHint().height() + rows * rowHeight +
                                2 * PortTable->frameWidth());
    Intro->setMinimumWidth(width - margins.left() - margins.right());
    resize(width, sizeHint().height());
}
