// SPDX-License-Identifier: ISC
// letter - filling in the warning letter (letter.h).
//
// The template is split once into its header lines and its body; each
// line is filled in on its own. Dates use the C locale's names, as the
// program never sets another.
#include "letter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "sitepaths.h"

namespace letter {

const char default_template[] =
    "From: postmaster\n"
    "Subject: Your mailbox is ${PERCENT}% full\n"
    "\n"
    "** WARNING: system mailbox ${MAILBOX} is at ${PERCENT}% of its limit"
    " (${SIZE} of ${LIMIT} bytes). **\n"
    "** Once it is over ${LIMIT} bytes, you will receive NO MORE MAIL. **\n"
    "** Delete at least ${DELETE} bytes to be back under ${THRESHOLD}%. **\n"
    "\n"
    "Mail sent to you while the mailbox is over the limit is refused and\n"
    "returned to its senders. This letter is sent once; you hear again only\n"
    "after the mailbox has shrunk and grown past ${THRESHOLD}% once more.\n";

namespace {

struct Parts {
	std::vector<std::string_view> headers; // whole header lines, continuations included
	std::string_view body;
};

// The name of a header line ("Subject" of "Subject: x"), or empty when the
// line is not one.
std::string_view header_name(std::string_view line)
{
	std::size_t colon = line.find(':');
	if (colon == 0 || colon == std::string_view::npos)
		return {};
	std::string_view name = line.substr(0, colon);
	bool printable =
	    std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 127; });
	return printable ? name : std::string_view();
}

bool same_name(std::string_view a, std::string_view b)
{
	if (a.size() != b.size())
		return false;
	for (std::size_t i = 0; i < a.size(); ++i)
		if (std::tolower(static_cast<unsigned char>(a[i])) !=
		    std::tolower(static_cast<unsigned char>(b[i])))
			return false;
	return true;
}

std::string_view without_cr(std::string_view line)
{
	if (!line.empty() && line.back() == '\r')
		line.remove_suffix(1);
	return line;
}

// Splits tmpl; false with *why when a header line is malformed.
bool split(std::string_view tmpl, Parts *out, std::string *why)
{
	out->headers.clear();
	std::string_view rest = tmpl;
	std::size_t nl = rest.find('\n');
	if (header_name(without_cr(rest.substr(0, nl))).empty()) {
		out->body = tmpl; // no header part
		return true;
	}
	while (!rest.empty()) {
		nl = rest.find('\n');
		std::string_view line = without_cr(rest.substr(0, nl));
		rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
		if (line.empty())
			break;
		if (line.front() == ' ' || line.front() == '\t') {
			out->headers.back() =
			    std::string_view(out->headers.back().data(),
			                     static_cast<std::size_t>(line.data() + line.size() -
			                                              out->headers.back().data()));
			continue;
		}
		std::string_view name = header_name(line);
		if (name.empty()) {
			*why = "not a header line: " + std::string(line.substr(0, 60));
			return false;
		}
		static constexpr std::string_view ours[] = {"To", "Date", "Auto-Submitted"};
		auto it = std::find_if(std::begin(ours), std::end(ours),
		                       [&](std::string_view o) { return same_name(name, o); });
		if (it != std::end(ours)) {
			*why = "sets " + std::string(*it) + ":, which spoolwarn writes itself";
			return false;
		}
		out->headers.push_back(line);
	}
	out->body = rest;
	return true;
}

bool has_header(const Parts &p, std::string_view name)
{
	return std::any_of(p.headers.begin(), p.headers.end(),
	                   [&](std::string_view h) { return same_name(header_name(h), name); });
}

// A letter's line, CRLF aside, has at most this many octets (RFC 5322).
constexpr std::size_t max_line = 998;
// A login as a local part has at most this many (RFC 5321).
constexpr std::size_t max_login = 64;
constexpr std::size_t max_domain = 253;

// The placeholders, and the most octets each one's value can have.
struct Placeholder {
	std::string_view name;
	std::size_t widest;
};
constexpr Placeholder placeholders[] = {
    {"${LOGIN}", max_login}, {"${MAILBOX}", sizeof site::spool_dir - 1 + max_login},
    {"${SIZE}", 20},         {"${LIMIT}", 11},
    {"${PERCENT}", 20},      {"${THRESHOLD}", 3},
    {"${DELETE}", 20},       {"${MAILNAME}", max_domain},
};

// The most octets line (no line end) can have once filled in.
std::size_t widest(std::string_view line)
{
	std::size_t n = 0;
	while (!line.empty()) {
		const Placeholder *p =
		    std::find_if(std::begin(placeholders), std::end(placeholders),
		                 [&](const Placeholder &q) { return line.starts_with(q.name); });
		bool found = p != std::end(placeholders);
		n += found ? p->widest : 1;
		line.remove_prefix(found ? p->name.size() : 1);
	}
	return n;
}

// text with the placeholders filled in, and every line end LF alone.
void fill(std::string_view text, const Facts &f, std::string *out)
{
	const std::string mailbox = std::string(site::spool_dir) + std::string(f.login);
	while (!text.empty()) {
		std::size_t at = text.find_first_of("$\r");
		*out += text.substr(0, at);
		if (at == std::string_view::npos)
			return;
		text.remove_prefix(at);
		if (text.front() == '\r') {
			if (text.size() > 1 && text[1] == '\n')
				text.remove_prefix(1);
			else
				*out += ' '; // a CR alone would end a header line for some readers
			if (text.front() == '\r')
				text.remove_prefix(1);
			continue;
		}
		// In the order of placeholders[].
		const std::string values[] = {
		    std::string(f.login),        mailbox,
		    std::to_string(f.size),      std::to_string(f.limit),
		    std::to_string(f.percent),   std::to_string(f.threshold),
		    std::to_string(f.to_delete), std::string(f.mailname),
		};
		static_assert(std::size(values) == std::size(placeholders));
		std::size_t i = 0;
		while (i < std::size(placeholders) && !text.starts_with(placeholders[i].name))
			++i;
		if (i == std::size(placeholders)) {
			*out += '$';
			text.remove_prefix(1);
		} else {
			*out += values[i];
			text.remove_prefix(placeholders[i].name.size());
		}
	}
}

// Whether c may stand in the local part of an address as it is (RFC 5322
// atext, and the dot).
bool local_char(char c)
{
	return std::isalnum(static_cast<unsigned char>(c)) ||
	       std::string_view("!#$%&'*+-/=?^_`{|}~.").find(c) != std::string_view::npos;
}

// A filled From: line whose address has no domain, with "@mailname" added:
// a bare local part ("From: postmaster"), or one in angle brackets ("From:
// Mail Admin <postmaster>"). Any other line stays as written.
std::string qualified_from(std::string line, std::string_view mailname)
{
	if (mailname.empty() || line.find('@') != std::string::npos)
		return line;
	std::string domain = "@";
	domain += mailname;
	std::size_t close = line.rfind('>');
	std::size_t open = close == std::string::npos ? close : line.rfind('<', close);
	if (open != std::string::npos) {
		if (close > open + 1)
			line.insert(close, domain);
		return line;
	}
	const char *blanks = " \t\n";
	std::size_t first = line.find_first_not_of(blanks, line.find(':') + 1);
	std::size_t last = line.find_last_not_of(blanks);
	if (first == std::string::npos || last < first)
		return line;
	std::string_view word(line.data() + first, last + 1 - first);
	if (std::all_of(word.begin(), word.end(), local_char))
		line.insert(last + 1, domain);
	return line;
}

} // namespace

bool check(std::string_view tmpl, std::string *why)
{
	Parts p;
	if (!split(tmpl, &p, why))
		return false;
	// Every line as the longest values would fill it in; a From: line may
	// also get "@MAILNAME".
	std::size_t number = 0;
	for (std::string_view rest = tmpl; !rest.empty();) {
		std::size_t nl = rest.find('\n');
		std::string_view line = without_cr(rest.substr(0, nl));
		rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
		++number;
		bool from =
		    std::any_of(p.headers.begin(), p.headers.end(), [&](std::string_view h) {
			    return line.data() >= h.data() && line.data() < h.data() + h.size() &&
			           same_name(header_name(h), "From");
		    });
		std::size_t most = widest(line) + (from ? 1 + max_domain : 0);
		if (most > max_line) {
			*why = "line " + std::to_string(number) + ": could be " +
			       std::to_string(most) +
			       " octets long once filled in; a line of a letter may have " +
			       std::to_string(max_line) + " at most";
			return false;
		}
	}
	return true;
}

bool safe_login(std::string_view login)
{
	if (login.empty() || login.size() > max_login || login.front() == '-' ||
	    login.front() == '.')
		return false;
	for (char c : login)
		if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
		      c == '-'))
			return false;
	return true;
}

std::string rfc5322_date(std::time_t now)
{
	static const char days[][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
	static const char months[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
	                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
	std::tm tm = {};
	::localtime_r(&now, &tm);
	long offset = tm.tm_gmtoff / 60;
	char sign = offset < 0 ? '-' : '+';
	if (offset < 0)
		offset = -offset;
	char buf[64];
	std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
	              days[tm.tm_wday % 7], tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900,
	              tm.tm_hour, tm.tm_min, tm.tm_sec, sign, offset / 60, offset % 60);
	return buf;
}

std::string compose(std::string_view tmpl, const Facts &facts, std::time_t now)
{
	Parts p;
	std::string why;
	if (!split(tmpl, &p, &why))
		p = Parts{{}, tmpl};
	std::string at_domain;
	if (!facts.mailname.empty())
		at_domain.append("@").append(facts.mailname);
	std::string text = "To: ";
	text.append(facts.login).append(at_domain).append("\n");
	if (!has_header(p, "From"))
		text.append("From: postmaster").append(at_domain).append("\n");
	if (!has_header(p, "Subject"))
		fill("Subject: Your mailbox is ${PERCENT}% full\n", facts, &text);
	for (std::string_view h : p.headers) {
		std::string line;
		fill(h, facts, &line);
		text +=
		    same_name(header_name(h), "From") ? qualified_from(line, facts.mailname) : line;
		text += '\n';
	}
	text += "Date: " + rfc5322_date(now) + "\n";
	text += "Auto-Submitted: auto-generated\n";
	text += '\n';
	fill(p.body, facts, &text);
	if (text.back() != '\n')
		text += '\n';
	return text;
}

} // namespace letter
