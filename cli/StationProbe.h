// A station position's look at its port: is a bootloader listening?
//
// Only the identification's own frames are sent: the wake-up "ggggg" five times, then up to
// five identify requests "g0202;", with the identification's pauses.  A unit that is not in
// its bootloader (running its firmware, or anything else on the port) hears nothing more.
#pragma once

#include <string>

#include "BCPort.h"
#include "ComUiThread.h"

class TStationProbe {
public:
    explicit TStationProbe(int baudIndex);
    ~TStationProbe();
    TStationProbe(const TStationProbe&) = delete;
    TStationProbe& operator=(const TStationProbe&) = delete;

    // Opens `port`; raises EComPort when it cannot be opened (busy, denied, missing).
    void Open(const std::string& port);
    // Closes the port, also one whose device has gone.
    void Close();
    bool IsOpen() const { return Port.IsOpen(); }

    // One probe; true when a bootloader answered (identify reply code 82).  Raises EComPort
    // when the port fails (the adapter was pulled).
    bool Probe();

private:
    void Pause(unsigned milliseconds);

    int BaudIndex;
    TComUiQueue Ui;
    TBComPort Port;
};
