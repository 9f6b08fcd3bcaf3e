// EComPort: the serial component's only exception, carrying one of its numbered messages.
#pragma once

#include <stdexcept>
#include <string>

class EComPort : public std::runtime_error {
public:
    explicit EComPort(int number);
    int Number() const { return Number_; }

private:
    int Number_;
};

// The text of message `number` (1 to 6 and 8 to 15), UTF-8; empty for any other number.
const char* ComMessageText(int number);
