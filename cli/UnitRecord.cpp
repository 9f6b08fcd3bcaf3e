#include "UnitRecord.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "Console.h"
#include "HexSum.h"
#include "OutsideText.h" // CsvField
#include "Reporter.h"
#include "Sha256.h"

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

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// A message as one line: its lines as the terminal shows them, joined by " / ".
std::string OneLine(const std::string& text) {
    std::string line;
    for (const auto& part : MessageLines(text)) {
        line += (line.empty() ? "" : " / ") + part;
    }
    return line;
}

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
    if (!Console::BrokenDownTime(now, local, utc)) {
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

std::string CsvHeader() {
    return "time,position,port,usb_serial_number,loader_version,blocks_per_erase,block_size,"
           "erase_count,installed_version,firmware_version,firmware_sha256,outcome,exit_code,"
           "seconds,tries,failed_tries,erase_pause_ms,write_pause_ms,commit_pause_ms,bytes,"
           "total_bytes,in_bootloader,message\r\n";
}

std::string CsvRow(const TUnitRecord& record) {
    const TPortResult& r = record.Result;
    const TPortProgress& p = r.Last;
    const auto number = [](std::int64_t v) { return std::to_string(v); };
    const auto known = [&](std::string text) { return r.Identified ? text : std::string(); };
    const std::vector<std::string> fields = {
        CsvField(record.Time),
        CsvField(record.Position),
        CsvField(r.Port),
        CsvField(record.UsbSerialNumber),
        known(CsvField(r.Geometry.LoaderVersion)),
        known(number(r.Geometry.BlocksPerErase)),
        known(number(r.Geometry.BlockSize)),
        known(number(r.Geometry.EraseCount)),
        CsvField(OneLine(r.InstalledVersion)),
        CsvField(record.Firmware.Version),
        record.Firmware.Sha256,
        r.Outcome,
        number(r.ExitCode),
        Seconds(p.Elapsed),
        number(p.Tries),
        number(p.FailedTries),
        number(p.Pauses[0]),
        number(p.Pauses[1]),
        number(p.Pauses[2]),
        number(p.Bytes),
        number(p.TotalBytes),
        r.InBootloader ? "true" : "false",
        CsvField(OneLine(JoinedMessages(r.Messages))),
    };
    std::string row;
    for (const auto& field : fields) {
        row += (row.empty() ? "" : ",") + field;
    }
    return row + "\r\n";
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
    std::unique_ptr<TRecordLog> log(new TRecordLog(*form));
    if (!log->File.Open(path, error)) {
        return nullptr;
    }
    if (log->File.Size() == 0) {
        if (*form == TLogForm::Csv && !log->File.Append(std::string(Bom) + CsvHeader(), error)) {
            return nullptr;
        }
        return log;
    }
    // The bytes after the last line end: a record cut short by a power cut.
    constexpr std::size_t Window = 1 << 16;
    const std::string tail = log->File.Tail(Window);
    const std::size_t end = tail.find_last_of('\n');
    std::string_view last(tail);
    if (end != std::string::npos) {
        last.remove_prefix(end + 1);
    }
    log->PendingEnd = TornLineEnd(last, *form);
    return log;
}

bool TRecordLog::Append(const TUnitRecord& record, std::string& error) {
    const std::string line =
        Form == TLogForm::Csv ? CsvRow(record) : UnitRecordObject(record, "unit").Text() + "\n";
    if (!File.Append(PendingEnd + line, error)) {
        return false;
    }
    PendingEnd.clear();
    return true;
}
