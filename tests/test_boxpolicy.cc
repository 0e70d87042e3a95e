// SPDX-License-Identifier: ISC
// Unit tests of boxpolicy's modules: the request reader (requests in, what
// it hands out or the fault that closes the connection out, fed whole and
// in small pieces), the judge (requests against a table of accounts and a
// limit file, through the seam of the limit module) and the reply texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>

#include "answer.h"
#include "boxquota_seam.h"
#include "judge.h"
#include "request.h"

namespace {

// --- the reader ----------------------------------------------------------

struct ReadCase {
	const char *name;
	std::string input;
	// One "state|recipient|count|size;" per request handed out, then the
	// fault that ended the input ("none" at a clean end).
	std::string expect;
	request::Limits limits = {};
};

void PrintTo(const ReadCase &c, std::ostream *os)
{
	*os << c.name;
}

const char *fault_name(request::Fault f)
{
	using F = request::Fault;
	switch (f) {
	case F::none: return "none";
	case F::long_line: return "long_line";
	case F::long_request: return "long_request";
	case F::many_attributes: return "many_attributes";
	case F::binary: return "binary";
	case F::malformed: return "malformed";
	case F::no_request: return "no_request";
	case F::unknown_request: return "unknown_request";
	case F::truncated: return "truncated";
	}
	return "?";
}

// Feeds input in pieces of at most chunk bytes, as reads would bring it.
std::string read_all(const std::string &input, std::size_t chunk, const request::Limits &limits)
{
	request::Reader r(limits);
	std::string out;
	std::size_t at = 0;
	for (;;) {
		request::Request req;
		while (r.next(&req))
			out += std::string(req.protocol_state) + "|" + std::string(req.recipient) + "|" +
			       std::string(req.recipient_count) + "|" + std::string(req.size) + ";";
		if (r.fault() != request::Fault::none)
			break;
		if (at == input.size()) {
			r.end();
			break;
		}
		std::span<char> space = r.space();
		EXPECT_FALSE(space.empty());
		std::size_t n = std::min({chunk, space.size(), input.size() - at});
		input.copy(space.data(), n, at);
		r.filled(n);
		at += n;
	}
	return out + fault_name(r.fault());
}

class Reading : public testing::TestWithParam<ReadCase> {};

TEST_P(Reading, HandsOutRequestsOrTheFault)
{
	const ReadCase &c = GetParam();
	for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, c.input.size() + 1})
		EXPECT_EQ(read_all(c.input, chunk, c.limits), c.expect) << "in pieces of " << chunk;
}

const std::string rq = "request=smtpd_access_policy\n";
const request::Limits small{32, 96, 4};

INSTANTIATE_TEST_SUITE_P(Policy, Reading, testing::Values(
	ReadCase{"nothing", "", "none"},
	ReadCase{"two_requests_one_connection",
		rq + "protocol_state=RCPT\nrecipient=a@b\nsize=10\nclient_name=x=y\n\n" +
		rq + "protocol_state=END-OF-MESSAGE\nrecipient_count=1\n\n",
		"RCPT|a@b||10;END-OF-MESSAGE||1|;none"},
	ReadCase{"repeated_name_last_counts", rq + "recipient=a\nrecipient=b\n\n", "|b||;none"},
	ReadCase{"value_may_be_empty_or_hold_equals", rq + "recipient=\nsize==5\n\n", "|||=5;none"},
	ReadCase{"bytes_above_ascii_pass", rq + "recipient=j\xc3\xb6rg@b\n\n", "|j\xc3\xb6rg@b||;none"},
	ReadCase{"end_inside_request", rq + "recipient=a", "truncated"},
	ReadCase{"end_after_last_attribute", rq, "truncated"},
	ReadCase{"answered_then_truncated", rq + "\n" + rq, "|||;truncated"},
	ReadCase{"no_request_attribute", "protocol_state=RCPT\n\n", "no_request"},
	ReadCase{"empty_line_alone", "\n", "no_request"},
	ReadCase{"unknown_request", "request=junk\n\n", "unknown_request"},
	ReadCase{"line_without_equals", rq + "recipient\n\n", "malformed"},
	ReadCase{"line_without_name", rq + "=x\n\n", "malformed"},
	ReadCase{"nul_byte", rq + std::string("recipient=a\0b\n\n", 16), "binary"},
	ReadCase{"carriage_return", "request=smtpd_access_policy\r\n\r\n", "binary"},
	ReadCase{"tab_and_del", rq + "a=\t\n\n", "binary"},
	ReadCase{"del", rq + "a=\x7f\n\n", "binary"},
	ReadCase{"line_at_limit", "request=smtpd_access_policy\nx=" + std::string(30, 'v') + "\n\n",
		"|||;none", small},
	ReadCase{"line_over_limit", rq + "x=" + std::string(31, 'v') + "\n\n", "long_line", small},
	ReadCase{"endless_line", "x=" + std::string(5000, 'v'), "long_line", small},
	ReadCase{"attributes_at_limit", rq + "a=1\nb=2\nc=3\n\n", "|||;none", small},
	ReadCase{"attributes_over_limit", rq + "a=1\nb=2\nc=3\nd=4\n\n", "many_attributes", small},
	ReadCase{"request_at_limit", rq + "a=" + std::string(30, 'v') + "\nb=" +
		std::string(28, 'v') + "\nc=\n\n", "|||;none", small},
	ReadCase{"request_over_limit", rq + "a=" + std::string(30, 'v') + "\nb=" +
		std::string(29, 'v') + "\nc=\n\n", "long_request", small},
	// A request may start anywhere in the buffer: many requests of
	// nearly the limit each pass through one buffer of that size.
	ReadCase{"requests_fill_the_buffer_in_turn",
		rq + "recipient=" + std::string(22, 'r') + "\n\n" + rq + "recipient=" +
		std::string(22, 's') + "\n\n" + rq + "recipient=t\n\n",
		"|" + std::string(22, 'r') + "||;|" + std::string(22, 's') + "||;|t||;none", small},
	ReadCase{"default_line_limit", rq + "x=" + std::string(16382, 'v') + "\n\n" + rq +
		"x=" + std::string(16383, 'v') + "\n\n", "|||;long_line"}
));

// --- the judge -----------------------------------------------------------

struct Box {
	int uid;
	long long size;
};

class Table final : public judge::Mailboxes {
public:
	std::map<std::string, Box> boxes{
	    {"alice", {1001, 400000}},                  // within, 100000 to spare
	    {"bob", {1002, 600000}},                    // over
	    {"carol", {999, 900000}},                   // below the limited uids
	    {"dave", {1003, 1LL << 40}},                // far over any 32-bit size
	    {"erin", {1004, 0}},                        // empty
	    {"Zed", {1005, 600000}},                    // a capital in the name
	};
	bool find(const char *login, int *uid, long long *size) override
	{
		asked += std::string(login) + ",";
		auto it = boxes.find(login);
		if (it == boxes.end())
			return false;
		*uid = it->second.uid;
		*size = it->second.size;
		return true;
	}
	std::string asked;
};

struct JudgeCase {
	const char *name;
	const char *state, *recipient, *count, *size;
	// "over", "within" (judged, not over) or "-" (not judged: DUNNO)
	const char *expect;
	const char *asked = nullptr; // the logins looked up, when it matters
	bool domains = false;        // local domains example.org, mail.example.org
	const char *delimiters = "";
};

void PrintTo(const JudgeCase &c, std::ostream *os)
{
	*os << c.name;
}

class Judging : public testing::TestWithParam<JudgeCase> {
protected:
	static void SetUpTestSuite()
	{
		char name[] = "/tmp/boxpolicy-test-XXXXXX";
		int fd = mkstemp(name);
		ASSERT_GE(fd, 0);
		const char limit[] = "# test\n1000\n500000\n";
		ASSERT_EQ(write(fd, limit, sizeof limit - 1), static_cast<ssize_t>(sizeof limit - 1));
		close(fd);
		path_ = name;
		BoxquotaTestReset(path_.c_str());
	}
	static void TearDownTestSuite() { unlink(path_.c_str()); }
	static std::string path_;
};
std::string Judging::path_;

TEST_P(Judging, Decides)
{
	const JudgeCase &c = GetParam();
	judge::Settings settings;
	if (c.domains)
		settings.domains = {"example.org", "mail.example.org"};
	settings.delimiters = c.delimiters;
	Table table;
	request::Request req{c.state, c.recipient, c.count, c.size};
	judge::Verdict v = judge::judge(req, settings, table);
	std::string got = v.over ? "over" : v.judged ? "within" : "-";
	EXPECT_EQ(got, c.expect);
	if (c.asked != nullptr) {
		EXPECT_EQ(table.asked, c.asked);
	}
	if (v.judged) {
		EXPECT_EQ(v.recipient, c.recipient);
		EXPECT_EQ(v.limit, 500000);
	}
}

INSTANTIATE_TEST_SUITE_P(Policy, Judging, testing::Values(
	JudgeCase{"over_at_rcpt", "RCPT", "bob@example.org", "0", "", "over"},
	JudgeCase{"within_at_rcpt", "RCPT", "alice@example.org", "0", "", "within"},
	JudgeCase{"size_up_to_the_limit", "RCPT", "alice@example.org", "0", "100000", "within"},
	JudgeCase{"size_past_the_limit", "RCPT", "alice@example.org", "0", "100001", "over"},
	JudgeCase{"size_beyond_64_bits_saturates", "RCPT", "erin", "0",
		"99999999999999999999999", "over"},
	JudgeCase{"sum_saturates_not_wraps", "RCPT", "dave", "0", "9223372036854775807", "over"},
	JudgeCase{"size_not_a_number_is_unknown", "RCPT", "alice", "0", "100001x", "within"},
	JudgeCase{"below_limited_uids", "RCPT", "carol@example.org", "0", "", "within"},
	JudgeCase{"no_account", "RCPT", "nosuch@example.org", "0", "", "-", "nosuch,"},
	JudgeCase{"extension_stripped", "RCPT", "bob+lists@example.org", "0", "", "over",
		"bob,", false, "+-"},
	JudgeCase{"any_delimiter_char", "RCPT", "bob-lists@example.org", "0", "", "over",
		"bob,", false, "+-"},
	JudgeCase{"extension_kept_without_option", "RCPT", "bob+lists@example.org", "0", "", "-",
		"bob+lists,"},
	JudgeCase{"delimiter_first_is_no_extension", "RCPT", "+bob@example.org", "0", "", "-",
		"+bob,", false, "+"},
	JudgeCase{"exact_name_first", "RCPT", "Zed@example.org", "0", "", "over", "Zed,"},
	JudgeCase{"capitals_fold_when_not_found", "RCPT", "BoB@EXAMPLE.org", "0", "", "over",
		"BoB,bob,", true},
	JudgeCase{"local_domain", "RCPT", "bob@Mail.Example.ORG", "0", "", "over", nullptr, true},
	JudgeCase{"other_domain", "RCPT", "bob@example.com", "0", "", "-", "", true},
	JudgeCase{"subdomain_is_other", "RCPT", "bob@x.example.org", "0", "", "-", "", true},
	JudgeCase{"no_domain_is_local", "RCPT", "bob", "0", "", "over", nullptr, true},
	JudgeCase{"last_at_splits", "RCPT", "\"x@y\"@example.com", "0", "", "-", "", true},
	JudgeCase{"empty_recipient", "RCPT", "", "0", "", "-", ""},
	JudgeCase{"end_of_message_one", "END-OF-MESSAGE", "alice@example.org", "1", "100001",
		"over"},
	JudgeCase{"end_of_message_one_within", "END-OF-MESSAGE", "alice", "1", "100000", "within"},
	JudgeCase{"end_of_message_several", "END-OF-MESSAGE", "", "2", "100001", "-", ""},
	JudgeCase{"end_of_message_count_missing", "END-OF-MESSAGE", "bob", "", "1", "-", ""},
	JudgeCase{"data_state", "DATA", "bob", "1", "1", "-", ""},
	JudgeCase{"mail_state", "MAIL", "bob", "0", "1", "-", ""},
	JudgeCase{"state_case_matters", "rcpt", "bob", "0", "1", "-", ""}
));

// --- the replies -----------------------------------------------------------

TEST(Answer, TextsTheClientsParse)
{
	judge::Verdict v;
	EXPECT_EQ(answer::action(v, false), "action=DUNNO\n\n");
	v = {true, true, "RCPT", "bob+x@example.org", 1002, 600000, 1000, 500000};
	EXPECT_EQ(answer::action(v, false),
	          "action=552 5.2.2 Mailbox of <bob+x@example.org> is full\n\n");
	EXPECT_EQ(answer::action(v, true),
	          "action=452 4.2.2 Mailbox of <bob+x@example.org> is full\n\n");
	EXPECT_EQ(answer::refusal(v, false),
	          "reject: RCPT recipient=<bob+x@example.org> uid=1002 mailbox=600000 size=1000 "
	          "limit=500000: 552 5.2.2 Mailbox of <bob+x@example.org> is full");
	EXPECT_EQ(answer::fault(request::Fault::long_line, request::Limits{}),
	          "warning: closing the connection without an answer: line longer than the "
	          "limit (16384 bytes)");
}

} // namespace
