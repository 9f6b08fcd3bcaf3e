#include "FlashImage.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "Convert.h"
#include "HexCheck.h"
#include "HexSum.h"

namespace {

constexpr std::size_t Appends = 1'000'000; // runs of 40 'F'
static_assert(40 * Appends == FlashImageChars);

// What the builder makes of one line.  The record type is character 9 alone.
enum class TKind {
    NotRecord,   // empty, or not beginning with ':'
    Unreadable,  // shorter than 9 characters: no type to act on, passed over
    EndOfFile,   // '1'
    Segment,     // '2', Value = the segment
    Linear,      // '4', Value = the upper 16 address bits
    StartLinear, // '5': refused
    Data,        // '0', Count bytes at Address
    Other,       // '3' and any other character: nothing
    BadField,    // a field the builder reads is not hexadecimal
    Incomplete,  // a data or address record without all of its fields
};

struct TRecord {
    TKind Kind = TKind::NotRecord;
    std::int64_t Value = 0;
    std::int64_t Count = 0;
    std::int64_t Address = 0;
};

// Value of a field of hex digits, or nothing when any character is not one.
std::optional<std::int64_t> HexField(std::string_view field) {
    std::int64_t v = 0;
    for (const char c : field) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            return std::nullopt;
        }
        v = v * 16 + d;
    }
    return v;
}

TRecord Classify(std::string_view line) {
    TRecord r;
    if (line.empty() || line.front() != ':') {
        return r;
    }
    if (line.size() < 9) {
        r.Kind = TKind::Unreadable;
        return r;
    }
    switch (line[8]) {
    case '1':
        r.Kind = TKind::EndOfFile;
        return r;
    case '5':
        r.Kind = TKind::StartLinear;
        return r;
    case '2':
    case '4': {
        // Four value digits and the checksum after them.
        if (line.size() < 15) {
            r.Kind = TKind::Incomplete;
            return r;
        }
        const auto value = HexField(line.substr(9, 4));
        if (!value) {
            r.Kind = TKind::BadField;
            return r;
        }
        r.Kind = line[8] == '2' ? TKind::Segment : TKind::Linear;
        r.Value = *value;
        return r;
    }
    case '0': {
        const auto count = HexField(line.substr(1, 2));
        const auto address = count ? HexField(line.substr(3, 4)) : std::nullopt;
        if (!count || !address) {
            r.Kind = TKind::BadField;
            return r;
        }
        // The data and the checksum after it must be on the line.
        if (line.size() < 11 + 2 * static_cast<std::size_t>(*count)) {
            r.Kind = TKind::Incomplete;
            return r;
        }
        r.Kind = TKind::Data;
        r.Count = *count;
        r.Address = *address;
        return r;
    }
    default:
        r.Kind = TKind::Other;
        return r;
    }
}

// Raises the conversion error the window shows for the field of `line` that is not hex.
void RaiseBadField(std::string_view line) {
    if (line[8] == '0') {
        HexFieldToInt(line.substr(1, 2));
        HexFieldToInt(line.substr(3, 4));
    } else {
        HexFieldToInt(line.substr(9, 4));
    }
}

std::int64_t BaseAfter(const TRecord& r, std::int64_t base) {
    if (r.Kind == TKind::Segment) {
        return r.Value * 16;
    }
    if (r.Kind == TKind::Linear) {
        return r.Value * 65536;
    }
    return base;
}

bool FitsImage(const TRecord& r, std::int64_t base) {
    return r.Count == 0 || base + r.Address + r.Count <= FlashImageBytes;
}

// Everything that would leave a wrong image behind, found before the fill so that the
// previous image stays whole: data that cannot be placed (the first such line), a Start
// Linear Address record (named before any other fault, as the reason the text cannot be
// used), a field that is not hexadecimal (raised here, with the conversion error the pass
// would give), and a text that places no data at all before its end.  The scan goes as far
// as the placement pass would: up to the End Of File record or the last line.
struct TFault {
    std::size_t Line = 0; // 1-based; 0 = none
    std::string_view Prefix;
    bool NoData = false;
};

TFault FindUnusableText(const TTextArea& terminal) {
    TFault fault;
    std::int64_t base = 0;
    bool placesData = false;
    for (std::size_t i = 0; i < terminal.LineCount(); ++i) {
        const std::string_view line = terminal.Line(i);
        const TRecord r = Classify(line);
        if (r.Kind == TKind::EndOfFile) {
            break;
        }
        switch (r.Kind) {
        case TKind::StartLinear:
            return {i + 1, StartLinearPrefix};
        case TKind::BadField:
            if (fault.Line != 0) {
                return fault;
            }
            RaiseBadField(line);
            break;
        case TKind::Incomplete:
            if (fault.Line == 0) {
                fault = {i + 1, ShortRecordPrefix};
            }
            break;
        case TKind::Data:
            if (!FitsImage(r, base) && fault.Line == 0) {
                fault = {i + 1, OutOfImagePrefix};
            }
            placesData = placesData || r.Count > 0;
            break;
        default:
            base = BaseAfter(r, base);
            break;
        }
    }
    if (fault.Line == 0 && !placesData) {
        fault.NoData = true;
    }
    return fault;
}

bool RefuseNoData(TWindowHost& host, const TProgramState& state) {
    host.MessageBeep(mbError);
    host.ShowMessage(NoDataMessage(state.OpenedFileName));
    host.MainGauge().SetProgress(0);
    return false;
}

// The fill's steps, pending-input points and gauge as a million appends of a run of 40 'F'
// would give them; the characters themselves cost nothing until a record lands among them.
// Once the gauge is full a step changes nothing else, so the steps whose pending-input
// points the window would skip anyway are passed at once.
void Fill(TWindowHost& host, TImageText& image) {
    TGaugeModel& gauge = host.MainGauge();
    gauge.SetMaxValue(60000);
    gauge.SetProgress(0);
    image.clear();
    for (std::size_t i = 0; i < Appends;) {
        host.ProcessPendingInput();
        gauge.Advance(1);
        ++i;
        if (gauge.Progress() == gauge.MaxValue()) {
            i += host.SkipIdlePendingInput(Appends - i);
        }
    }
    image.AssignBlank(FlashImageChars);
}

class TPreparationGuard {
public:
    explicit TPreparationGuard(bool& flag) : Flag(flag) { Flag = true; }
    ~TPreparationGuard() { Flag = false; }
    TPreparationGuard(const TPreparationGuard&) = delete;
    TPreparationGuard& operator=(const TPreparationGuard&) = delete;

private:
    bool& Flag;
};

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string NoDataMessage(std::string_view fileName) {
    std::string text(NoDataPrefix);
    if (!fileName.empty()) {
        text += ": ";
        text += fileName;
    }
    return text;
}

std::string OpenedStatus(std::string_view fileName) {
    std::string text = "Мікропрограма : ";
    text += fileName;
    text += " - відкрита";
    text += ". Запишіть в прилад";
    return text;
}

bool BuildFlashImage(TWindowHost& host, TProgramState& state) {
    TTextArea& terminal = host.TextTerminal();
    const TFault fault = FindUnusableText(terminal);
    if (fault.NoData) {
        return RefuseNoData(host, state);
    }
    if (fault.Line != 0) {
        return RefuseHexLine(host, fault.Prefix, fault.Line, terminal.Line(fault.Line - 1));
    }

    TImageText& image = state.FlashImage;
    Fill(host, image);

    TGaugeModel& gauge = host.MainGauge();
    gauge.SetMaxValue(static_cast<std::int64_t>(terminal.LineCount()) - 1);
    gauge.SetProgress(0);
    std::int64_t base = 0;
    // A handler run at the pending-input point must never make the pass read past the
    // text, so the count is read again and a line only after that point.
    for (std::size_t i = 0; i < terminal.LineCount(); ++i) {
        host.ProcessPendingInput();
        if (i >= terminal.LineCount()) {
            break;
        }
        const std::string_view line = terminal.Line(i);
        const TRecord r = Classify(line);
        switch (r.Kind) {
        case TKind::NotRecord:
            continue;
        case TKind::EndOfFile:
            return true;
        case TKind::StartLinear:
            return RefuseHexLine(host, StartLinearPrefix, i + 1, line);
        case TKind::BadField:
            RaiseBadField(line);
            break;
        case TKind::Data:
            // Checked again: only a text changed after the scan can fail here.
            if (FitsImage(r, base)) {
                image.Write(static_cast<std::size_t>(2 * (base + r.Address)),
                            line.substr(9, static_cast<std::size_t>(2 * r.Count)));
            }
            break;
        default:
            base = BaseAfter(r, base);
            break;
        }
        gauge.Advance(1);
    }
    return true;
}

bool PrepareFlashImage(TWindowHost& host, TProgramState& state) {
    const TPreparationGuard guard(state.PreparationRunning);
    TTextArea& terminal = host.TextTerminal();
    const std::string& text = terminal.Text();
    // Only ASCII letters: the hex digits are what matters, and the bytes of the
    // Windows-1251 upper half stay as they are.
    if (std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
        std::string upper = text;
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        terminal.SetText(std::move(upper));
    }
    // A text without a single line has nothing to check: it is refused like any text that
    // places no data, not left to the gauge's range error.
    if (terminal.LineCount() == 0) {
        return RefuseNoData(host, state);
    }
    if (!CheckHexLines(host)) {
        return false;
    }
    if (!BuildFlashImage(host, state)) {
        return false;
    }
    host.BringToFront();
    host.MainGauge().SetProgress(0);
    host.SetControlEnabled(TCommandControl::ButtonWrite, true);
    host.MessageBeep(mbInformation);
    return true;
}

void ButtonOpenHexClick(TWindowHost& host, TProgramState& state) {
    if (state.PreparationRunning || state.WriteRunning) {
        return;
    }
    const std::optional<std::string> chosen = host.ChooseHexFile(std::string(OpenFilter));
    if (!chosen) {
        return;
    }
    const std::string name = FileNameOf(*chosen);
    state.OpenedFileName = name;
    std::string content;
    if (!ReadHexFile(*chosen, content)) {
        host.MessageBeep(mbError);
        host.ShowMessage(std::string(TooLargePrefix) + name);
        return;
    }
    host.TextTerminal().SetText(std::move(content));
    if (PrepareFlashImage(host, state)) {
        host.SetStatusText(OpenedStatus(name));
        host.ShowMessage(std::string(OpenedMessage));
    }
}
