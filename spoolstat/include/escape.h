// SPDX-License-Identifier: ISC
// escape.h - login names made safe for the two kinds of report.
//
// A login name is whatever bytes the password file holds. The text report
// must not let them drive the terminal or break the columns; the JSON report
// must stay valid JSON whatever they are. Pure functions, thread-safe.
#ifndef SPOOLSTAT_ESCAPE_H
#define SPOOLSTAT_ESCAPE_H

#include <string>
#include <string_view>

namespace escape {

// s as a JSON string literal, quotes included. '"' and '\' are escaped with
// a backslash, control characters (U+0000 to U+001F) and DEL as \u00XX.
// Well-formed UTF-8 passes through unchanged; each byte that is not part of
// a well-formed UTF-8 sequence becomes \ufffd (the replacement character).
std::string json(std::string_view s);

// s for a column of the text report: printable ASCII other than the
// backslash as it is, the backslash as "\\", every other byte (blank,
// control, non-ASCII) as a backslash and three octal digits.
std::string text(std::string_view s);

} // namespace escape

#endif
