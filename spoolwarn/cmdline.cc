// SPDX-License-Identifier: ISC
// cmdline - reading spoolwarn's command line (cmdline.h).
//
// Numbers are read with std::from_chars: decimal only, no blanks, no '+'.
#include "cmdline.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "opterror.h"

namespace cmdline {

const char usage[] = "usage: spoolwarn [-n] [-p PERCENT[,PERCENT...]] [-S SENDMAIL] [-w SECONDS]\n";

namespace {

enum { opt_help = 256, opt_version };

// -w: whole seconds from 1 to max_deadline.
bool parse_deadline(const char *arg, int *out, std::string *error)
{
	std::string_view s = arg;
	int value = 0;
	auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
	if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 1 ||
	    value > max_deadline) {
		*error = "-w " + std::string(arg) + ": SECONDS must be a whole number from 1 to " +
		         std::to_string(max_deadline);
		return false;
	}
	*out = value;
	return true;
}

} // namespace

bool parse_thresholds(const char *arg, std::vector<int> *out, std::string *error)
{
	std::vector<int> list;
	std::string_view rest = arg;
	for (bool more = true; more;) {
		std::size_t comma = rest.find(',');
		more = comma != std::string_view::npos;
		std::string_view item = rest.substr(0, comma);
		rest.remove_prefix(more ? comma + 1 : rest.size());
		if (item.ends_with('%'))
			item.remove_suffix(1);
		int value = 0;
		auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
		if (item.empty() || ec != std::errc() || end != item.data() + item.size() ||
		    value < 1 || value > 100) {
			*error = "-p " + std::string(arg) +
			         ": each PERCENT must be a whole number from 1 to 100";
			return false;
		}
		list.push_back(value);
	}
	std::sort(list.begin(), list.end());
	list.erase(std::unique(list.begin(), list.end()), list.end());
	*out = list;
	return true;
}

bool parse(int argc, char *argv[], Options *out, std::string *error)
{
	static const option longs[] = {
	    {"help", no_argument, nullptr, opt_help},
	    {"version", no_argument, nullptr, opt_version},
	    {nullptr, 0, nullptr, 0},
	};
	Options o;
	optind = 0; // start afresh, also on a second call
	opterr = 0; // we word the messages ourselves
	for (;;) {
		int c = getopt_long(argc, argv, "+:np:S:w:", longs, nullptr);
		if (c == -1)
			break;
		switch (c) {
		case 'n':
			o.dry_run = true;
			break;
		case 'p':
			if (!parse_thresholds(optarg, &o.thresholds, error))
				return false;
			break;
		case 'S':
			if (*optarg == '\0') {
				*error = "option -S needs a value";
				return false;
			}
			o.sendmail = optarg;
			break;
		case 'w':
			if (!parse_deadline(optarg, &o.deadline, error))
				return false;
			break;
		case opt_help:
			o.help = true;
			break;
		case opt_version:
			o.version = true;
			break;
		default: // ':' or '?', worded as every program words them
			*error = opterror::describe(c, argv, longs);
			return false;
		}
	}
	if (optind < argc) {
		*error = "unexpected argument " + std::string(argv[optind]);
		return false;
	}
	*out = o;
	return true;
}

} // namespace cmdline
