// The one gate for text that others wrote: a unit's description, the names of processes,
// devices and files, the contents of files.  Such text is shown, never obeyed: the control
// characters (C0, DEL, C1), the bidirectional embeddings, overrides and isolates and the
// bytes that are not UTF-8 reach no terminal, window, JSON line or spreadsheet as they are.
// Every front end shows outside text through these functions and escapes nothing itself.
#pragma once

#include <string>
#include <string_view>

enum class TLineBreaks {
    Escaped, // one line: CR and LF are escaped like the other control characters
    Kept,    // a message of several lines: its CR and LF stay
};

// `text` (UTF-8) with visible escapes: "\x1b" for a C0 control, DEL or a byte that is not
// UTF-8, "\u0085" for a C1 control, "\u202e" for a bidirectional control.  Everything else,
// backslashes included, stays as it is.
std::string ShownText(std::string_view text, TLineBreaks breaks = TLineBreaks::Escaped);

// `text` as a JSON string with its quotes: the quote, the backslash and the control and
// bidirectional characters escaped, a byte that is not UTF-8 as U+FFFD, so the line always
// parses and shows nothing raw.
std::string JsonString(std::string_view text);
