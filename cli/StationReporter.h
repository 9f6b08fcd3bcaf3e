// What a station prints, from any position's thread: one live line per position and the
// counts below them on a terminal, a line per change otherwise, and with --json a
// "position" event at each change of state, the write's "progress" events and a "unit"
// event per record.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Reporter.h"
#include "StationCore.h"

class TStationReporter final : public TStationObserver {
public:
    TStationReporter(TReportForm form, std::vector<std::string> positions, std::FILE* out = stdout);

    // A note is one row on the terminal: its own line breaks are shown as " / ".
    void PositionChanged(std::size_t index, TPositionState state, const std::string& port,
                         const std::string& note) override;
    void Progress(std::size_t index, const TPortProgress& progress) override;
    void UnitRecorded(std::size_t index, const TUnitRecord& record,
                      const TStationCounts& counts) override;
    // At the end: the counts and the exit code.
    void Close(const TStationCounts& counts, int exitCode);

private:
    std::string Name(std::size_t index) const;
    std::string CountsText(const TStationCounts& counts) const;
    void Print(const std::string& line);
    void Redraw(std::size_t row);
    void PrintAbove(const std::vector<std::string>& lines);

    TReportForm Form;
    std::vector<std::string> Positions;
    std::FILE* Out;
    std::mutex Lock;
    std::vector<std::string> Lines; // the positions' live lines, then the counts
    std::vector<std::string> PlainMarks;
    std::size_t NameWidth = 0;
    int Columns = 0;
};
