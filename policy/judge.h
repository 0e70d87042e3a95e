// SPDX-License-Identifier: ISC
// judge.h - whether a policy request would take a system mailbox over the
// site's limit.
//
// Only a recipient at one of the local domains (any domain when none are
// given) whose local part, less its address extension, is an account is
// judged: at RCPT with the size the client announced (0 when unknown), at
// END-OF-MESSAGE with the real size when the message has exactly one
// recipient. Everything else is left to the mail server (not over). The
// judgement is the limit rule of boxquota.h, OverMailLimit, on the mailbox
// size plus the message size, a sum that saturates.
//
// The accounts and their mailboxes come from a Mailboxes the caller
// provides; the limit from libboxquota, which reads its file once per
// process. Single-threaded. Prints and logs nothing.
#ifndef POLICY_JUDGE_H
#define POLICY_JUDGE_H

#include <string>
#include <string_view>
#include <vector>

#include "request.h"

namespace judge {

struct Settings {
	std::vector<std::string> domains; // lower case; empty: every domain
	std::string delimiters;           // an extension starts at any of these
};

// Where accounts and their mailboxes are found.
class Mailboxes {
public:
	// The account with exactly this login name: true with its uid and the
	// size of its system mailbox in bytes (0 when there is none or it
	// cannot be examined); false when there is no such account.
	virtual bool find(const char *login, int *uid, long long *size) = 0;

protected:
	~Mailboxes() = default;
};

struct Verdict {
	bool over = false;
	// The rest is set when the request was judged (over or not).
	bool judged = false;
	std::string_view state;     // protocol_state
	std::string_view recipient; // as the request gave it
	int uid = 0;
	long long mailbox = 0; // bytes
	long long size = 0;    // bytes the message adds
	int limit = 0;         // MailLimit()
};

Verdict judge(const request::Request &req, const Settings &settings, Mailboxes &boxes);

// A size attribute: decimal digits, saturated at the largest long long;
// 0 when empty or not a plain number (the size is then unknown).
long long message_size(std::string_view text);

// a + b for sizes of 0 and up, saturated at the largest long long.
long long saturated_sum(long long a, long long b);

} // namespace judge

#endif
