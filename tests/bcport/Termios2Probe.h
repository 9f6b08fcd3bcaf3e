// What the kernel holds for a terminal, read with TCGETS2 so that any bit rate shows.
// Kept in its own file: the kernel's termios2 header and <termios.h> do not mix.
#pragma once

#include <cstdint>

struct TTermiosProbe {
    std::uint32_t IFlag = 0;
    std::uint32_t OFlag = 0;
    std::uint32_t CFlag = 0;
    std::uint32_t LFlag = 0;
    std::uint32_t OSpeed = 0;
    std::uint32_t ISpeed = 0;
};

bool ProbeTermios(int fd, TTermiosProbe& out);
