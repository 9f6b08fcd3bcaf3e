#include "Reporter.h"

#include <algorithm>

#include "Console.h"
#include "Json.h"
#include "OutsideText.h"
#include "TerminalText.h"

namespace {

std::string Format(const char* format, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Kib(std::int64_t bytes) {
    return Format("%.1f", static_cast<double>(bytes) / 1024.0);
}

std::string Clock(double seconds) {
    const auto s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

int Percent(const TPortProgress& p) {
    if (p.Phase == "identify") {
        return p.IdentifyPercent;
    }
    return p.TotalBytes > 0 ? static_cast<int>(p.Bytes * 100 / p.TotalBytes) : 0;
}

std::string Pauses(const TPortProgress& p) {
    return std::to_string(p.Pauses[0]) + "." + std::to_string(p.Pauses[1]) + "." +
           std::to_string(p.Pauses[2]);
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

std::string ProgressText(const TPortProgress& p) {
    if (p.Phase == "identify") {
        return "identify " + std::to_string(p.IdentifyPercent) + "%";
    }
    std::string line = Padded(p.Phase, 6) + " " + std::to_string(Percent(p)) + "%  " +
                       Kib(p.Bytes) + "/" + Kib(p.TotalBytes) + " KiB";
    if (p.WriteElapsed > 0.05 && p.Bytes > 0) {
        const double rate = static_cast<double>(p.Bytes) / p.WriteElapsed;
        line += "  " + Format("%.1f", rate / 1024.0) + " KiB/s  left " +
                Clock(static_cast<double>(p.TotalBytes - p.Bytes) / rate);
    }
    line += "  pauses " + Pauses(p);
    if (p.FailedTries > 0) {
        line += "  failed " + std::to_string(p.FailedTries);
    }
    return line;
}

std::string ResultText(const TPortResult& r) {
    const TPortProgress& p = r.Last;
    std::string line = r.Outcome;
    if (r.Outcome == "flashed") {
        line += ": " + Kib(p.TotalBytes) + " KiB in " + Format("%.1f", p.Elapsed) + " s, " +
                std::to_string(p.Tries) + " tries, " + std::to_string(p.FailedTries) +
                " failed, pauses " + Pauses(p);
    } else if (r.Outcome == "identified") {
        line += ": bootloader " + r.Geometry.LoaderVersion + ", " +
                std::to_string(r.Geometry.EraseCount) + " units of " +
                std::to_string(r.Geometry.BlocksPerErase) + " x " +
                std::to_string(r.Geometry.BlockSize) + " bytes";
    } else {
        if (p.Tries > 0) {
            line += " at " + Kib(p.Bytes) + "/" + Kib(p.TotalBytes) + " KiB";
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
        .Add("percent", Percent(p))
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

TReporter::TReporter(TReportForm form, std::vector<std::string> ports, std::FILE* out,
                     std::FILE* err)
    : Form(form), Ports(std::move(ports)), Out(out), Err(err), Lines(Ports.size()),
      Results(Ports.size()) {
    for (const auto& p : Ports) {
        NameWidth = std::max(NameWidth, CodePoints(p));
    }
    if (Form == TReportForm::Live) {
        Columns = Console::TerminalColumns();
        for (std::size_t i = 0; i < Ports.size(); ++i) {
            Lines[i].Text = Padded(Ports[i], NameWidth) + "  waiting";
            std::fprintf(Out, "%s\n", Lines[i].Text.c_str());
        }
        std::fflush(Out);
    }
}

std::string TReporter::ProgressLine(std::size_t index, const TPortProgress& p) const {
    return Padded(Ports[index], NameWidth) + "  " + ProgressText(p);
}

std::string TReporter::ResultLine(const TPortResult& r) const {
    return Padded(r.Port, NameWidth) + "  " + ResultText(r);
}

void TReporter::Redraw(std::size_t index) {
    std::string text = Lines[index].Text;
    if (Columns > 1) {
        text = CutTo(text, static_cast<std::size_t>(Columns - 1));
    }
    const std::size_t up = Lines.size() - index;
    std::fprintf(Out, "\x1b[%zuA\r\x1b[2K%s\x1b[%zuB\r", up, text.c_str(), up);
    std::fflush(Out);
}

void TReporter::Progress(std::size_t index, const TPortProgress& p) {
    const std::lock_guard guard(Lock);
    if (Lines[index].Finished) {
        return;
    }
    switch (Form) {
    case TReportForm::Json: {
        const TJsonObject o = ProgressObject(p, "port", Ports[index]);
        std::fprintf(Out, "%s\n", o.Text().c_str());
        std::fflush(Out);
        break;
    }
    case TReportForm::Live:
        Lines[index].Text = ProgressLine(index, p);
        Redraw(index);
        break;
    case TReportForm::Plain: {
        // A line when the phase or the tenth of the write changes.
        const std::string mark = (p.Phase == "identify" ? p.Phase : std::string("write")) + ":" +
                                 std::to_string(Percent(p) / 10);
        if (mark != Lines[index].PlainPhase) {
            Lines[index].PlainPhase = mark;
            std::fprintf(Out, "%s\n", ProgressLine(index, p).c_str());
            std::fflush(Out);
        }
        break;
    }
    }
}

void TReporter::PrintMessages(const TPortResult& r) {
    std::FILE* to = r.ExitCode == 0 ? Out : Err;
    for (const auto& message : r.Messages) {
        for (const auto& line : MessageLines(message)) {
            std::fprintf(to, "%s: %s\n", r.Port.c_str(), line.c_str());
        }
    }
    std::fflush(to);
}

void TReporter::Finished(std::size_t index, const TPortResult& r) {
    const std::lock_guard guard(Lock);
    Lines[index].Finished = true;
    Results[index] = r;
    switch (Form) {
    case TReportForm::Json: {
        const TJsonObject o = ResultObject(r, "result");
        std::fprintf(Out, "%s\n", o.Text().c_str());
        std::fflush(Out);
        break;
    }
    case TReportForm::Live:
        Lines[index].Text = ResultLine(r);
        Redraw(index);
        break;
    case TReportForm::Plain:
        std::fprintf(r.ExitCode == 0 ? Out : Err, "%s\n", ResultLine(r).c_str());
        PrintMessages(r);
        break;
    }
}

void TReporter::Close(bool interrupted) {
    const std::lock_guard guard(Lock);
    if (Form == TReportForm::Live) {
        for (const auto& r : Results) {
            PrintMessages(r);
        }
    }
    if (interrupted && Form != TReportForm::Json) {
        std::fprintf(Err, "Ctrl+C: every write was stopped at its next check; no instrument was "
                          "restarted.\n");
        std::fflush(Err);
    }
}

void TReporter::Error(TReportForm form, const std::string& message, int exitCode, std::FILE* out,
                      std::FILE* err) {
    for (const auto& line : MessageLines(message)) {
        std::fprintf(err, "tarvex6-flash: %s\n", line.c_str());
    }
    std::fflush(err);
    if (form == TReportForm::Json) {
        TJsonObject o;
        o.Add("event", "error").Add("exit_code", exitCode).Add("message", message);
        std::fprintf(out, "%s\n", o.Text().c_str());
        std::fflush(out);
    }
}
