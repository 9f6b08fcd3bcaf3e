#include "StationProbe.h"

#include <chrono>
#include <exception>
#include <thread>

#include "Identify.h"
#include "PortSettings.h"
#include "Protocol.h"

TStationProbe::TStationProbe(int baudIndex) : BaudIndex(baudIndex) {
    ApplyStoredPortSettings(Port);
    Port.SetUiThread(&Ui);
}

TStationProbe::~TStationProbe() {
    Close();
}

void TStationProbe::Open(const std::string& port) {
    Close();
    Port.SetPort(port);
    Port.SetBaudRate(static_cast<TBaudRate>(BaudIndex));
    Port.Open();
}

void TStationProbe::Close() {
    try {
        Port.Close();
    } catch (const std::exception&) {
        // A device that vanished cannot be closed in order; it is closed all the same.
    }
    Ui.RunPending();
}

void TStationProbe::Pause(unsigned milliseconds) {
    Ui.RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool TStationProbe::Probe() {
    const std::string wakeUp(Protocol::WakeUp);
    for (int i = 0; i < Protocol::WakeUpRepeats; ++i) {
        SendWhole(Port, wakeUp);
        Pause(Protocol::WakeUpPauseMs);
    }
    const std::string identify(Protocol::IdentifyFrame);
    std::string reply;
    for (int i = 0; i < Protocol::IdentifyTries; ++i) {
        SendWhole(Port, identify);
        Pause(Protocol::IdentifyPauseMs);
        Port.ReceiveString(reply, Protocol::IdentifyReadSize);
        if (Protocol::IsAnswered(reply)) {
            break;
        }
    }
    return reply.size() >= 3 && reply.compare(1, 2, Protocol::IdentifyReplyCode) == 0;
}
