#include "ResultText.h"

#include <algorithm>
#include <cstdio>

#include "OutsideText.h"

namespace {

std::string Format(const char* format, double a) {
    char text[64];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

std::string Joined(const std::vector<std::string>& messages) {
    std::string text;
    for (const auto& m : messages) {
        if (!text.empty()) {
            text += "\r\n";
        }
        text += m;
    }
    return text;
}

} // namespace

std::string KibText(std::int64_t bytes) {
    return Format("%.1f", static_cast<double>(bytes) / 1024.0);
}

int ProgressPercent(const TPortProgress& p) {
    if (p.Phase == "identify") {
        return p.IdentifyPercent;
    }
    return p.TotalBytes > 0 ? static_cast<int>(p.Bytes * 100 / p.TotalBytes) : 0;
}

std::string PausesText(const TPortProgress& p) {
    return std::to_string(p.Pauses[0]) + "." + std::to_string(p.Pauses[1]) + "." +
           std::to_string(p.Pauses[2]);
}

std::string ResultText(const TPortResult& r) {
    const TPortProgress& p = r.Last;
    std::string line = r.Outcome;
    if (r.Outcome == "flashed") {
        line += ": " + KibText(p.TotalBytes) + " KiB in " + Format("%.1f", p.Elapsed) + " s, " +
                std::to_string(p.Tries) + " tries, " + std::to_string(p.FailedTries) +
                " failed, pauses " + PausesText(p);
    } else if (r.Outcome == "identified") {
        line += ": bootloader " + r.Geometry.LoaderVersion + ", " +
                std::to_string(r.Geometry.EraseCount) + " units of " +
                std::to_string(r.Geometry.BlocksPerErase) + " x " +
                std::to_string(r.Geometry.BlockSize) + " bytes";
    } else {
        if (p.Tries > 0) {
            line += " at " + KibText(p.Bytes) + "/" + KibText(p.TotalBytes) + " KiB";
        }
        line += " (exit " + std::to_string(r.ExitCode) + ")";
    }
    if (r.InBootloader && r.Outcome != "flashed") {
        line += "; the instrument stays in its bootloader";
    }
    return ShownText(line); // the bootloader version is the unit's
}

TJsonObject ProgressObject(const TPortProgress& p, std::string_view whereKey,
                           std::string_view where) {
    TJsonObject o;
    o.Add("event", "progress")
        .Add(whereKey, where)
        .Add("phase", p.Phase)
        .Add("percent", ProgressPercent(p))
        .Add("unit", p.Unit)
        .Add("units", p.Units)
        .Add("block", p.Block)
        .Add("blocks", p.Blocks)
        .Add("tries", p.Tries)
        .Add("failed_tries", p.FailedTries)
        .Add("pauses", std::vector<std::int64_t>(p.Pauses.begin(), p.Pauses.end()))
        .Add("bytes", p.Bytes)
        .Add("total_bytes", p.TotalBytes)
        .AddSeconds("elapsed", p.Elapsed);
    return o;
}

TJsonObject ResultObject(const TPortResult& r, std::string_view event) {
    TJsonObject geometry;
    geometry.Add("loader_version", r.Geometry.LoaderVersion)
        .Add("blocks_per_erase", r.Geometry.BlocksPerErase)
        .Add("block_size", r.Geometry.BlockSize)
        .Add("erase_count", r.Geometry.EraseCount);
    TJsonObject o;
    o.Add("event", event)
        .Add("port", r.Port)
        .Add("outcome", r.Outcome)
        .Add("exit_code", r.ExitCode)
        .Add("message", Joined(r.Messages))
        .Add("messages", r.Messages)
        .Add("installed_version", r.InstalledVersion)
        .Add("identified", r.Identified);
    if (r.Identified) {
        o.Add("geometry", geometry);
    }
    o.Add("tries", r.Last.Tries)
        .Add("failed_tries", r.Last.FailedTries)
        .Add("pauses", std::vector<std::int64_t>(r.Last.Pauses.begin(), r.Last.Pauses.end()))
        .AddSeconds("seconds", r.Last.Elapsed)
        .AddSeconds("paused_seconds", r.Last.Paused)
        .Add("bytes", r.Last.Bytes)
        .Add("total_bytes", r.Last.TotalBytes)
        .Add("in_bootloader", r.InBootloader);
    return o;
}

std::string JoinedMessages(const std::vector<std::string>& messages) {
    return Joined(messages);
}

std::vector<std::string> MessageLines(const std::string& message) {
    std::vector<std::string> lines;
    std::string line;
    const auto flush = [&] {
        const std::size_t first = line.find_first_not_of(' ');
        const std::size_t last = line.find_last_not_of(' ');
        lines.push_back(first == std::string::npos
                            ? std::string()
                            : ShownText(std::string_view(line).substr(first, last - first + 1)));
        line.clear();
    };
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
                ++i;
            }
            flush();
        } else {
            line += c;
        }
    }
    if (!line.empty() || lines.empty()) {
        flush();
    }
    // A box that began with a blank line (the failure messages do) keeps no empty line.
    lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
    return lines;
}
