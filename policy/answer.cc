// SPDX-License-Identifier: ISC
// answer - the replies and log lines of boxpolicy (answer.h).
#include "answer.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "sitepaths.h"

namespace answer {
namespace {

constexpr std::size_t echo_max = 256;

// A recipient as echoed: at most echo_max bytes, a longer one cut and
// marked with "...".
std::string echo(std::string_view recipient)
{
	if (recipient.size() <= echo_max)
		return std::string(recipient);
	return std::string(recipient.substr(0, echo_max - 3)) + "...";
}

// The enhanced status code and text of a refusal.
std::string text(const judge::Verdict &v, bool temporary)
{
	return (temporary ? "4.2.2 Mailbox of <" : "5.2.2 Mailbox of <") + echo(v.recipient) +
	       "> is full";
}

// The reply to a policy request, or the transport a lookup answers.
std::string reply(const judge::Verdict &v, bool temporary)
{
	if (v.state == "LOOKUP")
		return (temporary ? "retry:" : "error:") + text(v, temporary);
	return (temporary ? "452 " : "552 ") + text(v, temporary);
}

} // namespace

std::string action(const judge::Verdict &v, bool temporary)
{
	if (!v.over)
		return "action=DUNNO\n\n";
	return "action=" + reply(v, temporary) + "\n\n";
}

std::string lookup(const judge::Verdict &v, bool temporary)
{
	return netstring::encode(v.over ? "OK " + reply(v, temporary) : "NOTFOUND ");
}

std::string refusal(const judge::Verdict &v, bool temporary)
{
	std::string line = "reject: ";
	line += v.state;
	line += " recipient=<" + echo(v.recipient) + ">";
	line += " uid=" + std::to_string(v.box.uid);
	line += " mailbox=" + std::to_string(v.box.size);
	line += " size=" + std::to_string(v.box.incoming);
	line += " limit=" + std::to_string(v.box.limit.max_size);
	line += ": " + reply(v, temporary);
	return line;
}

std::string blind(const judge::Verdict &v)
{
	return "warning: cannot examine " + std::string(site::spool_dir) + echo(v.login) + ": " +
	       verdict::reason(v.box.error) +
	       "; it counts as empty, so the limit is not enforced (logged once per cause)";
}

bool first_of_cause(int error)
{
	static std::vector<int> seen;
	if (std::find(seen.begin(), seen.end(), error) != seen.end())
		return false;
	seen.push_back(error);
	return true;
}

std::string fault(request::Fault f, const request::Limits &limits)
{
	std::string line = "warning: closing the connection without an answer: ";
	line += request::describe(f);
	switch (f) {
	case request::Fault::long_line:
		line += " (" + std::to_string(limits.line_max) + " bytes)";
		break;
	case request::Fault::long_request:
		line += " (" + std::to_string(limits.request_max) + " bytes)";
		break;
	case request::Fault::many_attributes:
		line += " (" + std::to_string(limits.attributes_max) + ")";
		break;
	default:
		break;
	}
	return line;
}

std::string fault(netstring::Fault f, const request::Limits &limits)
{
	std::string line = "warning: closing the connection without an answer: ";
	line += netstring::describe(f);
	if (f == netstring::Fault::long_lookup)
		line += " (" + std::to_string(limits.line_max) + " bytes)";
	return line;
}

} // namespace answer
