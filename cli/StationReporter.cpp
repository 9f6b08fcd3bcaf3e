#include "StationReporter.h"

#include <algorithm>

#include "Console.h"
#include "Json.h"
#include "TerminalText.h"

namespace {

std::string StateText(TPositionState state, const std::string& port, const std::string& note) {
    std::string text;
    switch (state) {
    case TPositionState::Waiting:
        text = "waiting for the port";
        break;
    case TPositionState::Probing:
        text = "probing " + port + " for a bootloader";
        break;
    case TPositionState::Writing:
        text = "writing " + port;
        break;
    case TPositionState::Present:
        text = "done";
        break;
    }
    // One row a position: a note's own line breaks are shown as " / ".
    std::string line;
    for (const auto& part : MessageLines(note)) {
        line += (line.empty() ? "" : " / ") + part;
    }
    return line.empty() ? text : state == TPositionState::Present ? line : text + ": " + line;
}

} // namespace

TStationReporter::TStationReporter(TReportForm form, std::vector<std::string> positions,
                                   std::FILE* out)
    : Form(form), Positions(std::move(positions)), Out(out), Lines(Positions.size() + 1),
      PlainMarks(Positions.size()) {
    for (const auto& p : Positions) {
        NameWidth = std::max(NameWidth, CodePoints(p));
    }
    for (std::size_t i = 0; i < Positions.size(); ++i) {
        Lines[i] = Name(i) + "  " + StateText(TPositionState::Waiting, {}, {});
    }
    Lines.back() = CountsText({});
    if (Form == TReportForm::Live) {
        Columns = Console::TerminalColumns();
        for (std::size_t i = 0; i < Lines.size(); ++i) {
            std::fprintf(Out, "%s\n", CutTo(Lines[i], Columns > 1 ? Columns - 1 : 1000).c_str());
        }
        std::fflush(Out);
    }
}

std::string TStationReporter::Name(std::size_t index) const {
    return Padded(Positions[index], NameWidth);
}

std::string TStationReporter::CountsText(const TStationCounts& c) const {
    return "flashed " + std::to_string(c.Flashed) + "  refused " + std::to_string(c.Refused) +
           "  failed " + std::to_string(c.Failed);
}

void TStationReporter::Print(const std::string& line) {
    std::fprintf(Out, "%s\n", line.c_str());
    std::fflush(Out);
}

void TStationReporter::Redraw(std::size_t row) {
    std::string text = Lines[row];
    if (Columns > 1) {
        text = CutTo(text, static_cast<std::size_t>(Columns - 1));
    }
    const std::size_t up = Lines.size() - row;
    std::fprintf(Out, "\x1b[%zuA\r\x1b[2K%s\x1b[%zuB\r", up, text.c_str(), up);
    std::fflush(Out);
}

void TStationReporter::PrintAbove(const std::vector<std::string>& lines) {
    // The live block moves down: the new lines take its place and it is drawn again below.
    std::fprintf(Out, "\x1b[%zuA\r", Lines.size());
    for (const auto& line : lines) {
        std::fprintf(Out, "\x1b[2K%s\n", line.c_str());
    }
    for (const auto& line : Lines) {
        const std::string text =
            Columns > 1 ? CutTo(line, static_cast<std::size_t>(Columns - 1)) : line;
        std::fprintf(Out, "\x1b[2K%s\n", text.c_str());
    }
    std::fflush(Out);
}

void TStationReporter::PositionChanged(std::size_t index, TPositionState state,
                                       const std::string& port, const std::string& note) {
    const std::lock_guard guard(Lock);
    Lines[index] = Name(index) + "  " + StateText(state, port, note);
    PlainMarks[index].clear();
    switch (Form) {
    case TReportForm::Json: {
        TJsonObject o;
        o.Add("event", "position")
            .Add("position", Positions[index])
            .Add("state", PositionStateName(state))
            .Add("port", port)
            .Add("note", note);
        Print(o.Text());
        break;
    }
    case TReportForm::Live:
        Redraw(index);
        break;
    case TReportForm::Plain:
        Print(Lines[index]);
        break;
    }
}

void TStationReporter::Progress(std::size_t index, const TPortProgress& p) {
    const std::lock_guard guard(Lock);
    const std::string line = Name(index) + "  " + ProgressText(p);
    switch (Form) {
    case TReportForm::Json: {
        Print(ProgressObject(p, "position", Positions[index]).Text());
        break;
    }
    case TReportForm::Live:
        Lines[index] = line;
        Redraw(index);
        break;
    case TReportForm::Plain: {
        // A line when the phase or the tenth of the write changes.
        const int tenth = p.TotalBytes > 0 ? static_cast<int>(p.Bytes * 10 / p.TotalBytes) : 0;
        const std::string mark = p.Phase == "identify" ? p.Phase : "write:" + std::to_string(tenth);
        if (mark != PlainMarks[index]) {
            PlainMarks[index] = mark;
            Print(line);
        }
        break;
    }
    }
}

void TStationReporter::UnitRecorded(std::size_t index, const TUnitRecord& record,
                                    const TStationCounts& counts) {
    const std::lock_guard guard(Lock);
    Lines.back() = CountsText(counts);
    if (Form == TReportForm::Json) {
        Print(UnitRecordObject(record, "unit").Text());
        return;
    }
    std::vector<std::string> lines = {record.Time + "  " + Positions[index] + "  " +
                                      record.Result.Port + "  " + ResultText(record.Result)};
    for (const auto& message : record.Result.Messages) {
        for (const auto& line : MessageLines(message)) {
            lines.push_back("    " + line);
        }
    }
    if (Form == TReportForm::Live) {
        PrintAbove(lines);
        return;
    }
    for (const auto& line : lines) {
        Print(line);
    }
    Print(Lines.back());
}

void TStationReporter::Close(const TStationCounts& counts, int exitCode) {
    const std::lock_guard guard(Lock);
    if (Form == TReportForm::Json) {
        TJsonObject o;
        o.Add("event", "counts")
            .Add("flashed", counts.Flashed)
            .Add("refused", counts.Refused)
            .Add("failed", counts.Failed)
            .Add("exit_code", exitCode);
        Print(o.Text());
        return;
    }
    Print("Station stopped: " + CountsText(counts) + " (exit " + std::to_string(exitCode) + ")");
}
