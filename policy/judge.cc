// SPDX-License-Identifier: ISC
// judge - deciding one policy request (judge.h).
//
// The local part is looked up as it stands and, when that finds nothing and
// it has capital letters, once more in lower case: both Postfix's local(8)
// and Exim deliver a local part without regard to case, so "Alice" must be
// judged as the mailbox of alice that would receive the message.
#include "judge.h"

#include <climits>
#include <string>

#include "boxquota.h"
#include "mailbox.h"

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
	// An extension starts after the login, never at its first character.
	std::size_t cut = local.find_first_of(settings.delimiters, 1);
	if (cut != std::string_view::npos)
		local = local.substr(0, cut);
	return local;
}

bool find_account(std::string_view login, Mailboxes &boxes, int *uid, long long *size)
{
	std::string name(login);
	if (boxes.find(name.c_str(), uid, size))
		return true;
	bool folded = false;
	for (char &c : name) {
		folded = folded || lower(c) != c;
		c = lower(c);
	}
	return folded && boxes.find(name.c_str(), uid, size);
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

long long saturated_sum(long long a, long long b)
{
	return b > LLONG_MAX - a ? LLONG_MAX : a + b;
}

Verdict judge(const request::Request &req, const Settings &settings, Mailboxes &boxes)
{
	Verdict v;
	bool rcpt = req.protocol_state == "RCPT";
	bool eom = req.protocol_state == "END-OF-MESSAGE" && req.recipient_count == "1";
	if (!rcpt && !eom)
		return v;
	std::string_view login = local_login(req.recipient, settings);
	if (login.empty() || !find_account(login, boxes, &v.uid, &v.mailbox))
		return v;
	v.judged = true;
	v.state = req.protocol_state;
	v.recipient = req.recipient;
	v.size = message_size(req.size);
	v.over = OverMailLimit(v.uid, mailbox::limit_size(saturated_sum(v.mailbox, v.size))) != 0;
	v.limit = MailLimit();
	return v;
}

} // namespace judge
