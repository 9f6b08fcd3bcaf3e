// A TComOs that records what the component asks of the system and fails on request, for
// what a pseudo-terminal cannot show (flags word, data bits, parity, modem lines, error
// flags, order).  Its event waits return what the test queues with PushEvents, and its clock
// is made up: time passes only when the component sleeps, so the write's wait rules can be
// checked to the nanosecond.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ComOs.h"

class RecordingComOs : public TComOs {
public:
    // Events the next waits return, in order; a wait with nothing queued blocks until Stop.
    void PushEvents(std::uint32_t mask) { Push({TComWaitResult::Events, mask}); }
    void PushFailure() { Push({TComWaitResult::Failed, 0}); }

    // Waits until the event thread is blocked in a wait with nothing left to return.
    bool WaitUntilIdle(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, limit, [&] { return Script.empty() && Waiting; });
    }
    // Waits until the event thread's wait has been stopped.
    bool WaitUntilStopped(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, limit, [&] { return StopSeen; });
    }

    ~RecordingComOs() override {
        if (CallsAtEnd != nullptr) {
            *CallsAtEnd = Calls;
        }
    }

    TComOpenResult OpenDevice(const std::string& port) override {
        Record("OpenDevice " + port);
        DeviceOpen = OpenResult == TComOpenResult::Ok;
        return OpenResult;
    }
    void CloseDevice() override {
        Record("CloseDevice");
        DeviceOpen = false;
    }
    bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) override {
        Record("SetupBuffers " + std::to_string(inSize) + " " + std::to_string(outSize));
        return Succeeds("SetupBuffers");
    }
    bool ApplyLineSettings(const TComLineSettings& line) override {
        Record("ApplyLineSettings");
        Line = line;
        return Succeeds("ApplyLineSettings");
    }
    bool ApplyTimeouts(const TComTimeoutValues& timeouts) override {
        Record("ApplyTimeouts");
        Timeouts = timeouts;
        return Succeeds("ApplyTimeouts");
    }
    bool Escape(TComEscape code) override {
        Record("Escape " + std::to_string(static_cast<int>(code)));
        return Succeeds("Escape");
    }
    bool Purge() override {
        Record("Purge");
        return Succeeds("Purge");
    }
    TComTransfer Write(const char* data, std::size_t size,
                       std::optional<std::uint64_t> budgetNs) override {
        Record("Write " + std::to_string(size));
        WriteBudget = budgetNs;
        const std::size_t taken = std::min(size, WriteLimit);
        Written.append(data, taken);
        return {Succeeds("Write"), taken};
    }
    TComTransfer Read(char* data, std::size_t size) override {
        Record("Read " + std::to_string(size));
        const std::size_t n = std::min(size, Incoming.size());
        std::copy_n(Incoming.begin(), n, data);
        Incoming.erase(0, n);
        return {Succeeds("Read"), n};
    }
    bool InQueueCount(std::uint32_t& count) override {
        Record("InQueueCount");
        count = static_cast<std::uint32_t>(Incoming.size());
        return Succeeds("InQueueCount");
    }
    bool ModemStatus(std::uint32_t& status) override {
        Record("ModemStatus");
        status = Modem;
        return Succeeds("ModemStatus");
    }
    bool DiscardQueues() override {
        Record("DiscardQueues");
        return Succeeds("DiscardQueues");
    }
    // Not recorded: the write's wait asks it again and again.  OutQueue gives the count the
    // driver reports at the made-up time.
    bool OutQueueCount(std::uint32_t& count) override {
        ++OutQueueQueries;
        count = OutQueue ? OutQueue(Now) : 0;
        return Succeeds("OutQueueCount");
    }
    bool ClearErrors(std::uint32_t& errors) override {
        Record("ClearErrors");
        errors = Errors;
        Errors = 0;
        return Succeeds("ClearErrors");
    }
    bool SetEventMask(std::uint32_t mask) override {
        Record("SetEventMask " + std::to_string(mask));
        if (InSetEventMask) {
            InSetEventMask(mask); // a driver that takes its time
        }
        return Succeeds("SetEventMask");
    }
    std::unique_ptr<TComEventWait> CreateEventWait() override {
        Record("CreateEventWait");
        if (!Succeeds("CreateEventWait")) {
            return nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(Lock);
            StopSeen = false;
        }
        return std::make_unique<ScriptedWait>(*this);
    }
    std::uint64_t NowNs() override { return Now; }
    void SleepNs(std::uint64_t ns) override {
        Sleeps.push_back(ns);
        Now += ns;
    }

    // Calls since the last Forget().
    void Forget() {
        std::lock_guard<std::mutex> lock(Lock);
        Calls.clear();
    }
    std::vector<std::string> CallsNow() {
        std::lock_guard<std::mutex> lock(Lock);
        return Calls;
    }

    std::vector<std::string> Calls;
    std::vector<std::string>* CallsAtEnd = nullptr; // receives Calls when the layer goes away
    bool DeviceOpen = false;
    TComOpenResult OpenResult = TComOpenResult::Ok;
    std::set<std::string> Failing; // names of the operations that report failure
    TComLineSettings Line;
    TComTimeoutValues Timeouts;
    std::optional<std::uint64_t> WriteBudget;
    std::size_t WriteLimit = static_cast<std::size_t>(-1); // bytes a write gets out
    std::string Written;
    std::string Incoming;
    std::uint32_t Modem = 0;
    std::uint32_t Errors = 0; // ComCe* flags the next ClearErrors reports
    std::uint64_t Now = 1000000000;
    std::vector<std::uint64_t> Sleeps;
    std::function<std::uint32_t(std::uint64_t now)> OutQueue;
    int OutQueueQueries = 0;
    std::vector<std::uint32_t> Pauses; // back-off pauses of the event thread, ms
    std::function<void(std::uint32_t mask)> InSetEventMask;

private:
    struct Step {
        TComWaitResult Result;
        std::uint32_t Mask;
    };

    class ScriptedWait final : public TComEventWait {
    public:
        explicit ScriptedWait(RecordingComOs& os) : Os(os) {}
        TComWaitResult Wait(std::uint32_t& occurred) override {
            std::unique_lock<std::mutex> lock(Os.Lock);
            Os.Waiting = true;
            Os.Changed.notify_all();
            Os.Changed.wait(lock, [&] { return Stopped || !Os.Script.empty(); });
            Os.Waiting = false;
            if (Stopped) {
                return TComWaitResult::Stopped;
            }
            const Step step = Os.Script.front();
            Os.Script.pop_front();
            occurred = step.Mask;
            return step.Result;
        }
        void Stop() override {
            std::lock_guard<std::mutex> lock(Os.Lock);
            Stopped = true;
            Os.StopSeen = true;
            Os.Changed.notify_all();
        }
        bool Pause(std::uint32_t ms) override {
            std::lock_guard<std::mutex> lock(Os.Lock);
            Os.Pauses.push_back(ms);
            return Stopped;
        }

    private:
        RecordingComOs& Os;
        bool Stopped = false;
    };

    void Push(Step step) {
        std::lock_guard<std::mutex> lock(Lock);
        Script.push_back(step);
        Changed.notify_all();
    }
    void Record(std::string call) {
        std::lock_guard<std::mutex> lock(Lock);
        Calls.push_back(std::move(call));
    }
    bool Succeeds(const std::string& name) const { return Failing.count(name) == 0; }

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<Step> Script;
    bool Waiting = false;
    bool StopSeen = false;
};
