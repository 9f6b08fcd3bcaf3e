// TComThread: the event thread of an open TBComPort, and TComEventWindow, the receiver of
// its messages in smWindowSync mode.
//
// The thread waits for line events with the OS layer's event wait and delivers each
// completed wait by the port's SyncMethod.  A delivery to the user-interface thread goes
// through a TComSyncChannel: the request is posted with the port's TComUiThread and the
// event thread waits until it has been taken (smWindowSync) or has run (smThreadSync), or
// until the thread is told to stop.  Whoever serves the channel first runs the request:
// the posted call, or the port's Close, which serves it before stopping the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "BCPort.h"

class TComEventWait;

class TComSyncChannel : public std::enable_shared_from_this<TComSyncChannel> {
public:
    // Event thread: hands `call` to the user-interface thread and waits.  With `replyFirst`
    // the wait ends as soon as the call is taken and the call's exception is shown through
    // `ui`; otherwise it ends when the call has run and its exception is rethrown here.
    // False when the channel was stopped first (the call then never runs, or runs on
    // without anyone waiting for it).
    bool Run(TComUiThread* ui, std::function<void()> call, bool replyFirst);
    // Any thread that is the user-interface thread: runs the call waiting to be taken, if any.
    void Serve();
    // Releases a waiting Run and makes later ones return false at once.
    void Stop();

private:
    struct TRequest {
        std::function<void()> Call;
        bool ReplyFirst = false;
        bool Done = false;
        std::exception_ptr Error;
        TComUiThread* Ui = nullptr;
    };

    std::mutex Lock;
    std::condition_variable Changed;
    std::shared_ptr<TRequest> Pending;
    bool Stopping = false;
};

class TComThread {
public:
    // Starts the event thread of the open `port`: sets the event mask of WatchedEvents,
    // prepares the wait and runs Execute.  Raises std::system_error when the wait's objects
    // or the thread cannot be created; nothing is left running then.
    explicit TComThread(TBComPort& port);
    // SignalStop, then waits until the thread has ended, at most JoinGraceMs: a thread still
    // running then (stuck in a call to a driver that does not answer, or in an smNone
    // handler) is let go, once it is out of its present use of the port (one call of the
    // OS layer or one dispatch step), for which it gets LetGoGraceMs more.  It then touches
    // nothing of the port and ends by itself; what it uses lives on with it.  Called on the
    // event thread itself (a handler closed the port), it lets the thread go at once.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    static constexpr std::uint32_t JoinGraceMs = 1000;
    // Longer than what can be left, after the join grace, of an OS layer call that the
    // layer itself bounds (the Windows layer's 2 s), so that a thread stuck only in such a
    // call is let go between two uses of the port.
    static constexpr std::uint32_t LetGoGraceMs = 1500;

    // Sets the stop signal and yields the processor once.
    void SignalStop();
    // Runs a delivery that waits for the user-interface thread, on the calling thread.
    void ServePending() { State->Channel->Serve(); }

    // Events of the last completed wait.
    TPortEventSet OccurredEvents() const { return State->OccurredEvents.load(); }
    // True once Execute has returned (stopped, failed for good, or ended by an exception).
    bool Finished() const { return State->IsFinished(); }
    // Waits until Finished or `limitMs` has passed; returns Finished.
    bool WaitFinished(std::uint32_t limitMs) { return State->WaitFinished(limitMs); }
    // Waits, up to `limitMs`, for the end of the thread of `thread`, also after it was let
    // go; for tests, taken while the thread object exists.
    static std::function<bool(std::uint32_t)> FinishWaiter(const TComThread& thread);
    // The thread's own CPU clock, for measurements.
    std::thread::native_handle_type NativeHandle() { return Thread.native_handle(); }

    // Calls the handlers of `port` for `events` in the fixed order; stops early when a
    // handler closed the port.  Static: a handler may close the port and so end this thread.
    static void DispatchEvents(TBComPort& port, TPortEventSet events);

private:
    // Everything the running thread uses, shared by the thread and this object, so that a
    // thread that was let go outlives this object safely.
    struct TState {
        TBComPort* Port = nullptr;
        // Fixed while the port is open: copied, so that the thread reads them without the port.
        TSyncMethod SyncMethod = TSyncMethod::smThreadSync;
        TComUiThread* Ui = nullptr;
        std::unique_ptr<TComEventWait> StopAndWait; // the event wait with its stop signal
        std::shared_ptr<TComSyncChannel> Channel;
        std::atomic<TPortEventSet> OccurredEvents{0};
        // Held by the thread for each use of the port; the destructor takes it to let the
        // thread go between two uses.  Recursive: a handler may close the port.
        std::recursive_timed_mutex PortUse;
        std::atomic<bool> LetGo{false};  // set by the destructor: the port is no longer ours
        bool QueuesLeftForClose = false; // the waits kept failing; read after the thread's end
        std::mutex FinishedLock;
        std::condition_variable FinishedChanged;
        bool Finished = false;

        bool IsFinished();
        bool WaitFinished(std::uint32_t limitMs);
    };

    static void Execute(const std::shared_ptr<TState>& state);
    // Runs `use` unless the thread was let go; false then.
    template <typename Use> static bool UsePort(TState& state, Use use);
    // smNone: DispatchEvents on the event thread, one use of the port per event.  False when
    // the thread was let go.
    static bool DispatchOnThread(TState& state, TPortEventSet events);
    // One message per event, in the order of DispatchEvents, to the port's EventWindow.
    // False when the thread was told to stop meanwhile.
    static bool SendEventMessages(TState& state, TPortEventSet events);
    static void WayOut(TState& state, bool discardQueues);

    std::shared_ptr<TState> State;
    std::thread Thread;
};

// The hidden receiver of smWindowSync: exists while the port is open in that mode.
class TComEventWindow {
public:
    explicit TComEventWindow(TBComPort& port) : Port(port) {}
    // The message the event thread sends, with an event's EV_* code as first parameter.
    static constexpr std::uint32_t EventMessage = 1025;
    void Receive(std::uint32_t message, std::uint32_t code) { Port.EventWindowProc(message, code); }

private:
    TBComPort& Port;
};
