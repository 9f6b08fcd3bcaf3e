#include "UnitRecord.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "HexSum.h"
#include "OutsideText.h"
#include "ResultText.h"
#include "Sha256.h"
#include "SystemFacts.h"

namespace {

constexpr std::size_t ProgramFlashBytes = 65536;
constexpr std::string_view VersionMarker = "55AAAA55";
constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string Bytes(std::string_view hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
        bytes += static_cast<char>(high < 0 || low < 0 ? 0xFF : high * 16 + low);
    }
    return bytes;
}

std::string Seconds(double seconds, char decimal) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string result = text;
    std::replace(result.begin(), result.end(), '.', decimal);
    return result;
}

// A message as one line: its lines as the terminal shows them, joined by " / ".
std::string OneLine(const std::string& text) {
    std::string line;
    for (const auto& part : MessageLines(text)) {
        line += (line.empty() ? "" : " / ") + part;
    }
    return line;
}

// A text a spreadsheet would turn into a number, a date or a time when it opens the file:
// digits with the marks of numbers and dates ("0001", "02", "1.10", "12:30", "1e5").
bool LooksLikeNumber(std::string_view text) {
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (std::string_view(".,:/-+ eE").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return digit;
}

std::string Quoted(std::string_view text, char separator) {
    if (text.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// A field that a spreadsheet keeps as the text it is, its control and bidirectional
// characters shown as escapes (ShownText).
std::string CsvField(const std::string& text, char separator) {
    const std::string shown = ShownText(text);
    if (!text.empty() && std::string_view("=+-@'\t\r").find(text.front()) != std::string::npos) {
        return Quoted("'" + shown, separator); // would be a formula, or loses its first mark
    }
    if (LooksLikeNumber(shown)) {
        return Quoted("=\"" + shown + "\"", separator);
    }
    return Quoted(shown, separator);
}

// The fields of one CSV line (without its end); quoted fields unquoted.
std::vector<std::string> CsvFields(std::string_view line, char separator) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The column of the seconds, where a record shows its decimal symbol.
constexpr std::size_t SecondsColumn = 13;

} // namespace

TFirmwareFacts FirmwareFactsOf(std::string_view imageHex) {
    TFirmwareFacts facts;
    const std::string flash = Bytes(imageHex.substr(0, 2 * ProgramFlashBytes));
    facts.Sha256 = Sha256Hex(flash);
    // The version block: 55 AA AA 55 and six ASCII digits, on an even address.
    for (std::size_t at = imageHex.find(VersionMarker); at != std::string_view::npos;
         at = imageHex.find(VersionMarker, at + 2)) {
        if (at % 2 != 0 || at >= 2 * ProgramFlashBytes) {
            continue;
        }
        const std::string digits = Bytes(imageHex.substr(at + VersionMarker.size(), 12));
        if (digits.size() == 6 && std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            })) {
            facts.Version = digits;
            facts.VersionBlockAddress = static_cast<long>(at / 2);
            break;
        }
    }
    return facts;
}

std::string IsoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{}, utc{};
    if (!SystemFacts::BrokenDownTime(now, local, utc)) {
        return {};
    }
    // The offset from the two readings of the same instant, a day at most apart.
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) {
        days = local.tm_year > utc.tm_year ? 1 : -1;
    }
    const int minutes = (days * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, minutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

TJsonObject UnitRecordObject(const TUnitRecord& record, std::string_view event) {
    TJsonObject o = ResultObject(record.Result, event);
    o.Add("time", record.Time)
        .Add("position", record.Position)
        .Add("usb_serial_number", record.UsbSerialNumber)
        .Add("firmware_version", record.Firmware.Version)
        .Add("firmware_sha256", record.Firmware.Sha256);
    return o;
}

std::optional<TLogForm> LogFormOf(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto endsWith = [&](std::string_view end) {
        return lower.size() > end.size() &&
               lower.compare(lower.size() - end.size(), end.size(), end) == 0;
    };
    if (endsWith(".csv")) {
        return TLogForm::Csv;
    }
    if (endsWith(".jsonl")) {
        return TLogForm::Jsonl;
    }
    return std::nullopt;
}

TCsvDialect UserCsvDialect() {
    TCsvDialect dialect;
    SystemFacts::NumberSeparators(dialect.Separator, dialect.Decimal);
    return dialect;
}

std::string CsvHeader(TCsvDialect dialect) {
    std::string header =
        "time,position,port,usb_serial_number,loader_version,blocks_per_erase,block_size,"
        "erase_count,installed_version,firmware_version,firmware_sha256,outcome,exit_code,"
        "seconds,tries,failed_tries,erase_pause_ms,write_pause_ms,commit_pause_ms,bytes,"
        "total_bytes,in_bootloader,message";
    std::replace(header.begin(), header.end(), ',', dialect.Separator);
    return header + "\r\n";
}

std::string CsvRow(const TUnitRecord& record, TCsvDialect dialect) {
    const TPortResult& r = record.Result;
    const TPortProgress& p = r.Last;
    const char sep = dialect.Separator;
    const auto text = [sep](const std::string& t) { return CsvField(t, sep); };
    const auto number = [](std::int64_t v) { return std::to_string(v); };
    const auto known = [&](std::string t) { return r.Identified ? t : std::string(); };
    const std::vector<std::string> fields = {
        Quoted(record.Time, sep),
        text(record.Position),
        text(r.Port),
        text(record.UsbSerialNumber),
        known(text(r.Geometry.LoaderVersion)),
        known(number(r.Geometry.BlocksPerErase)),
        known(number(r.Geometry.BlockSize)),
        known(number(r.Geometry.EraseCount)),
        text(OneLine(r.InstalledVersion)),
        text(record.Firmware.Version),
        text(record.Firmware.Sha256),
        r.Outcome,
        number(r.ExitCode),
        Seconds(p.Elapsed, dialect.Decimal),
        number(p.Tries),
        number(p.FailedTries),
        number(p.Pauses[0]),
        number(p.Pauses[1]),
        number(p.Pauses[2]),
        number(p.Bytes),
        number(p.TotalBytes),
        r.InBootloader ? "true" : "false",
        text(OneLine(JoinedMessages(r.Messages))),
    };
    std::string row;
    for (const auto& field : fields) {
        row += (row.empty() ? "" : std::string(1, sep)) + field;
    }
    return row + "\r\n";
}

std::string ForeignLogProblem(std::string_view head, std::string_view tail, TLogForm form,
                              TCsvDialect& dialect) {
    const std::size_t end = head.find('\n');
    std::string_view first = head.substr(0, end);
    if (form == TLogForm::Jsonl) {
        if (first.rfind("{\"event\":\"unit\",", 0) != 0) {
            return "its first line is no record of a station";
        }
        return {};
    }
    if (first.rfind(Bom, 0) == 0) {
        first.remove_prefix(Bom.size());
    }
    if (!first.empty() && first.back() == '\r') {
        first.remove_suffix(1);
    }
    for (const char separator : {',', ';'}) {
        const std::string header = CsvHeader({separator, '.'});
        if (end != std::string_view::npos && first == header.substr(0, header.size() - 2)) {
            dialect = UserCsvDialect();
            dialect.Separator = separator;
            if (dialect.Decimal == separator) {
                dialect.Decimal = separator == ',' ? '.' : ',';
            }
            // The last whole record says which decimal symbol the file has.
            std::string_view body = tail.substr(0, tail.rfind('\n') + 1);
            if (!body.empty()) {
                body.remove_suffix(1);
                std::string_view last = body.substr(body.rfind('\n') + 1);
                if (!last.empty() && last.back() == '\r') {
                    last.remove_suffix(1);
                }
                const auto fields = CsvFields(last, separator);
                if (fields.size() > SecondsColumn) {
                    const std::string& seconds = fields[SecondsColumn];
                    if (seconds.find(',') != std::string::npos) {
                        dialect.Decimal = ',';
                    } else if (seconds.find('.') != std::string::npos) {
                        dialect.Decimal = '.';
                    }
                }
            }
            return {};
        }
    }
    return "its first line is not the header a station writes";
}

std::string TornLineEnd(std::string_view lastLine, TLogForm form) {
    if (lastLine.empty()) {
        return {};
    }
    if (form == TLogForm::Jsonl) {
        return "\n";
    }
    // An odd count of quotes: the line was cut inside a quoted field, which must be closed
    // or the line end would belong to the field.
    const auto quotes = std::count(lastLine.begin(), lastLine.end(), '"');
    return quotes % 2 != 0 ? "\"\r\n" : "\r\n";
}

std::unique_ptr<TRecordLog> TRecordLog::Open(const std::string& path, std::string& error) {
    const auto form = LogFormOf(path);
    if (!form) {
        error = "the log's name must end in .csv or .jsonl: " + path;
        return nullptr;
    }
    std::unique_ptr<TRecordLog> log(new TRecordLog(path, *form));
    if (!log->Take(log->File, error)) {
        return nullptr;
    }
    return log;
}

bool TRecordLog::Take(std::unique_ptr<TLogFile>& file, std::string& error) {
    auto opened = std::make_unique<TLogFile>();
    if (!opened->Open(Path, error)) {
        return false;
    }
    if (opened->Size() == 0) {
        Dialect = UserCsvDialect();
        if (Form == TLogForm::Csv &&
            !opened->Append(std::string(Bom) + CsvHeader(Dialect), error)) {
            return false;
        }
        PendingEnd.clear();
        file = std::move(opened);
        return true;
    }
    // The bytes after the last line end: a record cut short by a power cut.
    constexpr std::size_t Window = 1 << 16;
    const std::string tail = opened->Tail(Window);
    if (const std::string why = ForeignLogProblem(opened->Head(4096), tail, Form, Dialect);
        !why.empty()) {
        error = "the log " + Path + " was not written by a station (" + why +
                "); it is left as it is: name a new file or one a station wrote";
        return false;
    }
    const std::size_t end = tail.find_last_of('\n');
    std::string_view last(tail);
    if (end != std::string::npos) {
        last.remove_prefix(end + 1);
    }
    PendingEnd = TornLineEnd(last, Form);
    file = std::move(opened);
    return true;
}

bool TRecordLog::Append(const TUnitRecord& record, std::string& error, std::string& notice) {
    if (File->Replaced()) {
        if (!Take(File, error)) {
            error = "the log was replaced or removed, and cannot be taken again: " + error;
            return false;
        }
        notice = "The log " + Path +
                 " was replaced or removed while the station ran: records go on into the file "
                 "now under its name.";
    }
    const std::string line = Form == TLogForm::Csv ? CsvRow(record, Dialect)
                                                   : UnitRecordObject(record, "unit").Text() + "\n";
    if (!File->Append(PendingEnd + line, error)) {
        return false;
    }
    PendingEnd.clear();
    return true;
}
