// Cuts the byte stream from the host into frames, as the bootloader's receive routine does.
#pragma once

#include <optional>
#include <string>

class FrameReader {
public:
    // Feeds one received byte; returns the frame it completes ("g" ... ";"), if any.  Bytes
    // outside a frame are skipped, a "g" restarts the frame, and an overlong frame is
    // dropped so a line full of noise cannot grow the buffer.
    std::optional<std::string> Feed(char byte);

    static constexpr std::size_t MaxFrame = 2048; // a 255-byte block takes 518 characters

private:
    std::string frame_;
    bool inFrame_ = false;
};
