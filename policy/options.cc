// SPDX-License-Identifier: ISC
// options - reading boxpolicy's command line (options.h).
//
// Numbers are whole decimal numbers within each option's range; anything
// else, or a number out of range, is refused rather than cut down. Options
// that getopt_long refuses are worded as in every program (opterror.h).
#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>
#include <utility>

#include "opterror.h"

namespace options {

const char usage[] = "usage: boxpolicy [-t] [-d CHARS] [-i SECONDS] [-w SECONDS] [-l BYTES]"
                     " [-r BYTES] [-a COUNT] [DOMAIN...]\n"
                     "       boxpolicy --help | --version\n";

const char help[] =
    "Answer Postfix's SMTP access policy requests on standard input and output:\n"
    "refuse mail that would take a system mailbox over the site's limit.\n"
    "\n"
    "  DOMAIN...                   judge only recipients at these domains (default: any)\n"
    "  -d, --delimiter=CHARS       an address extension starts at any of CHARS\n"
    "  -t, --temporary             refuse with 452 4.2.2 instead of 552 5.2.2\n"
    "  -i, --idle=SECONDS          drop a client that is idle this long (default 300)\n"
    "  -w, --request-time=SECONDS  drop a client whose request takes longer (default 10)\n"
    "  -l, --line-max=BYTES        longest request line, 8192 to 65536 (default 16384)\n"
    "  -r, --request-max=BYTES     largest request, line-max to 1048576 (default 65536)\n"
    "  -a, --attributes-max=N      most attributes in a request, 1 to 4096 (default 256)\n"
    "      --help, --version\n";

namespace {

enum { opt_help = 256, opt_version };

const option long_options[] = {
    {"delimiter", required_argument, nullptr, 'd'},
    {"temporary", no_argument, nullptr, 't'},
    {"idle", required_argument, nullptr, 'i'},
    {"request-time", required_argument, nullptr, 'w'},
    {"line-max", required_argument, nullptr, 'l'},
    {"request-max", required_argument, nullptr, 'r'},
    {"attributes-max", required_argument, nullptr, 'a'},
    {"help", no_argument, nullptr, opt_help},
    {"version", no_argument, nullptr, opt_version},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from low to high; the reason, as text, when not.
bool number(const char *arg, long long low, long long high, long long *out, std::string *why)
{
	std::string_view s = arg;
	long long value = 0;
	auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
	if (s.empty() || ec == std::errc::invalid_argument || end != s.data() + s.size()) {
		*why = "is not a decimal number";
		return false;
	}
	if (ec == std::errc::result_out_of_range || value < low || value > high) {
		*why =
		    "is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")";
		return false;
	}
	*out = value;
	return true;
}

std::string lower(std::string_view s)
{
	std::string out(s);
	std::transform(out.begin(), out.end(), out.begin(), [](char c) {
		return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
	});
	return out;
}

// The range of each numeric option.
struct Range {
	int option;
	long long low, high;
};
constexpr Range ranges[] = {
    {'i', 1, 86400}, {'w', 1, 3600}, {'l', 8192, 65536}, {'r', 8192, 1048576}, {'a', 1, 4096},
};

// Takes one numeric option (-i, -w, -l, -r, -a) into *o; -r goes to
// *request_max, to be checked against -l once both are known.
bool take_number(int c, Options *o, long long *request_max, std::string *error)
{
	const Range *range = std::find_if(std::begin(ranges), std::end(ranges),
	                                  [c](const Range &r) { return r.option == c; });
	long long low = range->low, high = range->high;
	long long n = 0;
	std::string why;
	if (!number(optarg, low, high, &n, &why)) {
		*error = std::string("-") + static_cast<char>(c) + " " + optarg + ": " + why;
		return false;
	}
	if (c == 'i')
		o->idle = static_cast<int>(n);
	else if (c == 'w')
		o->request_time = static_cast<int>(n);
	else if (c == 'l')
		o->limits.line_max = static_cast<std::size_t>(n);
	else if (c == 'a')
		o->limits.attributes_max = static_cast<std::size_t>(n);
	else
		*request_max = n;
	return true;
}

// Takes any other option getopt_long returned into *o.
bool take_option(int c, char *argv[], Options *o, std::string *error)
{
	switch (c) {
	case 'd':
		o->settings.delimiters = optarg;
		if (o->settings.delimiters.find('@') != std::string::npos) {
			*error = "-d: @ cannot be a recipient delimiter";
			return false;
		}
		return true;
	case 't':
		o->temporary = true;
		return true;
	case opt_help:
		o->help = true;
		return true;
	case opt_version:
		o->version = true;
		return true;
	default: // ':' or '?'
		*error = opterror::describe(c, argv, long_options);
		return false;
	}
}

} // namespace

bool parse(int argc, char *argv[], Options *out, std::string *error)
{
	Options o;
	long long request_max = -1;
	optind = 0; // full reinitialisation, so parse may be called again
	opterr = 0;
	for (int c;
	     (c = getopt_long(argc, argv, "+:d:ti:w:l:r:a:", long_options, nullptr)) != -1;) {
		bool numeric = c == 'i' || c == 'w' || c == 'l' || c == 'r' || c == 'a';
		if (!(numeric ? take_number(c, &o, &request_max, error)
		              : take_option(c, argv, &o, error)))
			return false;
	}
	if (request_max >= 0)
		o.limits.request_max = static_cast<std::size_t>(request_max);
	if (o.limits.request_max < o.limits.line_max) {
		*error = "-r " + std::to_string(o.limits.request_max) +
		         ": smaller than the longest line (" + std::to_string(o.limits.line_max) +
		         ")";
		return false;
	}
	for (int i = optind; i < argc; i++) {
		std::string_view d = argv[i];
		if (d.empty() || d.find('@') != std::string_view::npos) {
			*error = "domain '" + std::string(d) + "': not a domain name";
			return false;
		}
		o.settings.domains.push_back(lower(d));
	}
	*out = std::move(o);
	return true;
}

} // namespace options
