// The serial device overview behind the label "Порт:": every serial port with what it is
// and whether this user may open it, and for a port that cannot be opened the reason and
// the fix.  Linux has no Device Manager; this is where a first-time user learns that the
// message "Порт зайнятий іншою програмою" also covers a denied permission.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "PortInfo.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class TPortDiagnosis : public QDialog {
public:
    using TDescribePorts = std::function<std::vector<TSerialPortInfo>()>;

    // `describe` gives the ports' facts (DescribeSerialPorts by default), `user` the user
    // the reasons and fixes speak to.
    TPortDiagnosis(QWidget* parent, TDescribePorts describe, TPortUser user);

    // Reads the facts again and shows them.
    void Refresh();

    // The table's columns.
    enum TColumn {
        ColPort,
        ColDriver,
        ColUsb,
        ColSerial,
        ColById,
        ColAccess,
        ColHeldBy, // the programs that hold the port
        ColumnCount
    };

    QLabel* Intro = nullptr;
    QTreeWidget* PortTable = nullptr;
    QLabel* Advice = nullptr; // reasons and fixes, or that every port can be opened
    QPushButton* ButtonRefresh = nullptr;
    QPushButton* ButtonClose = nullptr;

private:
    void FitToContents();

    TDescribePorts Describe;
    TPortUser User;
};
