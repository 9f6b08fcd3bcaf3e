// The instrument's side of a serial line played from a script of replies, for the reply
// fuzzer and the tests of its seeds: no device, no pseudo-terminal, no real time.
//
// The script holds one piece per request the host writes, in order: writing a request
// queues its piece, and reads take what is queued, up to their size, as a driver hands over
// received bytes; what a read leaves leads the next one.  An over-long reply thus spills
// into the next try, as it does on a real line.  When the script has run out the instrument
// is silent.  The clock is made up: time passes only when the component sleeps.
//
// Every request is recorded with the bytes the host read after it (until the next request):
// the transcript the write is judged by.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ComOs.h"

// A script as bytes: its pieces are separated by the byte 0x1E (the record separator), so
// two in a row leave an empty piece between them (a request left unanswered); 0x1D 0x1E
// stands for 0x1E inside a piece.  Any bytes make a script.
inline constexpr char ReplySeparator = '\x1e';
inline constexpr char ReplyEscape = '\x1d';

inline std::vector<std::string> SplitReplyScript(std::string_view bytes) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == ReplyEscape && i + 1 < bytes.size() && bytes[i + 1] == ReplySeparator) {
            pieces.back() += ReplySeparator;
            ++i;
        } else if (bytes[i] == ReplySeparator) {
            pieces.emplace_back();
        } else {
            pieces.back() += bytes[i];
        }
    }
    return pieces;
}

// One request and what the host read after it.
struct TExchange {
    std::string Request;
    std::string Reply;
};

class TReplyScriptOs : public TComOs {
public:
    explicit TReplyScriptOs(std::vector<std::string> script) : Script(std::move(script)) {}

    // Everything written while a device was open, in order.
    std::vector<TExchange> Transcript;

    TComOpenResult OpenDevice(const std::string&) override { return TComOpenResult::Ok; }
    void CloseDevice() override {}
    bool SetupBuffers(std::int32_t, std::int32_t) override { return true; }
    bool ApplyLineSettings(const TComLineSettings&) override { return true; }
    bool ApplyTimeouts(const TComTimeoutValues&) override { return true; }
    bool Escape(TComEscape) override { return true; }
    // As the Linux layer does: both queues are emptied.
    bool Purge() override { return DiscardQueues(); }
    bool DiscardQueues() override {
        std::lock_guard<std::mutex> lock(QueueLock);
        Queued.clear();
        return true;
    }

    TComTransfer Write(const char* data, std::size_t size, std::optional<std::uint64_t>) override {
        Transcript.push_back({std::string(data, size), {}});
        std::lock_guard<std::mutex> lock(QueueLock);
        if (Next < Script.size()) {
            Queued += Script[Next++];
        }
        return {true, size};
    }
    TComTransfer Read(char* data, std::size_t size) override {
        std::lock_guard<std::mutex> lock(QueueLock);
        const std::size_t n = std::min(size, Queued.size());
        std::copy_n(Queued.begin(), n, data);
        Queued.erase(0, n);
        if (!Transcript.empty()) {
            Transcript.back().Reply.append(data, n);
        }
        return {true, n};
    }
    bool InQueueCount(std::uint32_t& count) override {
        std::lock_guard<std::mutex> lock(QueueLock);
        count = static_cast<std::uint32_t>(Queued.size());
        return true;
    }
    bool OutQueueCount(std::uint32_t& count) override {
        count = 0;
        return true;
    }
    bool ClearErrors(std::uint32_t& errors) override {
        errors = 0;
        return true;
    }
    bool ModemStatus(std::uint32_t& status) override {
        status = 0;
        return true;
    }
    bool SetEventMask(std::uint32_t) override { return true; }
    // The line reports no events: a wait lasts until it is stopped.
    std::unique_ptr<TComEventWait> CreateEventWait() override {
        return std::make_unique<TSilentWait>();
    }
    std::uint64_t NowNs() override { return Now; }
    void SleepNs(std::uint64_t ns) override { Now += ns; }

private:
    class TSilentWait final : public TComEventWait {
    public:
        TComWaitResult Wait(std::uint32_t& occurred) override {
            occurred = 0;
            std::unique_lock<std::mutex> lock(Lock);
            Changed.wait(lock, [&] { return Stopped; });
            return TComWaitResult::Stopped;
        }
        void Stop() override {
            std::lock_guard<std::mutex> lock(Lock);
            Stopped = true;
            Changed.notify_all();
        }
        bool Pause(std::uint32_t) override {
            std::lock_guard<std::mutex> lock(Lock);
            return Stopped;
        }

    private:
        std::mutex Lock;
        std::condition_variable Changed;
        bool Stopped = false;
    };

    std::vector<std::string> Script;
    std::size_t Next = 0;
    std::mutex QueueLock; // the event thread may ask for the queue's count
    std::string Queued;
    std::uint64_t Now = 1000000000;
};
