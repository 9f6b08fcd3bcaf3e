// What a port's progress and result say, as text and as JSON, for every front end: the
// station's records and lines, the command line's reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Json.h"
#include "Progress.h"

// Bytes in KiB with one decimal ("16.0").
std::string KibText(std::int64_t bytes);
// The three tuned pauses as "erase.write.commit" in ms.
std::string PausesText(const TPortProgress& progress);
// The percentage the progress has reached in its phase.
int ProgressPercent(const TPortProgress& progress);
// What became of a port, in one line without its name: "flashed: 16.0 KiB in 8.8 s, ...";
// the unit's words in it shown, not obeyed (ShownText).
std::string ResultText(const TPortResult& result);
// The JSON objects of a progress and a result event; `whereKey` names the port or position.
TJsonObject ProgressObject(const TPortProgress& progress, std::string_view whereKey,
                           std::string_view where);
TJsonObject ResultObject(const TPortResult& result, std::string_view event);
// A port's messages as one text, separated by CR LF.
std::string JoinedMessages(const std::vector<std::string>& messages);

// A message box's text as lines: CR LF and lone CRs become line ends, the blanks that
// centred a line in the box are dropped, and what the lines hold of outside text (a unit's
// description, a file's name) is shown, not obeyed (ShownText).
std::vector<std::string> MessageLines(const std::string& message);
