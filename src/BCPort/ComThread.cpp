#include "ComThread.h"

#include <algorithm>
#include <system_error>

#include "ComOs.h"
#include "ComUiThread.h"

namespace {
// The event bits in the order of TPortEventSet.
constexpr std::uint32_t EventMaskBits[8] = {ComEvRxChar, ComEvTxEmpty, ComEvRing, ComEvCts,
                                            ComEvDsr,    ComEvRlsd,    ComEvErr,  ComEvRx80Full};

// The order in which events present together are dispatched.
constexpr TPortEvent DispatchOrder[8] = {
    TPortEvent::evError, TPortEvent::evRxChar, TPortEvent::evTxEmpty, TPortEvent::evRing,
    TPortEvent::evCTS,   TPortEvent::evDSR,    TPortEvent::evRLSD,    TPortEvent::evRx80Full};

// A wait that fails again and again (an adapter pulled out) is retried after a growing
// pause; after this many failures in a row the thread ends.  The next transfer reports the
// loss to the user.
constexpr int FailuresBeforeEnd = 6;
constexpr std::uint32_t FirstBackOffMs = 20;
constexpr std::uint32_t LongestBackOffMs = 1000;
} // namespace

std::uint32_t PortEventsToMask(TPortEventSet events) {
    std::uint32_t mask = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((events & (1U << bit)) != 0) {
            mask |= EventMaskBits[bit];
        }
    }
    return mask;
}

TPortEventSet MaskToPortEvents(std::uint32_t mask) {
    TPortEventSet events = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((mask & EventMaskBits[bit]) != 0) {
            events = static_cast<TPortEventSet>(events | (1U << bit));
        }
    }
    return events;
}

// --- TComSyncChannel ---

bool TComSyncChannel::Run(TComUiThread* ui, std::function<void()> call, bool replyFirst) {
    auto request = std::make_shared<TRequest>();
    request->Call = std::move(call);
    request->ReplyFirst = replyFirst;
    request->Ui = ui;
    {
        std::lock_guard<std::mutex> lock(Lock);
        if (Stopping) {
            return false;
        }
        Pending = request;
    }
    if (ui != nullptr) {
        ui->Post([channel = shared_from_this()] { channel->Serve(); });
    }
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [&] { return request->Done || Stopping; });
    if (!request->Done) {
        if (Pending == request) {
            Pending.reset(); // withdrawn: it will not run
        }
        return false;
    }
    if (request->Error) {
        std::rethrow_exception(request->Error);
    }
    return true;
}

void TComSyncChannel::Serve() {
    std::shared_ptr<TRequest> request;
    {
        std::lock_guard<std::mutex> lock(Lock);
        request.swap(Pending);
        if (!request) {
            return;
        }
        if (request->ReplyFirst) {
            request->Done = true; // the sender goes on while the call runs here
            Changed.notify_all();
        }
    }
    std::exception_ptr error;
    try {
        request->Call();
    } catch (...) {
        error = std::current_exception();
    }
    if (request->ReplyFirst) {
        if (error && request->Ui != nullptr) {
            request->Ui->ShowException(error);
        }
        return;
    }
    std::lock_guard<std::mutex> lock(Lock);
    request->Error = error;
    request->Done = true;
    Changed.notify_all();
}

void TComSyncChannel::Stop() {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
    Changed.notify_all();
}

// --- TComThread ---

TComThread::TComThread(TBComPort& port)
    : ComPort(port), Channel(std::make_shared<TComSyncChannel>()) {
    StopAndWait = ComPort.Os->CreateEventWait();
    if (!StopAndWait) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "Thread creation error");
    }
    // The result is not looked at: a driver that refuses the mask reports no events.
    ComPort.Os->SetEventMask(PortEventsToMask(ComPort.WatchedEvents_));
    // Normal priority is the thread's own: nothing to set.
    Thread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
    SignalStop();
    if (Thread.joinable()) {
        Thread.join();
    }
}

void TComThread::SignalStop() {
    StopAndWait->Stop();
    Channel->Stop();
    std::this_thread::yield();
}

bool TComThread::Finished() const {
    std::lock_guard<std::mutex> lock(FinishedLock);
    return Finished_;
}

bool TComThread::WaitFinished(std::uint32_t limitMs) {
    std::unique_lock<std::mutex> lock(FinishedLock);
    return FinishedChanged.wait_for(lock, std::chrono::milliseconds(limitMs),
                                    [&] { return Finished_; });
}

void TComThread::Execute() {
    bool cleanEnd = true;
    try {
        int failures = 0;
        for (;;) {
            std::uint32_t mask = 0;
            const TComWaitResult result = StopAndWait->Wait(mask);
            if (result == TComWaitResult::Stopped) {
                break;
            }
            if (result == TComWaitResult::Failed) {
                if (++failures >= FailuresBeforeEnd) {
                    break;
                }
                const std::uint32_t pause =
                    std::min(LongestBackOffMs, FirstBackOffMs << (failures - 1));
                if (StopAndWait->Pause(pause)) {
                    break;
                }
                continue;
            }
            failures = 0;
            const TPortEventSet events = MaskToPortEvents(mask);
            OccurredEvents_ = events;
            if (events == 0) {
                continue;
            }
            bool goOn = true;
            switch (ComPort.SyncMethod_) {
            case TSyncMethod::smThreadSync:
                goOn = Channel->Run(
                    ComPort.UiThread_, [port = &ComPort, events] { DispatchEvents(*port, events); },
                    false);
                break;
            case TSyncMethod::smWindowSync:
                goOn = SendEventMessages(events);
                break;
            case TSyncMethod::smNone:
                DispatchEvents(ComPort, events);
                break;
            }
            if (!goOn) {
                break;
            }
        }
    } catch (...) {
        // A handler's exception ends the thread without a message; the port stays open for
        // the transfers.  The queues are left alone: they may hold the reply the program is
        // about to read.
        cleanEnd = false;
    }
    WayOut(cleanEnd);
    std::lock_guard<std::mutex> lock(FinishedLock);
    Finished_ = true;
    FinishedChanged.notify_all();
}

void TComThread::WayOut(bool discardQueues) {
    ComPort.Os->SetEventMask(0);
    if (discardQueues) {
        ComPort.Os->DiscardQueues();
    }
}

void TComThread::DispatchEvents(TBComPort& port, TPortEventSet events) {
    for (const TPortEvent e : DispatchOrder) {
        if (!port.IsOpen()) {
            return;
        }
        if ((events & PortEventBit(e)) != 0) {
            port.DispatchEvent(e);
        }
    }
}

bool TComThread::SendEventMessages(TPortEventSet events) {
    for (const TPortEvent e : DispatchOrder) {
        if ((events & PortEventBit(e)) == 0) {
            continue;
        }
        const std::uint32_t code = EventMaskBits[static_cast<unsigned>(e)];
        TBComPort* port = &ComPort;
        const bool taken = Channel->Run(
            ComPort.UiThread_,
            [port, code] {
                if (TComEventWindow* window = port->EventWindow()) {
                    window->Receive(TComEventWindow::EventMessage, code);
                }
            },
            true);
        if (!taken) {
            return false;
        }
    }
    return true;
}
