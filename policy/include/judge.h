// SPDX-License-Identifier: ISC
// judge.h - whether a policy request, or a lookup from local delivery,
// meets a system mailbox over the site's limit.
//
// A policy request: only a recipient at one of the local domains (any
// domain when none are given) whose local part, less its address
// extension, is an account is judged: at RCPT with the size the client
// announced (0 when unknown), at END-OF-MESSAGE with the real size when the
// message has exactly one recipient. Everything else is left to the mail
// server (not over).
//
// A lookup (the socketmap map boxquota): the key is a recipient as local
// delivery names it, a login or a whole address, already accepted as local
// by the mail server, so its domain is not looked at; its local part, less
// its extension, is judged as it stands (no message is added): over when
// the mailbox is over the limit already.
//
// The accounts come from a Mailboxes the caller provides; the mailbox is
// measured and judged by verdict::judge (spool/verdict.h), with the
// message size as the incoming bytes, counted only when it is a regular
// file of its account (verdict::Look::owned): a file or link another user
// planted in the spool leaves the mail to the server. Single-threaded. Prints and logs
// nothing.
#ifndef POLICY_JUDGE_H
#define POLICY_JUDGE_H

#include <pwd.h>

#include <string>
#include <string_view>
#include <vector>

#include "request.h"
#include "verdict.h"

namespace judge {

struct Settings {
	std::vector<std::string> domains; // lower case; empty: every domain
	std::string delimiters;           // an extension starts at any of these
};

// Where accounts are found.
class Mailboxes {
public:
	// The account with exactly this login name, or null when there is
	// none. The record is the callee's and stays valid until the next call.
	virtual const passwd *find(const char *login) = 0;

protected:
	~Mailboxes() = default;
};

struct Verdict {
	bool over = false;
	// The rest is set when the request was judged (over or not).
	bool judged = false;
	std::string_view state;     // protocol_state; "LOOKUP" for a lookup
	std::string_view recipient; // as the request or the key gave it
	std::string login;          // the account whose mailbox was judged
	verdict::Verdict box;       // the mailbox's size, the message's, the limit
};

Verdict judge(const request::Request &req, const Settings &settings, Mailboxes &boxes);

// The verdict on a lookup key.
Verdict lookup(std::string_view key, const Settings &settings, Mailboxes &boxes);

// A size attribute: decimal digits, saturated at the largest long long;
// 0 when empty or not a plain number (the size is then unknown).
long long message_size(std::string_view text);

} // namespace judge

#endif
