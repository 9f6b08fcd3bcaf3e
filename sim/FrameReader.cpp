#include "FrameReader.h"

std::optional<std::string> FrameReader::Feed(char byte) {
    if (byte == 'g') {
        frame_.assign(1, 'g');
        inFrame_ = true;
        return std::nullopt;
    }
    if (!inFrame_) {
        return std::nullopt;
    }
    frame_ += byte;
    if (byte == ';') {
        inFrame_ = false;
        return std::move(frame_);
    }
    if (frame_.size() > MaxFrame) {
        inFrame_ = false;
        frame_.clear();
    }
    return std::nullopt;
}
