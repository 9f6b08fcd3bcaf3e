#include "TerminalHost.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <thread>

#include "Console.h"

namespace {

// The status the engine sets when the write starts, right before its first frame.
constexpr std::string_view WriteStatus = "Йде запис! Заборонено переривати!";

constexpr auto ReportInterval = std::chrono::milliseconds(100); // ten a second at most

// The word each try logs before its frame.
const char* PhaseOfLogLine(std::string_view line) {
    if (line.rfind("Очистив", 0) == 0) {
        return "erase";
    }
    if (line.rfind("Записав", 0) == 0) {
        return "write";
    }
    if (line.rfind("Прошив", 0) == 0) {
        return "commit";
    }
    return nullptr;
}

} // namespace

TTerminalHost::TTerminalHost(TProgramState& state, std::string port, int baudIndex,
                             std::function<bool()> interrupted, TProgressSink sink)
    : State(state), Port(std::move(port)), BaudIndex(baudIndex),
      Interrupted(std::move(interrupted)), Sink(std::move(sink)) {
    Memo.SetListener(this);
}

TTerminalHost::~TTerminalHost() {
    Memo.SetListener(nullptr);
}

TPortProgress TTerminalHost::Snapshot() const {
    return SnapshotAt(Clock::now());
}

TPortProgress TTerminalHost::SnapshotAt(Clock::time_point now) const {
    TPortProgress p;
    p.Phase = Phase;
    p.Elapsed = std::chrono::duration<double>(now - Started).count();
    p.Tries = Tries;
    p.FailedTries = FailedTries;
    p.Paused = static_cast<double>(SleptMs) / 1000.0;
    p.Pauses = Pauses;
    const TFlashGeometry& g = State.FlashGeometry;
    const auto positive = [](std::int64_t v) { return v > 0 ? v : 0; };
    p.Units = positive(g.EraseCount);
    p.Blocks = positive(g.BlocksPerErase);
    p.TotalBytes = p.Units * p.Blocks * positive(g.BlockSize);
    if (WriteBegan != Clock::time_point{}) {
        p.WriteElapsed = std::chrono::duration<double>(now - WriteBegan).count();
        p.Unit = Gauge.Progress();
        // Once the gauge has counted a unit, the block bar still shows that unit's blocks
        // until the next unit starts: they are in the gauge's count then.
        p.Block = BlockBarUnit == p.Unit ? BlockBarPosition : 0;
        p.Bytes = (p.Unit * p.Blocks + p.Block) * positive(g.BlockSize);
    } else {
        p.IdentifyPercent = Gauge.Percent();
    }
    return p;
}

std::string TTerminalHost::Description() const {
    return DescriptionEnd == std::string::npos ? Memo.Text()
                                               : Memo.Text().substr(0, DescriptionEnd);
}

void TTerminalHost::SetStatusText(const std::string& text) {
    if (text == WriteStatus && WriteBegan == Clock::time_point{}) {
        WriteBegan = Clock::now();
        DescriptionEnd = Memo.Text().size();
        LinesSeen = Memo.LineCount();
        Phase = "erase";
    }
}

void TTerminalHost::SetCalibrationText(const std::string& text) {
    if (WriteBegan == Clock::time_point{}) {
        return; // the identification's reset of the read-out
    }
    // Every failed try of the write updates the read-out "Автокалібровка: E.W.C".
    ++FailedTries;
    const std::size_t colon = text.find(": ");
    if (colon == std::string::npos) {
        return;
    }
    const char* p = text.data() + colon + 2;
    const char* const end = text.data() + text.size();
    for (auto& pause : Pauses) {
        const auto [next, ec] = std::from_chars(p, end, pause);
        if (ec != std::errc{}) {
            return;
        }
        p = next < end && *next == '.' ? next + 1 : next;
    }
}

void TTerminalHost::SetBlockBarPosition(int position) {
    BlockBarPosition = position;
    BlockBarUnit = Gauge.Progress();
}

void TTerminalHost::StepBlockBar() {
    ++BlockBarPosition;
    BlockBarUnit = Gauge.Progress();
}

void TTerminalHost::ProcessPendingInput() {
    Ui.RunPending();
    // Ctrl+C stays pending: a write that starts after it is stopped at its first check.
    if (Interrupted && Interrupted()) {
        State.AbortRequested = true;
    }
    MaybeReport();
}

void TTerminalHost::ShowMessage(const std::string& text) {
    Messages_.push_back(text);
}

void TTerminalHost::Sleep(unsigned milliseconds) {
    MaybeReport();
    SleptMs += milliseconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string TTerminalHost::LongTimeText() {
    return Console::LongTimeText();
}

void TTerminalHost::TextReset() {}

void TTerminalHost::TextAppended(std::size_t firstLine) {
    if (WriteBegan == Clock::time_point{}) {
        return;
    }
    // An append re-reads the last line; the log's lines are complete when they are seen.
    for (std::size_t i = std::max(firstLine, LinesSeen); i < Memo.LineCount(); ++i) {
        if (const char* phase = PhaseOfLogLine(Memo.Line(i))) {
            Phase = phase;
            ++Tries;
        }
    }
    LinesSeen = Memo.LineCount();
}

void TTerminalHost::MaybeReport() {
    if (!Sink) {
        return;
    }
    const auto now = Clock::now();
    if (Reported && now - LastReport < ReportInterval) {
        return;
    }
    Reported = true;
    LastReport = now;
    // The report carries the same instant that spaces the reports.
    Sink(SnapshotAt(now));
}
