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
#include "StationPosition.h"
#include "UnitRecord.h"

struct TStationCounts {
    int Flashed = 0;
    int Refused = 0; // by the version gate
    int Failed = 0;  // every other end
};

class TStationReporter {
public:
    TStationReporter(TReportForm form, std::vector<std::string> positions, std::FILE* out = stdout);

    // A position's new state; `port` is what it resolved to (may be empty), `note` why it
    // waits or what became of its last unit.
    void State(std::size_t index, TPositionState state, const std::string& port,
               const std::string& note);
    void Progress(std::size_t index, const TPortProgress& progress);
    void Unit(std::size_t index, const TUnitRecord& record, const TStationCounts& counts);
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
