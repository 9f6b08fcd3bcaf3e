// The user-interface side of the serial component's event delivery.
//
// The component runs one event thread while its port is open; with smThreadSync and
// smWindowSync the handlers must run on the user-interface thread.  The component does not
// know the widget toolkit: the program gives it a TComUiThread, which only has to queue a
// call for that thread.  A window implements it with the toolkit's queued calls; programs
// without a toolkit loop use TComUiQueue and run the queued calls at their own points.
//
// Waiting for the user-interface thread (smThreadSync runs the dispatch there while the event
// thread waits) is done by the component itself, on top of Post, so that a Close on the
// user-interface thread can always end the wait: nothing here ever blocks.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

class TComUiThread {
public:
    virtual ~TComUiThread() = default;

    // Queues `call` to run later on the user-interface thread and returns at once.  Called
    // from the event thread.  The call does not throw.  A call that never runs (the window
    // went away) costs nothing but a late event.
    virtual void Post(std::function<void()> call) = 0;
    // On the user-interface thread: shows an exception raised by an smWindowSync dispatch or
    // its handler the way the program shows errors that reach its event loop.
    virtual void ShowException(std::exception_ptr error) = 0;
};

// A TComUiThread for programs without a toolkit: posted calls wait in a queue until the
// owning thread runs them with RunPending.  Shown exceptions are kept in Shown.
class TComUiQueue final : public TComUiThread {
public:
    void Post(std::function<void()> call) override {
        std::lock_guard<std::mutex> lock(Lock);
        Queue.push_back(std::move(call));
        Queued.notify_all();
    }
    void ShowException(std::exception_ptr error) override { Shown.push_back(std::move(error)); }

    // Runs every call queued so far on the calling thread; returns how many ran.
    std::size_t RunPending() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> lock(Lock);
            calls.swap(Queue);
        }
        for (auto& call : calls) {
            call();
        }
        return calls.size();
    }
    // Waits until a call is queued or `limit` has passed; true when one is queued.
    template <class Duration> bool WaitQueued(Duration limit) {
        std::unique_lock<std::mutex> lock(Lock);
        return Queued.wait_for(lock, limit, [&] { return !Queue.empty(); });
    }

    std::vector<std::exception_ptr> Shown;

private:
    std::mutex Lock;
    std::condition_variable Queued;
    std::deque<std::function<void()>> Queue;
};
