// SPDX-License-Identifier: ISC
// answer.h - what boxpolicy says to the client and what it logs.
//
// The answer to a policy request is one "action=..." line and an empty
// line: DUNNO, or for a mailbox over the limit a permanent 552 5.2.2 (or,
// when temporary is set, 452 4.2.2) with a text that names the recipient.
// The answer to a lookup is a netstring: "NOTFOUND ", or for a mailbox over
// the limit "OK error:5.2.2 ..." (with temporary, "OK retry:4.2.2 ..."),
// the transport Postfix's local(8) then hands the message to. A recipient is
// echoed in replies and log lines up to 256 bytes, a longer one cut to 253
// and "...". The log lines are the text for syslog, without the program's
// name.
//
// Pure functions, but for first_of_cause; the strings returned are the
// caller's.
#ifndef POLICY_ANSWER_H
#define POLICY_ANSWER_H

#include <string>

#include "judge.h"
#include "netstring.h"
#include "request.h"

namespace answer {

// The answer to a policy request, empty line included.
std::string action(const judge::Verdict &v, bool temporary);

// The answer to a lookup, as a netstring.
std::string lookup(const judge::Verdict &v, bool temporary);

// The log line of a refusal (a policy request's or a lookup's): recipient,
// uid, mailbox size, message size, limit and the reply.
std::string refusal(const judge::Verdict &v, bool temporary);

// The log line of a mailbox that could not be examined for a reason other
// than its absence (verdict::blind): it counted as empty.
std::string blind(const judge::Verdict &v);

// Whether this process meets the cause error (an errno) for the first time.
// Keeps a process-wide record; not thread-safe.
bool first_of_cause(int error);

// The log line of a protocol fault, after which the connection is closed.
std::string fault(request::Fault f, const request::Limits &limits);
std::string fault(netstring::Fault f, const request::Limits &limits);

} // namespace answer

#endif
