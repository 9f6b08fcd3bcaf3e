// The station's record of one unit, and the log file that keeps the records.
//
// A .csv log is UTF-8 with a byte-order mark and a header row, written when the file is new
// (a spreadsheet then shows the Cyrillic texts right), in the user's own list separator and
// decimal symbol as a spreadsheet's own CSV save would write them (";" and "," under
// Ukrainian settings), so that a double click opens it in columns; a log that exists keeps
// the separator it has.  Texts a spreadsheet would take for a number or a date (a version
// "02", a serial number "0001", a description "1.10") are written as ="02", and a text
// beginning with = + - @ ' a tab or a carriage return gets a leading ', so that a
// spreadsheet keeps both as text and runs nothing; a reader takes ="X" as X and drops one
// leading ' before such a character.  A .jsonl log has one JSON object per line, the keys
// of the command's "result" event and the station's own.
//
// Every record is one line, written whole and on the disk before the next unit starts; one
// that cannot be written leaves the file as it was.  A last line that a power cut left
// without its end is ended (and a quoted CSV field in it closed) before the next record, so
// the two are never merged.  Only a log the station wrote is written to.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Json.h"
#include "LogFile.h"
#include "Progress.h"

struct TFirmwareFacts {
    std::string Version; // the six digits of the image's version block; empty without one
    std::string Sha256;  // of the image's first 64 KiB, the program flash a unit receives
    // Where the version block starts; -1 without one.
    long VersionBlockAddress = -1;
};

// The facts of the flash image held as hex text (two characters a byte).
TFirmwareFacts FirmwareFactsOf(std::string_view imageHex);

struct TUnitRecord {
    std::string Time;     // ISO 8601 with the UTC offset: 2026-12-11T09:41:05+02:00
    std::string Position; // as given on the command line
    std::string UsbSerialNumber;
    TFirmwareFacts Firmware;
    TPortResult Result; // Result.Port: the port the position resolved to
};

// The time as a record gives it, from the local clock.
std::string IsoTimeNow();

// The record as a JSON object whose "event" is `event`.
TJsonObject UnitRecordObject(const TUnitRecord& record, std::string_view event);

enum class TLogForm { Csv, Jsonl };

// The form a log's name asks for (.csv or .jsonl, any case); none for another name.
std::optional<TLogForm> LogFormOf(const std::string& path);

// How a CSV log separates its fields and writes its decimals.
struct TCsvDialect {
    char Separator = ',';
    char Decimal = '.';
};

// What a new log takes: the user's list separator and decimal symbol.
TCsvDialect UserCsvDialect();

// The CSV header row and a record's row, each with its CR LF.
std::string CsvHeader(TCsvDialect dialect = {});
std::string CsvRow(const TUnitRecord& record, TCsvDialect dialect = {});

// Why the existing bytes at the start of a non-empty log are not the station's own (its CSV
// header, with or without the byte-order mark, either separator; a JSONL record), or empty;
// `dialect` then holds the CSV log's separator and, from its last record, its decimal.
std::string ForeignLogProblem(std::string_view head, std::string_view tail, TLogForm form,
                              TCsvDialect& dialect);

// What ends a torn last line (`lastLine`: the bytes after the file's last line feed) before
// a record follows; empty when the file ends with a whole line.
std::string TornLineEnd(std::string_view lastLine, TLogForm form);

class TRecordLog {
public:
    // Opens the log, refusing a name of another form, a file that cannot be written and one
    // another station holds open; writes the CSV header into a new file.
    static std::unique_ptr<TRecordLog> Open(const std::string& path, std::string& error);

    // Appends the record whole and flushes it to the disk; when that fails the file is as
    // it was.  A log that was replaced or removed since the last record is opened again
    // under its name, with the checks of Open, and `notice` says so.
    bool Append(const TUnitRecord& record, std::string& error, std::string& notice);

private:
    TRecordLog(std::string path, TLogForm form) : Path(std::move(path)), Form(form) {}
    // Opens the file under Path into `file` and reads what the next record needs.
    bool Take(std::unique_ptr<TLogFile>& file, std::string& error);

    std::string Path;
    TLogForm Form;
    TCsvDialect Dialect;
    std::unique_ptr<TLogFile> File;
    std::string PendingEnd; // what a torn last line needs, written with the next record
};
