// Unit tests of the flat password file reader where it refills its 64 KiB
// block: a line that the boundary cuts must be judged as a whole, accepted
// or skipped exactly as anywhere else, and the line after it kept.
#include <algorithm>
#include <cstddef>
#include <ostream>
#include <string>

#include "account_fixture.h"

namespace {

constexpr std::size_t block = 1 << 16;

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
		write(filler(block - into) + cut + "after:x:8:8::/:\n");
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

} // namespace
