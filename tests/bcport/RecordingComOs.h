// A TComOs that records what the component asks of the system and fails on request, for
// what a pseudo-terminal cannot show (flags word, data bits, parity, modem lines, order).
#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ComOs.h"

class RecordingComOs : public TComOs {
public:
    ~RecordingComOs() override {
        if (CallsAtEnd != nullptr) {
            *CallsAtEnd = Calls;
        }
    }

    TComOpenResult OpenDevice(const std::string& port) override {
        Calls.push_back("OpenDevice " + port);
        DeviceOpen = OpenResult == TComOpenResult::Ok;
        return OpenResult;
    }
    void CloseDevice() override {
        Calls.push_back("CloseDevice");
        DeviceOpen = false;
    }
    bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) override {
        Calls.push_back("SetupBuffers " + std::to_string(inSize) + " " + std::to_string(outSize));
        return Succeeds("SetupBuffers");
    }
    bool ApplyLineSettings(const TComLineSettings& line) override {
        Calls.push_back("ApplyLineSettings");
        Line = line;
        return Succeeds("ApplyLineSettings");
    }
    bool ApplyTimeouts(const TComTimeoutValues& timeouts) override {
        Calls.push_back("ApplyTimeouts");
        Timeouts = timeouts;
        return Succeeds("ApplyTimeouts");
    }
    bool Escape(TComEscape code) override {
        Calls.push_back("Escape " + std::to_string(static_cast<int>(code)));
        return Succeeds("Escape");
    }
    bool Purge() override {
        Calls.push_back("Purge");
        return Succeeds("Purge");
    }
    TComTransfer Write(const char* data, std::size_t size,
                       std::optional<std::uint64_t> budgetNs) override {
        Calls.push_back("Write " + std::to_string(size));
        WriteBudget = budgetNs;
        const std::size_t taken = std::min(size, WriteLimit);
        Written.append(data, taken);
        return {Succeeds("Write"), taken};
    }
    TComTransfer Read(char* data, std::size_t size) override {
        Calls.push_back("Read " + std::to_string(size));
        const std::size_t n = std::min(size, Incoming.size());
        std::copy_n(Incoming.begin(), n, data);
        Incoming.erase(0, n);
        return {Succeeds("Read"), n};
    }
    bool InQueueCount(std::uint32_t& count) override {
        Calls.push_back("InQueueCount");
        count = static_cast<std::uint32_t>(Incoming.size());
        return Succeeds("InQueueCount");
    }
    bool ModemStatus(std::uint32_t& status) override {
        Calls.push_back("ModemStatus");
        status = Modem;
        return Succeeds("ModemStatus");
    }

    // Calls since the last Forget().
    void Forget() { Calls.clear(); }

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

private:
    bool Succeeds(const std::string& name) const { return Failing.count(name) == 0; }
};
