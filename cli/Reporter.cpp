#include "Reporter.h"

#include <algorithm>

#include "Console.h"
#include "Json.h"
#include "TerminalText.h"

namespace {

std::string Format(const char* format, double a) {
    char text[64];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

std::string Clock(double seconds) {
    const auto s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

std::string ProgressText(const TPortProgress& p) {
    if (p.Phase == "identify") {
        return "identify " + std::to_string(p.IdentifyPercent) + "%";
    }
    std::string line = Padded(p.Phase, 6) + " " + std::to_string(ProgressPercent(p)) + "%  " +
                       KibText(p.Bytes) + "/" + KibText(p.TotalBytes) + " KiB";
    if (p.WriteElapsed > 0.05 && p.Bytes > 0) {
        const double rate = static_cast<double>(p.Bytes) / p.WriteElapsed;
        line += "  " + Format("%.1f", rate / 1024.0) + " KiB/s  left " +
                Clock(static_cast<double>(p.TotalBytes - p.Bytes) / rate);
    }
    line += "  pauses " + PausesText(p);
    if (p.FailedTries > 0) {
        line += "  failed " + std::to_string(p.FailedTries);
    }
    return line;
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
                                 std::to_string(ProgressPercent(p) / 10);
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
