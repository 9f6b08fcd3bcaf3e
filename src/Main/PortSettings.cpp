#include "PortSettings.h"

void ApplyStoredPortSettings(TBComPort& port) {
    port.SetByteSize(TByteSize::bs8);
    port.SetParity(TParity::paNone);
    port.SetStopBits(TStopBits::sb1);
    port.SetInBufSize(2048);
    port.SetOutBufSize(2048);
    TComTimeouts& timeouts = port.Timeouts();
    timeouts.SetReadInterval(1);
    timeouts.SetReadTotalMultiplier(1);
    timeouts.SetReadTotalConstant(1);
    timeouts.SetWriteTotalMultiplier(1);
    timeouts.SetWriteTotalConstant(1);
}
