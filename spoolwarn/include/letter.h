// SPDX-License-Identifier: ISC
// letter.h - the warning letter: headers spoolwarn writes itself, and the
// administrator's template with its placeholders filled in.
//
// A template is a mail message in miniature: optional header lines (From:,
// Subject:, any other but To:, Date: and Auto-Submitted:, which spoolwarn
// writes), an empty line, and the body. A template whose first line is no
// header is all body. Placeholders, in headers and body alike:
//   ${LOGIN} ${MAILBOX} ${SIZE} ${LIMIT} ${PERCENT} ${THRESHOLD} ${DELETE}
//   ${MAILNAME}
// (the login, its mailbox's path, its size and the limit in bytes, the
// size in whole percent of the limit, the threshold crossed, the bytes to
// delete to be below it again, and the host's mail name); any other ${...}
// stays as written. Missing From: or Subject: get defaults (postmaster; a
// subject with the percentage). Line ends are written as LF; a CR before
// one is dropped.
//
// Addresses are qualified with the mail name (mailname.h), as mail servers
// want them: "To: LOGIN@MAILNAME", and a From: whose address has no '@'
// (a bare local part, alone or in angle brackets) gets "@MAILNAME"; an
// empty mail name leaves them as they are.
//
// Values put into headers are numbers or a login that safe_login() passed,
// so no value can start a header of its own. Pure functions; thread-safe.
#ifndef SPOOLWARN_LETTER_H
#define SPOOLWARN_LETTER_H

#include <ctime>
#include <string>
#include <string_view>

namespace letter {

struct Facts {
	std::string_view login;
	long long size = 0;
	int limit = 0;
	long long percent = 0;
	int threshold = 0;
	long long to_delete = 0;
	std::string_view mailname; // the domain addresses are qualified with
};

// The text used when no template is installed (the same as the shipped
// one).
extern const char default_template[];

// Whether tmpl can be used; false with *why when its header part is not
// made of header lines or sets a header spoolwarn writes, or when a line
// filled in with the longest values could be longer than the 998 octets a
// line of a letter may have (*why names the line). The longest values: a
// login of 64 octets (safe_login()'s most), a mail name of 253, numbers of
// 20 digits, and "@MAILNAME" added to a From: line.
bool check(std::string_view tmpl, std::string *why);

// The letter to login from a checked template, dated now (local time).
std::string compose(std::string_view tmpl, const Facts &facts, std::time_t now);

// Whether a login can be used as a local mail address as it is: 1 to 64
// letters, digits, '.', '_' and '-', not starting with '-' or '.'. Anything else
// (an '@', a ',', a blank, a control byte, a '+' that delivery would read
// as an address extension) could reach another address or another
// command-line option: such a login gets no letter.
bool safe_login(std::string_view login);

// The date as RFC 5322 writes it: "Tue, 08 Dec 2026 17:45:34 +0000".
std::string rfc5322_date(std::time_t now);

} // namespace letter

#endif
