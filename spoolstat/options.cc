// SPDX-License-Identifier: ISC
// options - reading spoolstat's command line.
//
// Interface: options.h. Numbers are read with std::from_chars: decimal
// only, no blanks, no '+', and a value outside the int range is an error.
// Diagnostics are returned as text; nothing is printed here. Options that
// getopt_long refuses are worded as in every program (optloop.h).
#include "options.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "optloop.h"

namespace options {

const char usage[] = "usage: spoolstat [-a] [-t PERCENT] [--what-if MIN:MAX] [--json]\n"
                     "       spoolstat --help | --version\n";

namespace {

enum { opt_what_if = 256, opt_json };

// One whole decimal int; why not, as text, when it is not one.
bool whole_int(std::string_view s, int *out, std::string *why)
{
	int value = 0;
	auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
	if (s.empty() || ec == std::errc::invalid_argument || end != s.data() + s.size()) {
		*why = "is not a decimal number";
		return false;
	}
	if (ec == std::errc::result_out_of_range) {
		*why = "is out of range (-2147483648 to 2147483647)";
		return false;
	}
	*out = value;
	return true;
}

} // namespace

bool parse_proposal(const char *arg, Proposal *out, std::string *error)
{
	std::string_view s = arg;
	std::size_t colon = s.find(':');
	if (colon == std::string_view::npos) {
		*error = "--what-if " + std::string(s) + ": expected MIN:MAX";
		return false;
	}
	std::string why;
	Proposal p;
	if (!whole_int(s.substr(0, colon), &p.min_user, &why)) {
		*error = "--what-if " + std::string(s) + ": MIN " + why;
		return false;
	}
	if (!whole_int(s.substr(colon + 1), &p.max_size, &why)) {
		*error = "--what-if " + std::string(s) + ": MAX " + why;
		return false;
	}
	*out = p;
	return true;
}

bool parse_percent(const char *arg, int *out, std::string *error)
{
	std::string_view s = arg;
	if (!s.empty() && s.back() == '%')
		s.remove_suffix(1);
	int value = 0;
	std::string why;
	if (!whole_int(s, &value, &why) || value < 0 || value > 100) {
		*error =
		    "-t " + std::string(arg) + ": PERCENT must be a whole number from 0 to 100";
		return false;
	}
	*out = value;
	return true;
}

bool parse(int argc, char *argv[], Options *out, std::string *error)
{
	static const option longs[] = {
	    {"all", no_argument, nullptr, 'a'},
	    {"threshold", required_argument, nullptr, 't'},
	    {"what-if", required_argument, nullptr, opt_what_if},
	    {"json", no_argument, nullptr, opt_json},
	    {nullptr, 0, nullptr, 0},
	};
	Options o;
	optloop::Reader r(argc, argv, "+:at:", longs);
	int c;
	while ((c = r.next()) > 0) {
		switch (c) {
		case 'a':
			o.all = true;
			break;
		case 't':
			if (!parse_percent(optarg, &o.percent, error))
				return false;
			break;
		case opt_what_if:
			if (!parse_proposal(optarg, &o.proposal, error))
				return false;
			o.what_if = true;
			break;
		case opt_json:
			o.json = true;
			break;
		}
	}
	if (c < 0) {
		*error = r.error();
		return false;
	}
	if (r.first_operand() < argc) {
		*error = std::string(argv[r.first_operand()]) + ": unexpected argument";
		return false;
	}
	o.help = r.help();
	o.version = r.version();
	*out = o;
	return true;
}

} // namespace options
