#include "HexCheck.h"

#include "Convert.h"
#include "HexSum.h"

namespace {

// The longest Intel HEX record: ':' + count + address + type + 255 data bytes + checksum.
constexpr std::size_t LongestRecord = 1 + 2 + 4 + 2 + 2 * 255 + 2;
// Lines up to this length are shown whole; longer ones are cut here.
constexpr std::size_t ShownLineLimit = 2 * LongestRecord;

} // namespace

std::string HexLineMessage(std::string_view prefix, std::size_t lineNumber, std::string_view line) {
    std::string text(prefix);
    text += std::to_string(lineNumber);
    text += "! (";
    if (line.size() > ShownLineLimit) {
        text += Cp1251ToUtf8(line.substr(0, ShownLineLimit));
        text += "…";
    } else {
        text += Cp1251ToUtf8(line);
    }
    text += ")";
    return text;
}

bool CheckHexLines(TWindowHost& host) {
    TTextArea& terminal = host.TextTerminal();
    TGaugeModel& gauge = host.MainGauge();
    gauge.SetMaxValue(static_cast<std::int64_t>(terminal.LineCount()) - 1);
    gauge.SetProgress(0);
    // The count is read again on every line: input handled at the pending-input point may
    // replace the text, and a line is only looked at after that point.
    for (std::size_t i = 0; i < terminal.LineCount(); ++i) {
        host.ProcessPendingInput();
        if (i >= terminal.LineCount()) {
            break;
        }
        const std::string_view line = terminal.Line(i);
        if (!line.empty() && line.front() == ':') {
            const std::string_view body = line.substr(1);
            if (body.size() % 2 != 0) {
                return RefuseHexLine(host, ParityPrefix, i + 1, line);
            }
            const std::size_t split = body.size() >= 2 ? body.size() - 2 : 0;
            const int checksum = HexFieldToInt(body.substr(split));
            const int sum = HexFieldToInt(SumHexBytes(body.substr(0, split)));
            if (checksum != (256 - sum) % 256) {
                return RefuseHexLine(host, ChecksumPrefix, i + 1, line);
            }
        }
        gauge.Advance(1);
    }
    return true;
}

bool RefuseHexLine(TWindowHost& host, std::string_view prefix, std::size_t lineNumber,
                   std::string_view line) {
    host.MessageBeep(mbError);
    host.ShowMessage(HexLineMessage(prefix, lineNumber, line));
    host.MainGauge().SetProgress(0);
    return false;
}
