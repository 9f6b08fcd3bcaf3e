// Figures of the serial component with the application's stored settings (all five
// time-outs 1) on a pseudo-terminal, the test side playing the instrument.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <pthread.h>

#include "BCPort.h"
#include "ComTestHelpers.h"
#include "ComThread.h"
#include "ComUiThread.h"
#include "PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double Median, P99, Min, Max, Mean;
};

Figures Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) {
        sum += x;
    }
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1,
                          static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    return {at(0.5), at(0.99), v.front(), v.back(), sum / static_cast<double>(v.size())};
}

void Print(const char* what, const Figures& f, const char* target) {
    std::printf("%-44s median %8.3f ms  p99 %8.3f ms  min %8.3f  max %8.3f  mean %8.3f  (%s)\n",
                what, f.Median, f.P99, f.Min, f.Max, f.Mean, target);
}

// The peer answers each request byte with `reply`, noting when its write returned.
void Peer(const PtyPair& pty, const std::string& reply, bool echo, int rounds,
          std::atomic<Clock::rep>& lastWrite) {
    for (int i = 0; i < rounds; ++i) {
        const std::string request = pty.Take(echo ? reply.size() : 1, std::chrono::seconds(5));
        if (request.empty()) {
            return;
        }
        pty.Send(echo ? request : reply);
        lastWrite.store(Clock::now().time_since_epoch().count());
    }
}

double ThreadCpuMs(TBComPort& port) {
    clockid_t clock{};
    timespec ts{};
    if (pthread_getcpuclockid(port.EventThread()->NativeHandle(), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0) {
        return -1;
    }
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A byte written by the device until OnRxChar runs, by delivery method; with smThreadSync
// this thread plays the window and runs each delivery as soon as it is queued.  Then the
// event thread's CPU time on an idle line.
void EventFigures(TSyncMethod method, const char* name) {
    PtyPair pty;
    TComUiQueue ui;
    std::mutex lock;
    std::condition_variable called;
    Clock::time_point calledAt{};
    int calls = 0;
    TBComPort port;
    port.SetPort(pty.SlavePath);
    port.SetBaudRate(TBaudRate::br115200);
    StoredSettings(port);
    port.SetSyncMethod(method);
    port.SetUiThread(&ui);
    port.OnRxChar = [&](TBComPort& p, std::int32_t) {
        const auto at = Clock::now();
        std::string text;
        p.ReceiveString(text, 64); // take the byte, so the next one is a new arrival
        std::lock_guard<std::mutex> guard(lock);
        calledAt = at;
        ++calls;
        called.notify_all();
    };
    port.Open();
    constexpr int Rounds = 200;
    std::vector<double> delays;
    for (int i = 0; i < Rounds; ++i) {
        const auto sent = Clock::now();
        pty.Send("x");
        if (method != TSyncMethod::smNone) {
            if (ui.WaitQueued(std::chrono::seconds(1))) {
                ui.RunPending();
            }
        }
        std::unique_lock<std::mutex> guard(lock);
        if (called.wait_for(guard, std::chrono::seconds(1), [&] { return calls == i + 1; })) {
            delays.push_back(Ms(calledAt - sent));
        }
    }
    char what[96];
    std::snprintf(what, sizeof what, "device byte to OnRxChar, %s", name);
    Print(what, Summarise(delays), "latency");
    const double before = ThreadCpuMs(port);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("%-44s %.3f ms CPU in %.0f ms\n", "  event thread on an idle line",
                ThreadCpuMs(port) - before, Ms(Clock::now() - start));
    port.Close();
}

} // namespace

int main() {
    PtyPair pty;
    TBComPort port;
    port.SetPort(pty.SlavePath);
    port.SetBaudRate(TBaudRate::br115200);
    StoredSettings(port);
    port.Open();

    {
        constexpr int Rounds = 200;
        const std::string reply = "g8202;0040;0";
        std::atomic<Clock::rep> lastWrite{0};
        std::thread peer(Peer, std::cref(pty), std::cref(reply), false, Rounds,
                         std::ref(lastWrite));
        std::vector<double> delays;
        std::string text;
        for (int i = 0; i < Rounds; ++i) {
            port.SendString("?");
            const std::int32_t n = port.ReceiveString(text, 40);
            const auto returned = Clock::now();
            if (n != static_cast<std::int32_t>(reply.size())) {
                std::printf("round %d: %d bytes\n", i, n);
                continue;
            }
            delays.push_back(Ms(returned - Clock::time_point(Clock::duration(lastWrite.load()))));
        }
        peer.join();
        Print("last reply byte to ReceiveString(40) return", Summarise(delays),
              "target median < 1.3, p99 < 3");
    }
    {
        constexpr int Rounds = 50;
        std::vector<double> idle;
        std::string text;
        for (int i = 0; i < Rounds; ++i) {
            const auto start = Clock::now();
            port.ReceiveString(text, 40);
            idle.push_back(Ms(Clock::now() - start));
        }
        Print("idle ReceiveString(40)", Summarise(idle), "target 41 +- 1.5");
    }
    {
        constexpr int Rounds = 1000;
        const std::string frame = "g0202;";
        std::atomic<Clock::rep> lastWrite{0};
        std::thread peer(Peer, std::cref(pty), std::cref(frame), true, Rounds, std::ref(lastWrite));
        std::vector<double> cost;
        std::string text;
        int wrong = 0;
        for (int i = 0; i < Rounds; ++i) {
            const auto start = Clock::now();
            port.SendString(frame);
            port.ReceiveString(text, 6);
            cost.push_back(Ms(Clock::now() - start));
            wrong += text != frame ? 1 : 0;
        }
        peer.join();
        Print("SendString + ReceiveString, 6-byte echo", Summarise(cost), "cost");
        if (wrong != 0) {
            std::printf("  %d exchanges returned other bytes\n", wrong);
        }
    }
    port.Close();
    EventFigures(TSyncMethod::smNone, "smNone");
    EventFigures(TSyncMethod::smThreadSync, "smThreadSync");
    return 0;
}
