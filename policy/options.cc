// SPDX-License-Identifier: ISC
// options - reading boxpolicy's command line (options.h).
//
// Numbers are whole decimal numbers within each option's range; anything
// else, or a number out of range, is refused rather than cut down.
#include "options.h"

#include <getopt.h>

#include <charconv>
#include <string_view>
#include <utility>

namespace options {

const char usage[] = "usage: boxpolicy [-t] [-d CHARS] [-i SECONDS] [-l BYTES] [-r BYTES]"
                     " [-a COUNT] [DOMAIN...]\n"
                     "       boxpolicy --help | --version\n";

const char help[] =
    "Answer Postfix's SMTP access policy requests on standard input and output:\n"
    "refuse mail that would take a system mailbox over the site's limit.\n"
    "\n"
    "  DOMAIN...                 judge only recipients at these domains (default: any)\n"
    "  -d, --delimiter=CHARS     an address extension starts at any of CHARS\n"
    "  -t, --temporary           refuse with 452 4.2.2 instead of 552 5.2.2\n"
    "  -i, --idle=SECONDS        drop a client idle this long (default 300)\n"
    "  -l, --line-max=BYTES      longest request line, 8192 to 65536 (default 16384)\n"
    "  -r, --request-max=BYTES   largest request, line-max to 1048576 (default 65536)\n"
    "  -a, --attributes-max=N    most attributes in a request, 1 to 4096 (default 256)\n"
    "      --help, --version\n";

namespace {

enum { opt_help = 256, opt_version };

const option long_options[] = {
    {"delimiter", required_argument, nullptr, 'd'},
    {"temporary", no_argument, nullptr, 't'},
    {"idle", required_argument, nullptr, 'i'},
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
	for (char &c : out)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return out;
}

} // namespace

bool parse(int argc, char *argv[], Options *out, std::string *error)
{
	Options o;
	long long request_max = -1;
	long long n = 0;
	std::string why;
	optind = 0; // full reinitialisation, so parse may be called again
	opterr = 0;
	for (;;) {
		int c = getopt_long(argc, argv, "+:d:ti:l:r:a:", long_options, nullptr);
		if (c == -1)
			break;
		switch (c) {
		case 'd':
			o.settings.delimiters = optarg;
			if (o.settings.delimiters.empty() ||
			    o.settings.delimiters.find('@') != std::string::npos) {
				*error = "-d: give one or more characters, not @";
				return false;
			}
			break;
		case 't':
			o.temporary = true;
			break;
		case 'i':
			if (!number(optarg, 1, 86400, &n, &why)) {
				*error = std::string("-i ") + optarg + ": " + why;
				return false;
			}
			o.idle = static_cast<int>(n);
			break;
		case 'l':
			if (!number(optarg, 8192, 65536, &n, &why)) {
				*error = std::string("-l ") + optarg + ": " + why;
				return false;
			}
			o.limits.line_max = static_cast<std::size_t>(n);
			break;
		case 'r':
			if (!number(optarg, 8192, 1048576, &request_max, &why)) {
				*error = std::string("-r ") + optarg + ": " + why;
				return false;
			}
			break;
		case 'a':
			if (!number(optarg, 1, 4096, &n, &why)) {
				*error = std::string("-a ") + optarg + ": " + why;
				return false;
			}
			o.limits.attributes_max = static_cast<std::size_t>(n);
			break;
		case opt_help:
			o.help = true;
			break;
		case opt_version:
			o.version = true;
			break;
		case ':':
			*error = std::string(argv[optind - 1]) + ": needs a value";
			return false;
		default:
			*error = std::string(argv[optind - 1]) + ": unknown option";
			return false;
		}
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
