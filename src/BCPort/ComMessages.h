// EComPort: the serial component's only exception, carrying one of its numbered messages.
#pragma once

#include <stdexcept>
#include <string>

class EComPort : public std::runtime_error {
public:
    explicit EComPort(int number);
    // `detail`: what the system tells beside the message (for message 2, who holds the
    // port); what() stays the message's own text.
    EComPort(int number, std::string detail);
    int Number() const { return Number_; }
    const std::string& Detail() const { return Detail_; }

private:
    int Number_;
    std::string Detail_;
};

// The text of message `number` (1 to 6 and 8 to 15), UTF-8; empty for any other number.
const char* ComMessageText(int number);
