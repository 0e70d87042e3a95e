// SPDX-License-Identifier: ISC
// answer.h - what boxpolicy says to the client and what it logs.
//
// The answer to a request is one "action=..." line and an empty line:
// DUNNO, or for a mailbox over the limit a permanent 552 5.2.2 (or, when
// temporary is set, 452 4.2.2) with a text that names the recipient. The
// log lines are the text for syslog, without the program's name. Pure
// functions; the strings returned are the caller's.
#ifndef POLICY_ANSWER_H
#define POLICY_ANSWER_H

#include <string>

#include "judge.h"
#include "request.h"

namespace answer {

// The answer to a request, empty line included.
std::string action(const judge::Verdict &v, bool temporary);

// The log line of a refusal: recipient, uid, mailbox size, message size,
// limit and the reply.
std::string refusal(const judge::Verdict &v, bool temporary);

// The log line of a protocol fault, after which the connection is closed.
std::string fault(request::Fault f, const request::Limits &limits);

} // namespace answer

#endif
