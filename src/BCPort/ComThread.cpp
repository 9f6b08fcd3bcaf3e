#include "ComThread.h"

#include <algorithm>
#include <chrono>
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

TComThread::TComThread(TBComPort& port) : State(std::make_shared<TState>()) {
    State->Port = &port;
    State->SyncMethod = port.SyncMethod_;
    State->Ui = port.UiThread_;
    State->Channel = std::make_shared<TComSyncChannel>();
    State->StopAndWait = port.Os->CreateEventWait();
    if (!State->StopAndWait) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "Thread creation error");
    }
    // The result is not looked at: a driver that refuses the mask reports no events.
    port.Os->SetEventMask(PortEventsToMask(port.WatchedEvents_));
    // Normal priority is the thread's own: nothing to set.
    Thread = std::thread([state = State] { Execute(state); });
}

TComThread::~TComThread() {
    SignalStop();
    if (!Thread.joinable()) {
        return;
    }
    if (Thread.get_id() != std::this_thread::get_id() && State->WaitFinished(JoinGraceMs)) {
        Thread.join();
        if (State->QueuesLeftForClose) {
            State->Port->Os->DiscardQueues();
        }
        return;
    }
    // Between two uses of the port; a use that does not end in time (a handler that does not
    // return) touches nothing more of the port once it has.
    const bool between = State->PortUse.try_lock_for(std::chrono::milliseconds(LetGoGraceMs));
    State->LetGo = true;
    if (between) {
        State->PortUse.unlock();
    }
    Thread.detach();
}

template <typename Use> bool TComThread::UsePort(TState& state, Use use) {
    std::lock_guard<std::recursive_timed_mutex> lock(state.PortUse);
    if (state.LetGo) {
        return false;
    }
    use();
    return true;
}

void TComThread::SignalStop() {
    State->StopAndWait->Stop();
    State->Channel->Stop();
    std::this_thread::yield();
}

std::function<bool(std::uint32_t)> TComThread::FinishWaiter(const TComThread& thread) {
    return [state = thread.State](std::uint32_t limitMs) { return state->WaitFinished(limitMs); };
}

bool TComThread::TState::IsFinished() {
    std::lock_guard<std::mutex> lock(FinishedLock);
    return Finished;
}

bool TComThread::TState::WaitFinished(std::uint32_t limitMs) {
    std::unique_lock<std::mutex> lock(FinishedLock);
    return FinishedChanged.wait_for(lock, std::chrono::milliseconds(limitMs),
                                    [&] { return Finished; });
}

void TComThread::Execute(const std::shared_ptr<TState>& state) {
    TState& s = *state;
    bool cleanEnd = true;
    try {
        int failures = 0;
        for (;;) {
            std::uint32_t mask = 0;
            const TComWaitResult result = s.StopAndWait->Wait(mask);
            if (result == TComWaitResult::Stopped) {
                break;
            }
            if (result == TComWaitResult::Failed) {
                if (++failures >= FailuresBeforeEnd) {
                    s.QueuesLeftForClose = true;
                    break;
                }
                const std::uint32_t pause =
                    std::min(LongestBackOffMs, FirstBackOffMs << (failures - 1));
                if (s.StopAndWait->Pause(pause)) {
                    break;
                }
                continue;
            }
            const TPortEventSet events = MaskToPortEvents(mask);
            s.OccurredEvents = events;
            if (events == 0) {
                // A wait that ended with no event: the mask changed under it, or the driver
                // ended it in error, which a failing driver may do at once, again and again.
                // A short pause keeps such a driver from taking a whole core; it is no success
                // either, so the failures so far still count.
                if (s.StopAndWait->Pause(FirstBackOffMs)) {
                    break;
                }
                continue;
            }
            failures = 0;
            bool goOn = true;
            switch (s.SyncMethod) {
            case TSyncMethod::smThreadSync:
                goOn = s.Channel->Run(
                    s.Ui, [port = s.Port, events] { DispatchEvents(*port, events); }, false);
                break;
            case TSyncMethod::smWindowSync:
                goOn = SendEventMessages(s, events);
                break;
            case TSyncMethod::smNone:
                goOn = DispatchOnThread(s, events);
                break;
            }
            if (!goOn) {
                break;
            }
        }
    } catch (...) {
        // A handler's exception ends the thread without a message; the port stays open for
        // the transfers.
        cleanEnd = false;
    }
    // A thread that ends while the port stays open (a handler's exception, a wait that keeps
    // failing) leaves the queues alone: they may hold the reply the program is about to
    // read, or the rest of a write.  After failed waits, Close empties them.
    WayOut(s, cleanEnd && !s.QueuesLeftForClose);
    std::lock_guard<std::mutex> lock(s.FinishedLock);
    s.Finished = true;
    s.FinishedChanged.notify_all();
}

// Each call is a use of its own: Close may let the thread go between them, and the port may
// then be closed, opened again or gone.
void TComThread::WayOut(TState& state, bool discardQueues) {
    if (UsePort(state, [&] { state.Port->Os->SetEventMask(0); }) && discardQueues) {
        UsePort(state, [&] { state.Port->Os->DiscardQueues(); });
    }
}

bool TComThread::DispatchOnThread(TState& state, TPortEventSet events) {
    for (const TPortEvent e : DispatchOrder) {
        if ((events & PortEventBit(e)) == 0) {
            continue;
        }
        bool open = true;
        const bool ours = UsePort(state, [&] {
            open = state.Port->IsOpen();
            if (open) {
                state.Port->DispatchEvent(e);
            }
        });
        if (!ours) {
            return false;
        }
        if (!open) {
            return true;
        }
    }
    return true;
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

bool TComThread::SendEventMessages(TState& state, TPortEventSet events) {
    for (const TPortEvent e : DispatchOrder) {
        if ((events & PortEventBit(e)) == 0) {
            continue;
        }
        const std::uint32_t code = EventMaskBits[static_cast<unsigned>(e)];
        TBComPort* port = state.Port;
        const bool taken = state.Channel->Run(
            state.Ui,
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
