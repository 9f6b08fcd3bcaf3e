#include "Transcript.h"

#include "Bootloader.h"

#include <cstdio>

bool Transcript::Open(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    file_.open(path, std::ios::out | std::ios::trunc);
    return file_.is_open();
}

std::string Transcript::Escape(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

void Transcript::Stamp(Clock::time_point when) {
    const double ms = std::chrono::duration<double, std::milli>(when - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", ms);
    file_ << stamp;
}

void Transcript::Line(Clock::time_point when, std::string_view direction, std::string_view bytes,
                      std::string_view note) {
    if (!file_.is_open()) {
        return;
    }
    Stamp(when);
    file_ << direction << ' ' << Escape(bytes);
    if (!note.empty()) {
        file_ << " [" << note << ']';
    }
    file_ << '\n';
}

void Transcript::Note(Clock::time_point when, std::string_view text) {
    if (!file_.is_open()) {
        return;
    }
    Stamp(when);
    file_ << "-- " << text << '\n';
}

void Transcript::Summary(const BootloaderCounts& counts, long bytesReceived, long bytesSent) {
    if (!file_.is_open()) {
        return;
    }
    file_ << "frames: " << counts.Frames << '\n'
          << "erases: " << counts.Erases << '\n'
          << "writes: " << counts.Writes << '\n'
          << "commits: " << counts.Commits << '\n'
          << "resets: " << counts.Resets << '\n'
          << "identifies: " << counts.Identifies << '\n'
          << "describes: " << counts.Describes << '\n'
          << "bad sums: " << counts.BadSums << '\n'
          << "unknown codes: " << counts.Unknown << '\n'
          << "replies: " << counts.Replies << '\n'
          << "unanswered: " << counts.Unanswered << '\n'
          << "bytes received: " << bytesReceived << '\n'
          << "bytes sent: " << bytesSent << '\n';
    file_.flush();
}
