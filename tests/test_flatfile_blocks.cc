// SPDX-License-Identifier: ISC
// Unit tests of the flat password file reader where it refills its block
// (flat::block_size bytes): a line that the boundary cuts must be judged as a
// whole, accepted or skipped exactly as anywhere else, and the line after it
// kept; no part of an over-long line may ever pass for a line; and a read
// that fails after a block ends the walk as a fault, not as the file's end.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <ostream>
#include <string>
#include <system_error>

#include "account_fixture.h"
#include "flatfile.h"

namespace {

constexpr std::size_t block = account::flat::block_size;

// n bytes of lines that are never accepted (no colon), each under 1000.
std::string filler(std::size_t n)
{
	std::string s;
	while (s.size() < n) {
		std::size_t line = std::min<std::size_t>(n - s.size(), 999);
		s.append(line - 1, '-');
		s += '\n';
	}
	return s;
}

// A line of exactly length characters before its newline, with uid 7.
std::string line_of(std::size_t length)
{
	std::string head = "big:x:7:7::/:";
	return head + std::string(length - head.size(), 's') + "\n";
}

std::string name_of(passwd *pw)
{
	return pw ? pw->pw_name : "(none)";
}

struct Straddle {
	std::size_t length; // of the line the boundary cuts
	bool accepted;
};

void PrintTo(const Straddle &s, std::ostream *os)
{
	*os << "length " << s.length;
}

class BlockBoundary : public PasswdFile, public testing::WithParamInterface<Straddle> {};

TEST_P(BlockBoundary, CutLineIsJudgedWhole)
{
	std::string cut = line_of(GetParam().length);
	// The boundary falls before, inside (at several places) and after it.
	for (std::size_t into :
	     {std::size_t{0}, std::size_t{1}, cut.size() / 2, cut.size() - 1, cut.size()}) {
		std::string content = filler(block - into) + cut + "after:x:8:8::/:\n";
		ASSERT_GT(content.size(), block) << "the file must span two blocks";
		ASSERT_EQ(content.compare(block - into, cut.size(), cut), 0);
		write(content);
		account::endpwent();
		if (GetParam().accepted) {
			EXPECT_EQ(name_of(account::getpwent()), "big") << "cut " << into;
		}
		EXPECT_EQ(name_of(account::getpwent()), "after") << "cut " << into;
		EXPECT_EQ(account::getpwent(), nullptr);
		EXPECT_EQ(account::getpwuid(7) != nullptr, GetParam().accepted);
	}
}

INSTANTIATE_TEST_SUITE_P(Account, BlockBoundary,
                         testing::Values(Straddle{20, true}, Straddle{1022, true},
                                         Straddle{1023, false}, Straddle{5000, false}),
                         [](const auto &p) { return "length_" + std::to_string(p.param.length); });

// An over-long line is dropped as it streams past. Its part after a block
// refill must be dropped with it: here that part is a whole account line,
// which must never be found. before: the bytes of the over-long line that
// lie in front of the boundary (the reader gives up on a line once it holds
// 1023 of them, so both sides of that mark are tried, and a line longer than
// a whole block).
class SmuggledLine : public PasswdFile, public testing::WithParamInterface<std::size_t> {};

TEST_P(SmuggledLine, TailOfAnOverLongLineIsNoLine)
{
	const std::string evil = "evil:x:0:0::/root:/bin/sh\n";
	std::size_t before = GetParam();
	std::size_t start = 2 * block - before; // the boundary after two blocks
	std::string content = filler(start - 16) + "first:x:5:5::/:\n" +
	                      std::string(before, 'x') + evil + "last:x:6:6::/:\n";
	ASSERT_EQ(content.compare(2 * block, evil.size(), evil), 0) << "evil starts a block";
	ASSERT_GT(before + evil.size() - 1, account::flat::line_size - 1) << "the line is over-long";
	write(content);
	EXPECT_EQ(account::getpwnam("evil"), nullptr);
	EXPECT_EQ(account::getpwuid(0), nullptr);
	EXPECT_EQ(name_of(account::getpwuid(6)), "last");
	EXPECT_EQ(name_of(account::getpwent()), "first");
	EXPECT_EQ(name_of(account::getpwent()), "last");
	EXPECT_EQ(account::getpwent(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Account, SmuggledLine,
                         testing::Values(1000, 1022, 1023, 1024, 5000, block + 100),
                         [](const auto &p) { return "before_" + std::to_string(p.param); });

// Makes every later read of the open password file fail: the descriptor
// the walk reads it through is replaced by one open on a folder, which read
// refuses (EISDIR). False when no descriptor holds the file.
bool fail_reads_of(const std::string &file)
{
	int target = -1;
	for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
		std::error_code ec;
		if (std::filesystem::read_symlink(e.path(), ec) == file)
			target = std::stoi(e.path().filename().string());
	}
	int folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	bool done = target >= 0 && folder >= 0 && ::dup2(folder, target) == target;
	if (folder >= 0)
		::close(folder);
	return done;
}

// The walk reads its first block, then a read fails: getpwent ends, and
// only pwent_error tells it from the end of the file, until a new walk.
// Keyed lookups stay silent about it.
TEST_F(PasswdFile, ReadErrorAfterABlockIsToldFromTheEnd)
{
	write("a:x:1:1::/:\n" + filler(block) + "b:x:2:2::/:\n");
	account::endpwent();
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(account::pwent_error(), 0);
	ASSERT_TRUE(fail_reads_of(file));
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::pwent_error(), EISDIR);
	EXPECT_EQ(account::getpwent(), nullptr) << "the walk stays ended";
	EXPECT_EQ(account::pwent_error(), EISDIR);
	account::setpwent(); // rewinds the same descriptor: a new walk
	EXPECT_EQ(account::pwent_error(), 0);
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::pwent_error(), EISDIR);
	EXPECT_EQ(account::getpwuid(2), nullptr); // reads fail, then it closes
	EXPECT_EQ(account::pwent_error(), 0);
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::pwent_error(), 0) << "the true end";
}

} // namespace
