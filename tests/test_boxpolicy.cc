// SPDX-License-Identifier: ISC
// Unit tests of boxpolicy's modules: the request and netstring readers
// (requests in, what they hand out or the fault that closes the connection
// out, fed whole and in small pieces), the judge (requests and lookups
// against a table of accounts and a limit file, through the seam of the
// limit module; the accounts have no mailboxes, so the size a request
// announces decides) and the reply and log texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>

#include "answer.h"
#include "boxquota_seam.h"
#include "feed.h"
#include "judge.h"
#include "netstring.h"
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
	std::string_view in = input;
	feed::pieces(r, &in, chunk, [&](request::Reader &reader) {
		request::Request req;
		while (reader.next(&req))
			out += std::string(req.protocol_state) + "|" + std::string(req.recipient) + "|" +
			       std::string(req.recipient_count) + "|" + std::string(req.size) + ";";
	});
	if (r.fault() == request::Fault::none) {
		EXPECT_TRUE(in.empty()) << "no room to read into, and no fault";
		r.end();
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
	ReadCase{"count_not_carried_over",
		rq + "protocol_state=END-OF-MESSAGE\nrecipient_count=1\n\n" + rq +
		"protocol_state=END-OF-MESSAGE\n\n",
		"END-OF-MESSAGE||1|;END-OF-MESSAGE|||;none"},
	ReadCase{"nul_byte", rq + std::string("recipient=a\0b\n\n", 16), "binary"},
	ReadCase{"carriage_return", "request=smtpd_access_policy\r\n\r\n", "binary"},
	ReadCase{"tab_in_size", rq + "size=1\t\n\n", "binary"},
	ReadCase{"del_in_count", rq + "recipient_count=\x7f\n\n", "binary"},
	ReadCase{"control_in_state", rq + "protocol_state=RC\x01PT\n\n", "binary"},
	// Attributes it does not read come from the outside world: their
	// bytes are no reason to refuse the request.
	ReadCase{"control_in_unread_attributes_passes",
		rq + "client_name=a\tb\nccert_subject=\x01\x7f\r\n" +
		std::string("sasl_username=\0\n", 16) + "recipient=x\n\n",
		"|x||;none"},
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

// --- the netstring reader --------------------------------------------------

struct LookupCase {
	const char *name;
	std::string input;
	// One "name|key;" per lookup handed out, then the fault that ended the
	// input ("none" at a clean end).
	std::string expect;
	std::size_t max = 16384;
};

void PrintTo(const LookupCase &c, std::ostream *os)
{
	*os << c.name;
}

const char *fault_name(netstring::Fault f)
{
	using F = netstring::Fault;
	switch (f) {
	case F::none: return "none";
	case F::long_lookup: return "long_lookup";
	case F::binary: return "binary";
	case F::malformed: return "malformed";
	case F::truncated: return "truncated";
	}
	return "?";
}

std::string read_lookups(const std::string &input, std::size_t chunk, std::size_t max)
{
	netstring::Reader r(max);
	std::string out;
	std::string_view in = input;
	feed::pieces(r, &in, chunk, [&](netstring::Reader &reader) {
		netstring::Lookup look;
		while (reader.next(&look))
			out += std::string(look.name) + "|" + std::string(look.key) + ";";
	});
	if (r.fault() == netstring::Fault::none) {
		EXPECT_TRUE(in.empty()) << "no room to read into, and no fault";
		r.end();
	}
	return out + fault_name(r.fault());
}

class Netstrings : public testing::TestWithParam<LookupCase> {};

TEST_P(Netstrings, HandsOutLookupsOrTheFault)
{
	const LookupCase &c = GetParam();
	for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, c.input.size() + 1})
		EXPECT_EQ(read_lookups(c.input, chunk, c.max), c.expect) << "in pieces of " << chunk;
}

INSTANTIATE_TEST_SUITE_P(Socketmap, Netstrings, testing::Values(
	LookupCase{"nothing", "", "none"},
	LookupCase{"two_lookups_one_connection", "12:boxquota bob,26:boxquota alice@example.org,",
		"boxquota|bob;boxquota|alice@example.org;none"},
	LookupCase{"empty_key", "9:boxquota ,", "boxquota|;none"},
	LookupCase{"other_map", "9:aliases x,", "aliases|x;none"},
	LookupCase{"key_keeps_its_spaces", "14:boxquota a b c,", "boxquota|a b c;none"},
	LookupCase{"bytes_above_ascii_pass", "12:boxquota j\xc3\xb6,", "boxquota|j\xc3\xb6;none"},
	LookupCase{"no_colon", "12xboxquota bob,", "malformed"},
	LookupCase{"no_length", ":boxquota bob,", "malformed"},
	LookupCase{"policy_after_netstring", "12:boxquota bob,request=x\n\n",
		"boxquota|bob;malformed"},
	LookupCase{"length_short_of_the_comma", "11:boxquota bob,", "malformed"},
	LookupCase{"length_past_the_end", "13:boxquota bob,", "truncated"},
	LookupCase{"end_inside_length", "12", "truncated"},
	LookupCase{"no_space", "8:boxquota,", "malformed"},
	LookupCase{"empty_name", "4: bob,", "malformed"},
	LookupCase{"empty_netstring", "0:,", "malformed"},
	LookupCase{"tab", "12:boxquota b\tb,", "binary"},
	LookupCase{"nul", std::string("12:boxquota b\0b,", 16), "binary"},
	LookupCase{"del", "12:boxquota b\x7f" "b,", "binary"},
	LookupCase{"at_limit", "16:boxquota abcdefg,", "boxquota|abcdefg;none", 16},
	LookupCase{"over_limit_at_its_length", "17:", "long_lookup", 16},
	LookupCase{"endless_zeros", std::string(40, '0'), "long_lookup", 16},
	LookupCase{"endless_digits", std::string(40, '9'), "long_lookup"},
	// Lookups of nearly the limit each pass through one buffer in turn.
	LookupCase{"lookups_fill_the_buffer_in_turn",
		"16:boxquota abcdefg,16:boxquota hijklmn,10:boxquota o,",
		"boxquota|abcdefg;boxquota|hijklmn;boxquota|o;none", 16}
));

// --- the judge -----------------------------------------------------------

// The accounts' mailboxes are looked for under a folder that does not
// exist, so each counts as absent (size 0); but that of "long", whose
// name is too long for a path, cannot be examined at all.
class Table final : public judge::Mailboxes {
public:
	std::map<std::string, int> uids{
	    {"alice", 1001}, {"bob", 1002}, {"carol", 999}, // below the limited uids
	    {"Zed", 1005},                                  // a capital in the name
	    {"zoe", 1006},  {"long", 1007},
	};
	const passwd *find(const char *login) override
	{
		asked += std::string(login) + ",";
		auto it = uids.find(login);
		if (it == uids.end())
			return nullptr;
		name_ = it->first == "long" ? std::string(2000, 'l')
		                            : "boxpolicy-test.nosuch/" + it->first;
		pw_ = {};
		pw_.pw_name = name_.data();
		pw_.pw_uid = static_cast<uid_t>(it->second);
		return &pw_;
	}
	std::string asked;

private:
	std::string name_;
	passwd pw_ = {};
};

struct JudgeCase {
	const char *name;
	// A policy request's attributes; state "LOOKUP": recipient is a
	// socketmap lookup's key.
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

judge::Verdict decide(const JudgeCase &c, Table &table)
{
	judge::Settings settings;
	if (c.domains)
		settings.domains = {"example.org", "mail.example.org"};
	settings.delimiters = c.delimiters;
	if (std::string_view(c.state) == "LOOKUP")
		return judge::lookup(c.recipient, settings, table);
	request::Request req{c.state, c.recipient, c.count, c.size};
	return judge::judge(req, settings, table);
}

TEST_P(Judging, Decides)
{
	const JudgeCase &c = GetParam();
	Table table;
	judge::Verdict v = decide(c, table);
	std::string got = v.over ? "over" : v.judged ? "within" : "-";
	EXPECT_EQ(got, c.expect);
	if (c.asked != nullptr) {
		EXPECT_EQ(table.asked, c.asked);
	}
	if (v.judged) {
		EXPECT_EQ(v.recipient, c.recipient);
		EXPECT_EQ(v.box.limit.max_size, 500000);
	}
}

INSTANTIATE_TEST_SUITE_P(Policy, Judging, testing::Values(
	JudgeCase{"within_at_rcpt", "RCPT", "alice@example.org", "0", "", "within"},
	JudgeCase{"size_up_to_the_limit", "RCPT", "alice@example.org", "0", "500000", "within"},
	JudgeCase{"size_past_the_limit", "RCPT", "bob@example.org", "0", "500001", "over"},
	JudgeCase{"size_beyond_64_bits_saturates", "RCPT", "bob", "0",
		"99999999999999999999999", "over"},
	JudgeCase{"size_just_past_64_bits_saturates", "RCPT", "bob", "0",
		"9223372036854775808", "over"},
	JudgeCase{"size_largest_64_bits", "RCPT", "bob", "0", "9223372036854775807", "over"},
	JudgeCase{"size_not_a_number_is_unknown", "RCPT", "alice", "0", "500001x", "within"},
	JudgeCase{"below_limited_uids", "RCPT", "carol@example.org", "0", "900000", "within"},
	JudgeCase{"no_account", "RCPT", "nosuch@example.org", "0", "", "-", "nosuch,"},
	JudgeCase{"extension_stripped", "RCPT", "bob+lists@example.org", "0", "500001", "over",
		"bob,", false, "+-"},
	JudgeCase{"any_delimiter_char", "RCPT", "bob-lists@example.org", "0", "", "within",
		"bob,", false, "+-"},
	JudgeCase{"extension_kept_without_option", "RCPT", "bob+lists@example.org", "0", "", "-",
		"bob+lists,"},
	JudgeCase{"delimiter_first_is_no_extension", "RCPT", "+bob@example.org", "0", "", "-",
		"+bob,", false, "+"},
	JudgeCase{"exact_name_first", "RCPT", "Zed@example.org", "0", "", "within", "Zed,"},
	JudgeCase{"capitals_fold_when_not_found", "RCPT", "BoB@EXAMPLE.org", "0", "500001", "over",
		"BoB,bob,", true},
	JudgeCase{"capital_z_folds", "RCPT", "ZOE", "0", "", "within", "ZOE,zoe,"},
	JudgeCase{"local_domain", "RCPT", "bob@Mail.Example.ORG", "0", "", "within", nullptr, true},
	JudgeCase{"other_domain", "RCPT", "bob@example.com", "0", "", "-", "", true},
	JudgeCase{"subdomain_is_other", "RCPT", "bob@x.example.org", "0", "", "-", "", true},
	JudgeCase{"no_domain_is_local", "RCPT", "bob", "0", "", "within", nullptr, true},
	JudgeCase{"last_at_splits", "RCPT", "\"x@y\"@example.com", "0", "", "-", "", true},
	JudgeCase{"last_at_splits_ours", "RCPT", "bob@x@example.org", "0", "", "-", "bob@x,", true},
	JudgeCase{"empty_recipient", "RCPT", "", "0", "", "-", ""},
	JudgeCase{"end_of_message_one", "END-OF-MESSAGE", "alice@example.org", "1", "500001",
		"over"},
	JudgeCase{"end_of_message_one_within", "END-OF-MESSAGE", "alice", "1", "500000", "within"},
	JudgeCase{"end_of_message_several", "END-OF-MESSAGE", "alice", "2", "500001", "-", ""},
	JudgeCase{"end_of_message_count_zero", "END-OF-MESSAGE", "alice", "0", "500001", "-", ""},
	JudgeCase{"end_of_message_count_missing", "END-OF-MESSAGE", "bob", "", "1", "-", ""},
	JudgeCase{"data_state", "DATA", "bob", "1", "1", "-", ""},
	JudgeCase{"mail_state", "MAIL", "bob", "0", "1", "-", ""},
	JudgeCase{"state_case_matters", "rcpt", "bob", "0", "1", "-", ""},
	// Lookups: the key is a login or an address already taken as local.
	JudgeCase{"lookup_login", "LOOKUP", "bob", "", "", "within", "bob,"},
	JudgeCase{"lookup_any_domain", "LOOKUP", "bob@example.com", "", "", "within", "bob,", true},
	JudgeCase{"lookup_last_at_splits", "LOOKUP", "bob@x@example.org", "", "", "-", "bob@x,"},
	JudgeCase{"lookup_extension", "LOOKUP", "bob+x@example.org", "", "", "within", "bob,",
		false, "+"},
	JudgeCase{"lookup_capitals_fold", "LOOKUP", "BoZ", "", "", "-", "BoZ,boz,"},
	JudgeCase{"lookup_no_account", "LOOKUP", "nosuch", "", "", "-", "nosuch,"},
	JudgeCase{"lookup_empty_key", "LOOKUP", "", "", "", "-", ""},
	JudgeCase{"lookup_below_limited_uids", "LOOKUP", "carol", "", "", "within"}
));

// A mailbox that cannot be examined (here: a name too long for a path)
// counts as empty; the answer stays, and the cause is logged once.
TEST_F(Judging, UnexaminableMailboxCountsAsEmpty)
{
	Table table;
	judge::Verdict v = decide({"blind", "RCPT", "long", "0", "500000", "within"}, table);
	EXPECT_TRUE(v.judged);
	EXPECT_FALSE(v.over);
	EXPECT_TRUE(verdict::blind(v.box));
	EXPECT_EQ(v.box.size, 0);
	EXPECT_EQ(answer::action(v, false), "action=DUNNO\n\n");
	EXPECT_EQ(answer::blind(v).substr(0, 35), "warning: cannot examine /var/mail/l");
	EXPECT_NE(answer::blind(v).find("lll...: File name too long; it counts as empty"),
	          std::string::npos)
	    << answer::blind(v);
	v = decide({"absent", "RCPT", "alice", "0", "", "within"}, table);
	EXPECT_FALSE(verdict::blind(v.box));
}

TEST(Answer, BlindCausesOncePerProcess)
{
	EXPECT_TRUE(answer::first_of_cause(EACCES));
	EXPECT_FALSE(answer::first_of_cause(EACCES));
	EXPECT_TRUE(answer::first_of_cause(ELOOP));
	EXPECT_FALSE(answer::first_of_cause(ELOOP));
	EXPECT_FALSE(answer::first_of_cause(EACCES));
}

// --- the replies -----------------------------------------------------------

judge::Verdict refused(std::string_view state, std::string_view recipient)
{
	judge::Verdict v;
	v.over = v.judged = true;
	v.state = state;
	v.recipient = recipient;
	v.box.uid = 1002;
	v.box.size = 600000;
	v.box.incoming = 1000;
	v.box.limit = {1000, 500000};
	return v;
}

TEST(Answer, TextsTheClientsParse)
{
	judge::Verdict v;
	EXPECT_EQ(answer::action(v, false), "action=DUNNO\n\n");
	EXPECT_EQ(answer::lookup(v, false), "9:NOTFOUND ,");
	EXPECT_EQ(answer::lookup(v, true), "9:NOTFOUND ,");
	v = refused("RCPT", "bob+x@example.org");
	EXPECT_EQ(answer::action(v, false),
	          "action=552 5.2.2 Mailbox of <bob+x@example.org> is full\n\n");
	EXPECT_EQ(answer::action(v, true),
	          "action=452 4.2.2 Mailbox of <bob+x@example.org> is full\n\n");
	EXPECT_EQ(answer::refusal(v, false),
	          "reject: RCPT recipient=<bob+x@example.org> uid=1002 mailbox=600000 size=1000 "
	          "limit=500000: 552 5.2.2 Mailbox of <bob+x@example.org> is full");
	EXPECT_EQ(answer::refusal(v, true),
	          "reject: RCPT recipient=<bob+x@example.org> uid=1002 mailbox=600000 size=1000 "
	          "limit=500000: 452 4.2.2 Mailbox of <bob+x@example.org> is full");
	v = refused("LOOKUP", "bob");
	v.box.incoming = 0;
	EXPECT_EQ(answer::lookup(v, false), "39:OK error:5.2.2 Mailbox of <bob> is full,");
	EXPECT_EQ(answer::lookup(v, true), "39:OK retry:4.2.2 Mailbox of <bob> is full,");
	EXPECT_EQ(answer::refusal(v, true),
	          "reject: LOOKUP recipient=<bob> uid=1002 mailbox=600000 size=0 "
	          "limit=500000: retry:4.2.2 Mailbox of <bob> is full");
	EXPECT_EQ(answer::fault(request::Fault::long_line, request::Limits{}),
	          "warning: closing the connection without an answer: line longer than the "
	          "limit (16384 bytes)");
	EXPECT_EQ(answer::fault(netstring::Fault::long_lookup, request::Limits{}),
	          "warning: closing the connection without an answer: netstring longer than the "
	          "limit (16384 bytes)");
}

// What is echoed of a recipient is at most 256 bytes.
TEST(Answer, LongRecipientEchoedCut)
{
	std::string at_cap(256, 'r'), past(257, 'r');
	judge::Verdict v = refused("RCPT", at_cap);
	EXPECT_EQ(answer::action(v, false),
	          "action=552 5.2.2 Mailbox of <" + at_cap + "> is full\n\n");
	v = refused("RCPT", past);
	std::string cut = std::string(253, 'r') + "...";
	EXPECT_EQ(answer::action(v, false), "action=552 5.2.2 Mailbox of <" + cut + "> is full\n\n");
	EXPECT_EQ(answer::refusal(v, false).find(past), std::string::npos);
	EXPECT_NE(answer::refusal(v, false).find("recipient=<" + cut + "> uid="), std::string::npos);
	v = refused("LOOKUP", past);
	EXPECT_EQ(answer::lookup(v, false),
	          netstring::encode("OK error:5.2.2 Mailbox of <" + cut + "> is full"));
}

} // namespace
