// SPDX-License-Identifier: ISC
// judge - deciding one policy request or lookup (judge.h).
//
// The local part is looked up as it stands and, when that finds nothing and
// it has capital letters, once more in lower case: both Postfix's local(8)
// and Exim deliver a local part without regard to case, so "Alice" must be
// judged as the mailbox of alice that would receive the message.
#include "judge.h"

#include <algorithm>
#include <climits>
#include <string>

namespace judge {
namespace {

char lower(char c)
{
	return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_domain(std::string_view a, std::string_view b)
{
	if (a.size() != b.size())
		return false;
	for (std::size_t i = 0; i < a.size(); i++)
		if (lower(a[i]) != lower(b[i]))
			return false;
	return true;
}

// An address's local part less its extension, which starts after the
// login, never at its first character.
std::string_view strip_extension(std::string_view local, const Settings &settings)
{
	std::size_t cut = local.find_first_of(settings.delimiters, 1);
	return cut == std::string_view::npos ? local : local.substr(0, cut);
}

// The login a recipient address names, or empty when it is not ours. An
// address without a domain is a local one.
std::string_view local_login(std::string_view recipient, const Settings &settings)
{
	std::string_view local = recipient;
	std::size_t at = recipient.rfind('@');
	if (at != std::string_view::npos) {
		local = recipient.substr(0, at);
		std::string_view domain = recipient.substr(at + 1);
		bool ours = settings.domains.empty();
		for (const std::string &d : settings.domains)
			ours = ours || same_domain(domain, d);
		if (!ours)
			return {};
	}
	return strip_extension(local, settings);
}

const passwd *find_account(std::string_view login, Mailboxes &boxes)
{
	std::string name(login);
	if (const passwd *pw = boxes.find(name.c_str()))
		return pw;
	bool folded = false;
	for (char &c : name) {
		folded = folded || lower(c) != c;
		c = lower(c);
	}
	return folded ? boxes.find(name.c_str()) : nullptr;
}

// Judges login's mailbox with incoming more bytes, when login is an account.
Verdict judge_login(std::string_view login, std::string_view state, std::string_view recipient,
                    long long incoming, Mailboxes &boxes)
{
	Verdict v;
	const passwd *pw = login.empty() ? nullptr : find_account(login, boxes);
	if (pw == nullptr)
		return v;
	v.judged = true;
	v.state = state;
	v.recipient = recipient;
	v.login = pw->pw_name;
	v.box = verdict::judge(*pw, incoming, verdict::Look::owned);
	v.over = v.box.over;
	return v;
}

} // namespace

long long message_size(std::string_view text)
{
	if (text.empty())
		return 0;
	long long value = 0;
	for (char c : text) {
		if (c < '0' || c > '9')
			return 0;
		int digit = c - '0';
		value = value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : value * 10 + digit;
	}
	return value;
}

Verdict judge(const request::Request &req, const Settings &settings, Mailboxes &boxes)
{
	bool rcpt = req.protocol_state == "RCPT";
	bool eom = req.protocol_state == "END-OF-MESSAGE" && req.recipient_count == "1";
	if (!rcpt && !eom)
		return {};
	return judge_login(local_login(req.recipient, settings), req.protocol_state, req.recipient,
	                   message_size(req.size), boxes);
}

Verdict lookup(std::string_view key, const Settings &settings, Mailboxes &boxes)
{
	std::string_view local = key.substr(0, std::min(key.rfind('@'), key.size()));
	return judge_login(strip_extension(local, settings), "LOOKUP", key, 0, boxes);
}

} // namespace judge
