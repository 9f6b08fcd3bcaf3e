// Small helpers shared by the serial component's tests and benchmark.
#pragma once

#include <cstdint>
#include <functional>

#include "BCPort.h"

// The number of the EComPort message `action` raises, or 0 when it raises none.
inline int MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EComPort& e) {
        return e.Number();
    }
    return 0;
}

inline void SetTimeouts(TBComPort& port, std::int32_t interval, std::int32_t readMultiplier,
                        std::int32_t readConstant, std::int32_t writeMultiplier,
                        std::int32_t writeConstant) {
    TComTimeouts t(nullptr);
    t.SetReadInterval(interval);
    t.SetReadTotalMultiplier(readMultiplier);
    t.SetReadTotalConstant(readConstant);
    t.SetWriteTotalMultiplier(writeMultiplier);
    t.SetWriteTotalConstant(writeConstant);
    port.SetTimeouts(t);
}

// The application's port settings: every time-out 1 ms.
inline void StoredSettings(TBComPort& port) {
    SetTimeouts(port, 1, 1, 1, 1, 1);
}
