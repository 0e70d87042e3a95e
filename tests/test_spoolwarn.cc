// SPDX-License-Identifier: ISC
// Unit tests of spoolwarn's modules: the warning and re-arm rule, the state
// file's and the journal's text, the letter, the command line, and running
// sendmail (its verdict and its deadline).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "argv.h"
#include "cmdline.h"
#include "letter.h"
#include "mailname.h"
#include "state.h"
#include "submit.h"
#include "thresholds.h"

namespace {

using V = std::vector<int>;

// --- thresholds -------------------------------------------------------------

struct StepCase {
	const char *what;
	V thresholds, marked;
	long long size;
	int limit;
	bool over;
	V marks;    // after the letter, if any
	int letter; // 0: none
	V unsent;   // should the letter fail
};

class Step : public testing::TestWithParam<StepCase> {};

TEST_P(Step, Rule)
{
	const StepCase &c = GetParam();
	thresholds::Step s = thresholds::step(c.thresholds, c.marked, c.size, c.limit, c.over);
	EXPECT_EQ(s.marks, c.marks) << c.what;
	EXPECT_EQ(s.letter, c.letter) << c.what;
	EXPECT_EQ(s.unsent, c.unsent) << c.what;
}

// Limit 1000 bytes throughout, unless said otherwise.
INSTANTIATE_TEST_SUITE_P(Thresholds, Step, testing::Values(
	StepCase{"below, nothing marked", {90}, {}, 899, 1000, false, {}, 0, {}},
	StepCase{"crossing: exactly at the threshold", {90}, {}, 900, 1000, false, {90}, 90, {}},
	StepCase{"staying above: no second letter", {90}, {90}, 950, 1000, false, {90}, 0, {90}},
	StepCase{"falling, within the hysteresis: still marked", {90}, {90}, 850, 1000, false,
	         {90}, 0, {90}},
	StepCase{"falling past it: re-armed", {90}, {90}, 849, 1000, false, {}, 0, {}},
	StepCase{"re-crossing after re-arming", {90}, {}, 901, 1000, false, {90}, 90, {}},
	StepCase{"several: the lower one crossed", {80, 95}, {}, 800, 1000, false, {80}, 80, {}},
	StepCase{"several: the higher one after the lower", {80, 95}, {80}, 960, 1000, false,
	         {80, 95}, 95, {80}},
	StepCase{"several at once: one letter, the highest", {80, 95}, {}, 990, 1000, false,
	         {80, 95}, 95, {}},
	StepCase{"several: falling re-arms only the higher", {80, 95}, {80, 95}, 880, 1000, false,
	         {80}, 0, {80}},
	StepCase{"first run, far above: warns once", {50, 90}, {}, 1000, 1000, false, {50, 90},
	         90, {}},
	StepCase{"over the limit: recorded, no letter", {90}, {}, 1001, 1000, true, {90}, 0, {}},
	StepCase{"over, already recorded: nothing", {90}, {90}, 5000, 1000, true, {90}, 0, {90}},
	StepCase{"over, then back below: still marked", {90}, {90}, 900, 1000, false, {90}, 0,
	         {90}},
	StepCase{"a negative limit: every size over", {90}, {}, 0, -1, true, {90}, 0, {}},
	StepCase{"marks of thresholds no longer given drop", {80}, {90}, 850, 1000, false, {80},
	         80, {}},
	StepCase{"a huge size does not wrap", {90}, {}, 0x7fffffffffffffffLL, 1000, true, {90}, 0,
	         {}},
	StepCase{"largest limit, just below 90%", {90}, {}, 1932735282, 2147483647, false, {}, 0,
	         {}},
	StepCase{"largest limit, at 90%", {90}, {}, 1932735283, 2147483647, false, {90}, 90, {}}),
	[](const auto &p) { return "case" + std::to_string(p.index); });

TEST(Thresholds, PercentAndToDelete)
{
	EXPECT_EQ(thresholds::percent(905, 1000), 90);
	EXPECT_EQ(thresholds::percent(999, 1000), 99);
	EXPECT_EQ(thresholds::percent(5, 0), 0);
	// Below 90% of 1000 is 899 bytes or less: 950 - 899.
	EXPECT_EQ(thresholds::to_delete(950, 1000, 90), 51);
	EXPECT_EQ(thresholds::to_delete(900, 1000, 90), 1);
	EXPECT_EQ(thresholds::to_delete(899, 1000, 90), 0);
	// 90% of 1001 is 900.9: 900 is below it, 901 is not.
	EXPECT_EQ(thresholds::to_delete(901, 1001, 90), 1);
	EXPECT_EQ(thresholds::step(V{90}, V{}, 900, 1001, false).letter, 0);
	EXPECT_EQ(thresholds::step(V{90}, V{}, 901, 1001, false).letter, 90);
}

// --- state --------------------------------------------------------------------

TEST(State, RoundTrip)
{
	state::Marks m{{"alice", {90}}, {"bob", {80, 95}}, {"o'dd name", {1, 100}}, {"gone", {}}};
	std::string text = state::format(m);
	EXPECT_EQ(text, "# spoolwarn state 1\n90 alice\n80,95 bob\n1,100 o'dd name\n");
	state::Marks back;
	ASSERT_TRUE(state::parse(text, &back));
	m.erase("gone");
	EXPECT_EQ(back, m);
}

TEST(State, Damaged)
{
	const char *bad[] = {
	    "",
	    "# spoolwarn state 2\n",
	    "90 alice\n",
	    "# spoolwarn state 1\n90 alice",          // cut short
	    "# spoolwarn state 1\n90alice\n",         // no blank
	    "# spoolwarn state 1\n90 \n",             // no login
	    "# spoolwarn state 1\n0 alice\n",         // out of range
	    "# spoolwarn state 1\n101 alice\n",
	    "# spoolwarn state 1\n95,80 alice\n",     // not rising
	    "# spoolwarn state 1\n80,,95 alice\n",
	    "# spoolwarn state 1\n80, alice\n",
	    "# spoolwarn state 1\n 80 alice\n",
	    "# spoolwarn state 1\n90 alice\n80 alice\n", // a login twice
	    "# spoolwarn state 1\n\n",
	};
	for (const char *text : bad) {
		state::Marks m{{"left", {1}}};
		EXPECT_FALSE(state::parse(text, &m)) << text;
	}
	state::Marks m;
	EXPECT_TRUE(state::parse("# spoolwarn state 1\n", &m));
	EXPECT_TRUE(m.empty());
}

struct ReplayCase {
	const char *what;
	const char *text;
	bool ok;
	state::Marks marks; // from {alice: 90, bob: 80,95}
	std::vector<std::string> pending = {}; // letters being handed over
};

class Replay : public testing::TestWithParam<ReplayCase> {};

TEST_P(Replay, Journal)
{
	const ReplayCase &c = GetParam();
	state::Marks m{{"alice", {90}}, {"bob", {80, 95}}};
	std::vector<std::string> pending;
	EXPECT_EQ(state::replay(c.text, &m, &pending), c.ok) << c.what;
	if (c.ok) {
		EXPECT_EQ(m, c.marks) << c.what;
		EXPECT_EQ(pending, c.pending) << c.what;
	}
}

#define J "# spoolwarn journal 1\n"
INSTANTIATE_TEST_SUITE_P(State, Replay, testing::Values(
	ReplayCase{"empty: made, nothing synced yet", "", true, {{"alice", {90}}, {"bob", {80, 95}}}},
	ReplayCase{"its header cut short", "# spoolwarn jou", true,
	           {{"alice", {90}}, {"bob", {80, 95}}}},
	ReplayCase{"a record alone: being handed over", J "90 carol\n", true,
	           {{"alice", {90}}, {"bob", {80, 95}}, {"carol", {90}}}, {"carol"}},
	ReplayCase{"a record written again: the hand-over ended", J "90 carol\n90 carol\n", true,
	           {{"alice", {90}}, {"bob", {80, 95}}, {"carol", {90}}}},
	ReplayCase{"a record taken back", J "90 carol\n- carol\n", true,
	           {{"alice", {90}}, {"bob", {80, 95}}}},
	ReplayCase{"taken back to fewer marks", J "80,95 alice\n80 alice\n", true,
	           {{"alice", {80}}, {"bob", {80, 95}}}},
	ReplayCase{"marks dropped", J "- bob\n", true, {{"alice", {90}}}},
	ReplayCase{"the last record cut short is ignored", J "90 carol\n- car", true,
	           {{"alice", {90}}, {"bob", {80, 95}}, {"carol", {90}}}, {"carol"}},
	ReplayCase{"another header", "# spoolwarn journal 2\n90 carol\n", false, {}},
	ReplayCase{"a state file", "# spoolwarn state 1\n90 carol\n", false, {}},
	ReplayCase{"a bad line before the end", J "9x carol\n90 dave\n", false, {}},
	ReplayCase{"no login", J "90 \n", false, {}},
	ReplayCase{"an empty line", J "\n", false, {}}),
	[](const auto &p) { return "case" + std::to_string(p.index); });
#undef J

TEST(State, JournalLine)
{
	EXPECT_EQ(state::journal_line("carol", {80, 95}), "80,95 carol\n");
	EXPECT_EQ(state::journal_line("carol", {}), "- carol\n");
	state::Marks m{{"carol", {1}}};
	ASSERT_TRUE(state::replay("# spoolwarn journal 1\n" + state::journal_line("carol", {}), &m));
	EXPECT_TRUE(m.empty());
}

// The longest record a run can write, all marks and a login filling the
// rest of a line, reads back; a byte more makes the journal damaged.
TEST(State, LineBound)
{
	std::string line = "1";
	for (int t = 2; t <= 100; ++t)
		line += "," + std::to_string(t);
	line += " " + std::string(state::line_max - line.size() - 1, 'a');
	state::Marks m;
	EXPECT_TRUE(state::replay("# spoolwarn journal 1\n" + line + "\n", &m));
	EXPECT_EQ(m.begin()->second.size(), 100u);
	EXPECT_FALSE(state::replay("# spoolwarn journal 1\n" + line + "a\n", &m));
}

// A folder of the test's own, removed afterwards.
struct Folder {
	std::filesystem::path path;
	Folder()
	{
		char name[] = "/tmp/spoolwarn-test.XXXXXX";
		path = ::mkdtemp(name);
	}
	~Folder() { std::filesystem::remove_all(path); }
	std::string read(const char *name) const
	{
		std::ifstream in(path / name);
		std::stringstream ss;
		ss << in.rdbuf();
		return ss.str();
	}
	bool has(const char *name) const { return std::filesystem::exists(path / name); }
};

// Records outlive a Store dropped without a save (a killed run); the next
// Store folds them into the state, and the journal goes.
TEST(State, RecordFoldSave)
{
	Folder f;
	std::string dir = (f.path / "state").string();
	const char *what = nullptr;
	std::string why;
	{
		state::Store s;
		ASSERT_EQ(state::open(dir.c_str(), true, &s, &what, &why), 0);
		ASSERT_EQ(state::save(s, {{"alice", {90}}}), 0);
		ASSERT_EQ(state::record(s, "bob", {90}), 0);
		ASSERT_EQ(state::record(s, "carol", {90}), 0);
		ASSERT_EQ(state::record(s, "carol", {}), 0); // not sent
	}
	EXPECT_EQ(f.read("state/state"), "# spoolwarn state 1\n90 alice\n");
	EXPECT_EQ(f.read("state/journal"), "# spoolwarn journal 1\n90 bob\n90 carol\n- carol\n");
	state::Store s;
	ASSERT_EQ(state::open(dir.c_str(), true, &s, &what, &why), 0);
	state::Marks m;
	state::Loaded how;
	ASSERT_EQ(state::load(s, &m, &how, &why), 0);
	ASSERT_EQ(state::fold(s, &m, &how, &why), 0);
	EXPECT_EQ(how, state::Loaded::read);
	EXPECT_EQ(m, (state::Marks{{"alice", {90}}, {"bob", {90}}}));
	EXPECT_EQ(f.read("state/state"), "# spoolwarn state 1\n90 alice\n90 bob\n");
	EXPECT_FALSE(f.has("state/journal"));
	// A record after the fold starts a new journal.
	ASSERT_EQ(state::record(s, "dave", {90}), 0);
	EXPECT_EQ(f.read("state/journal"), "# spoolwarn journal 1\n90 dave\n");
}

// --- the letter -----------------------------------------------------------------

const letter::Facts facts{"alice", 950, 1000, 95, 90, 51, "mail.example.org"};
const std::time_t when = 1796751934; // 2026-12-08 17:45:34 UTC

std::string header_block(const std::string &text)
{
	return text.substr(0, text.find("\n\n") + 1);
}

TEST(Letter, DefaultTemplate)
{
	setenv("TZ", "UTC0", 1);
	tzset();
	std::string text = letter::compose(letter::default_template, facts, when);
	EXPECT_EQ(header_block(text), "To: alice@mail.example.org\n"
	                              "From: postmaster@mail.example.org\n"
	                              "Subject: Your mailbox is 95% full\n"
	                              "Date: Tue, 08 Dec 2026 17:45:34 +0000\n"
	                              "Auto-Submitted: auto-generated\n");
	EXPECT_NE(text.find("** WARNING: system mailbox /var/mail/alice is at 95% of its limit "
	                    "(950 of 1000 bytes). **\n"),
	          std::string::npos)
	    << text;
	EXPECT_NE(text.find("Delete at least 51 bytes to be back under 90%."), std::string::npos);
	EXPECT_EQ(text.find("${"), std::string::npos) << "a placeholder left: " << text;
}

TEST(Letter, ShippedTemplateIsTheBuiltInOne)
{
	std::ifstream in(SPOOLWARN_SHIPPED_LETTER);
	ASSERT_TRUE(in) << SPOOLWARN_SHIPPED_LETTER;
	std::stringstream s;
	s << in.rdbuf();
	EXPECT_EQ(s.str(), letter::default_template);
}

struct TemplateCase {
	const char *tmpl;
	const char *headers; // what compose writes before the body; null: refused
	const char *body;
};

class Template : public testing::TestWithParam<TemplateCase> {};

const std::string long_line = "Subject: hi\n\n" + std::string(940, 'x') + " ${LOGIN}\n";

TEST_P(Template, Compose)
{
	setenv("TZ", "UTC0", 1);
	tzset();
	const TemplateCase &c = GetParam();
	std::string why;
	ASSERT_EQ(letter::check(c.tmpl, &why), c.headers != nullptr) << c.tmpl << ": " << why;
	if (c.headers == nullptr)
		return;
	std::string text = letter::compose(c.tmpl, facts, when);
	std::string dated = "Date: Tue, 08 Dec 2026 17:45:34 +0000\nAuto-Submitted: auto-generated\n";
	EXPECT_EQ(header_block(text), std::string(c.headers) + dated);
	EXPECT_EQ(text.substr(text.find("\n\n") + 2), c.body);
}

INSTANTIATE_TEST_SUITE_P(Letter, Template, testing::Values(
	TemplateCase{"From: Mail Admin <admin@example.org>\nSubject: ${LOGIN}: ${SIZE}/${LIMIT}\n"
	             "\n${LOGIN} ${MAILBOX} ${PERCENT} ${THRESHOLD} ${DELETE} ${MAILNAME} ${OTHER} $5\n",
	             "To: alice@mail.example.org\nFrom: Mail Admin <admin@example.org>\n"
	             "Subject: alice: 950/1000\n",
	             "alice /var/mail/alice 95 90 51 mail.example.org ${OTHER} $5\n"},
	// No header part: all body, default sender and subject, and a last
	// line end added.
	TemplateCase{"Dear ${LOGIN}: full", "To: alice@mail.example.org\n"
	             "From: postmaster@mail.example.org\nSubject: Your mailbox is 95% full\n",
	             "Dear alice: full\n"},
	// CR LF line ends become LF; a continued header stays one header.
	TemplateCase{"Subject: a\r\n  b\r\nX-Site: 1\r\n\r\nline\r\n",
	             "To: alice@mail.example.org\nFrom: postmaster@mail.example.org\n"
	             "Subject: a\n  b\nX-Site: 1\n", "line\n"},
	// A CR alone cannot end a header line early.
	TemplateCase{"Subject: a\rBcc: x@example.net\n\nbody\n",
	             "To: alice@mail.example.org\nFrom: postmaster@mail.example.org\n"
	             "Subject: a Bcc: x@example.net\n", "body\n"},
	// A From: address without a domain gets the mail name: a bare local
	// part (a placeholder's too, blanks kept, continued or not) or one in
	// angle brackets; a From: with no address of that form stays as it is.
	TemplateCase{"from: webmaster \n\nbody\n",
	             "To: alice@mail.example.org\nSubject: Your mailbox is 95% full\n"
	             "from: webmaster@mail.example.org \n", "body\n"},
	TemplateCase{"From:\r\n mail-${LOGIN}\n\nbody\n",
	             "To: alice@mail.example.org\nSubject: Your mailbox is 95% full\n"
	             "From:\n mail-alice@mail.example.org\n", "body\n"},
	TemplateCase{"From: \"Mail Admin\" <admin>\n\nbody\n",
	             "To: alice@mail.example.org\nSubject: Your mailbox is 95% full\n"
	             "From: \"Mail Admin\" <admin@mail.example.org>\n", "body\n"},
	TemplateCase{"From: Mail Admin\n\nbody\n",
	             "To: alice@mail.example.org\nSubject: Your mailbox is 95% full\n"
	             "From: Mail Admin\n", "body\n"},
	TemplateCase{"From: <>\n\nbody\n",
	             "To: alice@mail.example.org\nSubject: Your mailbox is 95% full\n"
	             "From: <>\n", "body\n"},
	// Headers spoolwarn writes, in any case, and lines that are not
	// headers in the header part: refused.
	TemplateCase{"To: someone@example.net\n\nbody\n", nullptr, nullptr},
	TemplateCase{"From: a\nauto-submitted: no\n\nbody\n", nullptr, nullptr},
	TemplateCase{"From: a\nDATE: now\n\nbody\n", nullptr, nullptr},
	TemplateCase{"From: a\nthis is no header\n\nbody\n", nullptr, nullptr},
	// A line that the longest login could take past 998 octets.
	TemplateCase{long_line.c_str(), nullptr, nullptr}),
	[](const auto &p) { return "case" + std::to_string(p.index); });

// --- the mail name ---------------------------------------------------------------

TEST(MailName, FileElseHostName)
{
	char host[256] = {};
	ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
	const std::string fallback = mailname::is_domain(host) ? host : "localhost";
	char tmpl[] = "/tmp/mailname-test-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	const std::string file = std::string(tmpl) + "/mailname";
	using namespace std::string_literals;
	struct {
		bool present;
		std::string content;
		std::string want;
	} const rows[] = {
	    {false, "", fallback},
	    {true, "mail.example.org\n", "mail.example.org"},
	    {true, " \tmail.example.org \r\n\nother.example.net\n", "mail.example.org"},
	    {true, "mail.example.org", "mail.example.org"},
	    {true, "mx1\n", "mx1"},
	    {true, "", fallback},
	    {true, "\n", fallback},
	    {true, "\nmail.example.org\n", fallback},
	    {true, "mail example.org\n", fallback},
	    {true, "postmaster@example.org\n", fallback},
	    {true, "mail..example.org\n", fallback},
	    {true, "mail.example.org.\n", fallback},
	    {true, "-mail.example.org\n", fallback},
	    {true, "mail-.example.org\n", fallback},
	    {true, "mail.example.org\0x\n"s, fallback},
	    {true, "m\xc3\xa4il.example.org\n", fallback},
	};
	for (const auto &r : rows) {
		std::filesystem::remove(file);
		if (r.present)
			std::ofstream(file, std::ios::binary) << r.content;
		EXPECT_EQ(mailname::lookup(file.c_str()), r.want)
		    << (r.present ? r.content : "(no file)");
	}
	std::filesystem::remove(file);
	// A line longer than any mail name, a folder, a FIFO: the host name.
	std::ofstream(file) << std::string(63, 'a') << '.' << std::string(63, 'b') << '.'
	                    << std::string(63, 'c') << '.' << std::string(63, 'd') << "\n";
	EXPECT_EQ(mailname::lookup(file.c_str()), fallback);
	std::filesystem::remove(file);
	std::filesystem::create_directory(file);
	EXPECT_EQ(mailname::lookup(file.c_str()), fallback);
	std::filesystem::remove(file);
	ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
	EXPECT_EQ(mailname::lookup(file.c_str()), fallback) << "a FIFO must not block";
	std::filesystem::remove_all(tmpl);
}

TEST(MailName, IsDomain)
{
	for (const char *ok : {"localhost", "mail.example.org", "a-b.c1", "x", "0.example"})
		EXPECT_TRUE(mailname::is_domain(ok)) << ok;
	EXPECT_TRUE(mailname::is_domain(std::string(63, 'a') + ".org"));
	EXPECT_FALSE(mailname::is_domain(std::string(64, 'a') + ".org"));
	std::string longest = std::string(63, 'a') + "." + std::string(63, 'b') + "." +
	                      std::string(63, 'c') + "." + std::string(61, 'd');
	EXPECT_TRUE(mailname::is_domain(longest)) << longest.size();
	EXPECT_FALSE(mailname::is_domain(longest + "d"));
	for (const char *bad : {"", ".", "a.", ".a", "a..b", "-a", "a-", "a_b", "a b", "a@b",
	                        "a\nb", "a>b"})
		EXPECT_FALSE(mailname::is_domain(bad)) << bad;
}

TEST(Letter, SafeLogin)
{
	for (const char *ok : {"alice", "a.b", "mary_ann", "x-1", "Bob2"})
		EXPECT_TRUE(letter::safe_login(ok)) << ok;
	for (const char *bad : {"", "-oQ/tmp", ".hidden", "a@example.net", "a,b", "a b",
	                        "a+box", "a\nBcc: x", "a\rb", "\"a\"", "a<b>", "a;b", "a/b"})
		EXPECT_FALSE(letter::safe_login(bad)) << bad;
	EXPECT_TRUE(letter::safe_login(std::string(64, 'a')));
	EXPECT_FALSE(letter::safe_login(std::string(65, 'a'))); // no local part is longer
}

// --- the command line -------------------------------------------------------------

struct LineCase {
	std::vector<const char *> args;
	const char *error; // null: accepted
	V thresholds;
	bool dry_run;
	const char *sendmail;
	int deadline = 300;
};

class Line : public testing::TestWithParam<LineCase> {};

TEST_P(Line, Parse)
{
	const LineCase &c = GetParam();
	Argv line("spoolwarn", c.args);
	cmdline::Options o;
	std::string error;
	bool ok = cmdline::parse(line.argc(), line.argv(), &o, &error);
	if (c.error != nullptr) {
		EXPECT_FALSE(ok);
		EXPECT_EQ(error, c.error);
		return;
	}
	ASSERT_TRUE(ok) << error;
	EXPECT_EQ(o.thresholds, c.thresholds);
	EXPECT_EQ(o.dry_run, c.dry_run);
	EXPECT_EQ(o.sendmail, c.sendmail);
	EXPECT_EQ(o.deadline, c.deadline);
	// A value that names an SMTP server is read as one, and only such.
	EXPECT_EQ(o.smtp.has_value(), std::string_view(c.sendmail).starts_with("smtp:"));
	if (o.smtp) {
		EXPECT_EQ(o.smtp->host + " " + o.smtp->port, "::1 2525");
	}
}

INSTANTIATE_TEST_SUITE_P(Cmdline, Line, testing::Values(
	LineCase{{}, nullptr, {90}, false, "/usr/sbin/sendmail"},
	LineCase{{"-n", "-p", "95,80,80%", "-S", "/bin/true"}, nullptr, {80, 95}, true, "/bin/true"},
	LineCase{{"-p100"}, nullptr, {100}, false, "/usr/sbin/sendmail"},
	LineCase{{"-x"}, "unknown option -x", {}, false, ""},
	LineCase{{"--foo=1"}, "unknown option --foo", {}, false, ""},
	LineCase{{"-p"}, "option -p needs a value", {}, false, ""},
	LineCase{{"-S"}, "option -S needs a value", {}, false, ""},
	LineCase{{"-S", ""}, "option -S needs a value", {}, false, ""},
	LineCase{{"-S", "smtp:[::1]:2525"}, nullptr, {90}, false, "smtp:[::1]:2525"},
	LineCase{{"-S", "smtp:host:0"}, "-S smtp:host:0: PORT must be a whole number from 1 to 65535",
	         {}, false, ""},
	LineCase{{"-p", "0"}, "-p 0: each PERCENT must be a whole number from 1 to 100", {},
	         false, ""},
	LineCase{{"-p", "101"}, "-p 101: each PERCENT must be a whole number from 1 to 100", {},
	         false, ""},
	LineCase{{"-p", "80,"}, "-p 80,: each PERCENT must be a whole number from 1 to 100", {},
	         false, ""},
	LineCase{{"-p", "8x"}, "-p 8x: each PERCENT must be a whole number from 1 to 100", {},
	         false, ""},
	LineCase{{"-p", "+80"}, "-p +80: each PERCENT must be a whole number from 1 to 100", {},
	         false, ""},
	LineCase{{"alice"}, "unexpected argument alice", {}, false, ""},
	LineCase{{"-w", "30"}, nullptr, {90}, false, "/usr/sbin/sendmail", 30},
	LineCase{{"-w86400"}, nullptr, {90}, false, "/usr/sbin/sendmail", 86400},
	LineCase{{"-w"}, "option -w needs a value", {}, false, ""},
	LineCase{{"-w", "0"}, "-w 0: SECONDS must be a whole number from 1 to 86400", {}, false, ""},
	LineCase{{"-w", "86401"}, "-w 86401: SECONDS must be a whole number from 1 to 86400", {},
	         false, ""},
	LineCase{{"-w", "5s"}, "-w 5s: SECONDS must be a whole number from 1 to 86400", {}, false,
	         ""}),
	[](const auto &p) { return "case" + std::to_string(p.index); });

// --- sendmail -------------------------------------------------------------------

// A sendmail of a shell script, in a folder of its own.
struct Script {
	Folder folder;
	std::string path;
	explicit Script(const std::string &body)
	{
		path = (folder.path / "sendmail").string();
		std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
		::chmod(path.c_str(), 0755);
	}
};

struct SubmitCase {
	const char *what;
	const char *script;
	submit::Result result;
	const char *why;
};

class Submit : public testing::TestWithParam<SubmitCase> {};

TEST_P(Submit, Verdict)
{
	const SubmitCase &c = GetParam();
	::signal(SIGPIPE, SIG_IGN);
	Script s(c.script);
	std::string why;
	EXPECT_EQ(submit::run(s.path, {"-i", "alice"}, "To: alice\n\nhello\n", 10, &why), c.result)
	    << c.what;
	EXPECT_EQ(why, c.why) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Sendmail, Submit, testing::Values(
	SubmitCase{"taken", "cat >/dev/null", submit::Result::sent, ""},
	SubmitCase{"taken without reading it", "exit 0", submit::Result::sent, ""},
	SubmitCase{"refused", "cat >/dev/null; exit 75", submit::Result::failed, "exit status 75"},
	SubmitCase{"refused for good: EX_NOUSER", "cat >/dev/null; exit 67",
	           submit::Result::refused, "exit status 67"},
	SubmitCase{"killed by a signal: not taken", "cat >/dev/null; kill -KILL $$",
	           submit::Result::failed, "killed by signal 9"},
	SubmitCase{"terminated: not taken", "kill -TERM $$", submit::Result::failed,
	           "killed by signal 15"},
	SubmitCase{"cannot be run", "exec /nonexistent/program", submit::Result::failed,
	           "could not be run (exit status 127)"}),
	[](const auto &p) { return "case" + std::to_string(p.index); });

// submit::run wants SIGPIPE ignored, as spoolwarn has it: a program that is
// gone before it has read its letter must fail the hand-over, not kill the
// test (each test runs in a process of its own).
class Sendmail : public testing::Test {
protected:
	void SetUp() override { ::signal(SIGPIPE, SIG_IGN); }
};

TEST_F(Sendmail, GetsTheLetterAndTheRecipient)
{
	Script s("echo \"$*\" >\"$(dirname \"$0\")/args\"; cat >\"$(dirname \"$0\")/letter\"");
	std::string why;
	std::string letter(200000, 'x'); // more than a pipe holds
	ASSERT_EQ(submit::run(s.path, {"-i", "alice"}, letter, 10, &why), submit::Result::sent) << why;
	EXPECT_EQ(s.folder.read("args"), "-i alice\n");
	EXPECT_EQ(s.folder.read("letter"), letter);
}

TEST_F(Sendmail, Missing)
{
	std::string why;
	EXPECT_EQ(submit::run("/nonexistent/sendmail", {"-i", "alice"}, "x\n", 10, &why),
	          submit::Result::failed);
	// "could not be run: No such file or directory" from posix_spawn, or its
	// exit status 127 where it is a fork and an exec (under valgrind).
	EXPECT_EQ(why.rfind("could not be run", 0), 0u) << why;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Past the deadline the whole group goes, what it started in the
// background too, even while the letter is still being written to it.
TEST_F(Sendmail, DeadlineStopsTheGroup)
{
	Script s("sleep 60 & echo $! >\"$(dirname \"$0\")/child\"; sleep 60");
	std::string why;
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(submit::run(s.path, {"-i", "alice"}, std::string(1 << 20, 'x'), 1, &why),
	          submit::Result::late);
	double took = seconds_since(start);
	EXPECT_EQ(why, "no answer within 1 s: stopped");
	EXPECT_GE(took, 1.0);
	// SIGTERM was enough: no grace waited for SIGKILL (with room for a
	// loaded machine and valgrind).
	EXPECT_LT(took, 1.0 + submit::grace);
	pid_t child = std::atoi(s.folder.read("child").c_str());
	ASSERT_GT(child, 0);
	// Gone, or a zombie waiting for init to reap it, moments after the end.
	bool gone = false;
	for (int i = 0; i < 100 && !gone; ++i) {
		std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
		std::string text;
		std::getline(stat, text);
		gone = !stat || text.find(") Z ") != std::string::npos;
		if (!gone)
			::usleep(20000);
	}
	EXPECT_TRUE(gone) << "the background child of sendmail is still running";
}

// A program that ignores SIGTERM gets SIGKILL after the grace.
TEST_F(Sendmail, DeadlineThenKill)
{
	Script s("trap '' TERM; sleep 60");
	std::string why;
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(submit::run(s.path, {"-i", "alice"}, "x\n", 1, &why), submit::Result::late);
	double took = seconds_since(start);
	EXPECT_GE(took, 1.0 + submit::grace);
	// SIGKILL after one grace, long before the program's 60 s.
	EXPECT_LT(took, 1.0 + 2 * submit::grace);
}

} // namespace
