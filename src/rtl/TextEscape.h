#pragma once

#include "AnsiString.h"

#include <string>

namespace rtl {

// UTF-8 text shown on one line: every control character (C0, DEL, C1) comes out as an escape
// (\x1B, \u009B) and a backslash as \\, so that no text from a unit can end the line, forge
// another or drive a terminal.
std::string EscapeControls(const std::string& utf8);

// A path the system gave, shown so that it can be pasted back into an option: only its control
// characters are escaped, its backslashes (Windows paths) kept.
std::string EscapePath(const std::string& utf8);

// UTF-8 text as a JSON string, quotes included; controls, quote, backslash, C1 controls and
// the two Unicode line separators are escaped.
std::string JsonString(const std::string& utf8);

// An activity-log line (code page 932) as one line of UTF-8 text, escaped as above: what
// tolvane-cli prints, the log window shows and a log file holds.
std::string LogLineText(const AnsiString& line);

} // namespace rtl
