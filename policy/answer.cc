// SPDX-License-Identifier: ISC
// answer - the replies and log lines of boxpolicy (answer.h).
#include "answer.h"

namespace answer {
namespace {

// The reply code, enhanced status code and text of a refusal.
std::string reply(const judge::Verdict &v, bool temporary)
{
	std::string r = temporary ? "452 4.2.2 Mailbox of <" : "552 5.2.2 Mailbox of <";
	r += v.recipient;
	r += "> is full";
	return r;
}

} // namespace

std::string action(const judge::Verdict &v, bool temporary)
{
	if (!v.over)
		return "action=DUNNO\n\n";
	return "action=" + reply(v, temporary) + "\n\n";
}

std::string refusal(const judge::Verdict &v, bool temporary)
{
	std::string line = "reject: ";
	line += v.state;
	line += " recipient=<";
	line += v.recipient;
	line += "> uid=" + std::to_string(v.uid);
	line += " mailbox=" + std::to_string(v.mailbox);
	line += " size=" + std::to_string(v.size);
	line += " limit=" + std::to_string(v.limit);
	line += ": " + reply(v, temporary);
	return line;
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

} // namespace answer
