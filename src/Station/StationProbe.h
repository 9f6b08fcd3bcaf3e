// A station position's look at its port: is a bootloader listening?
//
// Only the identification's own frames are sent: the wake-up "ggggg" five times, then up to
// five identify requests "g0202;", with the identification's pauses.  A unit that is not in
// its bootloader (running its firmware, or anything else on the port) hears nothing more.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "BCPort.h"
#include "ComUiThread.h"

enum class TProbeAnswer {
    Answered, // a bootloader answered (identify reply code 82)
    Heard,    // bytes came, but no such answer: a late, partial or garbled reply, a running unit
    Silent,   // not a byte
};

class TStationProbe {
public:
    using TPortMaker = std::function<std::unique_ptr<TBComPort>()>;

    // `make` gives each new serial component (the machine's own by default).
    explicit TStationProbe(int baudIndex, TPortMaker make = {});
    ~TStationProbe();
    TStationProbe(const TStationProbe&) = delete;
    TStationProbe& operator=(const TStationProbe&) = delete;

    // Opens `port`; raises EComPort when it cannot be opened (busy, denied, missing).
    void Open(const std::string& port);
    // Closes the port, also one whose device has gone: a component that cannot close in
    // order is thrown away (its destructor closes the device whatever the line operations
    // say) and a new one takes its place, so a handle to a gone adapter never outlives the
    // failure and the next Open really opens.
    void Close();
    bool IsOpen() const { return Port->IsOpen(); }

    // One probe.  Raises EComPort when the port fails (the adapter was pulled).
    TProbeAnswer Probe();

private:
    void Pause(unsigned milliseconds);
    void Renew();

    int BaudIndex;
    TPortMaker Make;
    TComUiQueue Ui;
    std::unique_ptr<TBComPort> Port;
};
