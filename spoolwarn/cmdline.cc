// SPDX-License-Identifier: ISC
// cmdline - reading spoolwarn's command line (cmdline.h).
//
// Numbers are read with std::from_chars: decimal only, no blanks, no '+'.
#include "cmdline.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "optloop.h"

namespace cmdline {

const char usage[] = "usage: spoolwarn [-n] [-p PERCENT[,PERCENT...]] [-S SENDMAIL] [-w SECONDS]\n";

namespace {

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
	Options o;
	optloop::Reader r(argc, argv, "+:np:S:w:", nullptr);
	int c;
	while ((c = r.next()) > 0) {
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
			o.smtp.reset();
			if (smtp::is_target(optarg)) {
				std::string why;
				if (!smtp::parse(optarg, &o.smtp.emplace(), &why)) {
					*error = "-S " + std::string(optarg) + ": " + why;
					return false;
				}
			}
			break;
		case 'w':
			if (!parse_deadline(optarg, &o.deadline, error))
				return false;
			break;
		}
	}
	if (c < 0) {
		*error = r.error();
		return false;
	}
	if (r.first_operand() < argc) {
		*error = "unexpected argument " + std::string(argv[r.first_operand()]);
		return false;
	}
	o.help = r.help();
	o.version = r.version();
	*out = o;
	return true;
}

} // namespace cmdline
