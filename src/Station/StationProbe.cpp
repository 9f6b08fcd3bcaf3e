#include "StationProbe.h"

#include <chrono>
#include <exception>
#include <thread>

#include "Identify.h"
#include "PortSettings.h"
#include "Protocol.h"

TStationProbe::TStationProbe(int baudIndex, TPortMaker make)
    : BaudIndex(baudIndex), Make(std::move(make)) {
    Renew();
}

TStationProbe::~TStationProbe() {
    Close();
}

void TStationProbe::Renew() {
    Port.reset(); // first: the old device is closed before anything else may open it
    Port = Make ? Make() : std::make_unique<TBComPort>();
    ApplyStoredPortSettings(*Port);
    Port->SetUiThread(&Ui);
}

void TStationProbe::Open(const std::string& port) {
    Close();
    Port->SetPort(port);
    Port->SetBaudRate(static_cast<TBaudRate>(BaudIndex));
    Port->Open();
}

void TStationProbe::Close() {
    try {
        Port->Close();
    } catch (const std::exception&) {
        // A component whose Close raised stays open on its device; this one is not used
        // again.
        Ui.RunPending();
        Renew();
    }
    Ui.RunPending();
}

void TStationProbe::Pause(unsigned milliseconds) {
    Ui.RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TProbeAnswer TStationProbe::Probe() {
    const std::string wakeUp(Protocol::WakeUp);
    for (int i = 0; i < Protocol::WakeUpRepeats; ++i) {
        SendWhole(*Port, wakeUp);
        Pause(Protocol::WakeUpPauseMs);
    }
    const std::string identify(Protocol::IdentifyFrame);
    std::string reply;
    bool heard = false;
    for (int i = 0; i < Protocol::IdentifyTries; ++i) {
        SendWhole(*Port, identify);
        Pause(Protocol::IdentifyPauseMs);
        Port->ReceiveString(reply, Protocol::IdentifyReadSize);
        heard = heard || !reply.empty();
        if (Protocol::IsAnswered(reply)) {
            break;
        }
    }
    if (reply.size() >= 3 && reply.compare(1, 2, Protocol::IdentifyReplyCode) == 0) {
        return TProbeAnswer::Answered;
    }
    return heard ? TProbeAnswer::Heard : TProbeAnswer::Silent;
}
