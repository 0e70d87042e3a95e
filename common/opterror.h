// SPDX-License-Identifier: ISC
// opterror.h - one wording, in every program, for the options getopt_long
// refuses:
//   unknown option -x
//   unknown option --foo
//   option --foo takes no argument
//   option -x needs a value          (or option --foo needs a value)
// The program prints the text after its name ("PROG: unknown option -x"),
// then its usage on standard error, and exits EX_USAGE. The option is named
// as the user wrote it: the letter alone from a cluster such as -xt, a long
// option's word without its "=value".
//
// Header-only. describe() reads getopt's globals (optind, optopt): call it
// right after getopt_long refused, from the thread that called it.
#ifndef COMMON_OPTERROR_H
#define COMMON_OPTERROR_H

#include <getopt.h>

#include <string>
#include <string_view>

namespace opterror {

// Whether the long option with value val takes no argument.
inline bool takes_no_argument(const option *longs, int val)
{
	for (const option *o = longs; o->name != nullptr; o++)
		if (o->flag == nullptr && o->val == val)
			return o->has_arg == no_argument;
	return false;
}

// What getopt_long refused, as text without the program's name or a
// newline. c is what it returned: ':' for a missing value (the short
// options string must begin with ':') or '?'; argv and longs are what it
// was given, and opterr must have been 0.
inline std::string describe(int c, const char *const argv[], const option *longs)
{
	// A long option is always the word just passed over; a short one may be
	// inside a cluster whose word is not passed over yet, so optopt names it.
	std::string_view word = optind > 0 ? argv[optind - 1] : "";
	std::string name(word.substr(0, word.find('=')));
	bool long_word = word.starts_with("--");
	std::string letter = std::string("-") + static_cast<char>(optopt);
	if (c == ':')
		return "option " + (long_word ? name : letter) + " needs a value";
	if (optopt == 0)
		return "unknown option " + name;
	// A known long option given a value: optopt holds its value, and the
	// word its "=value". An unknown letter from a cluster after such a word
	// is no long option's value.
	if (long_word && word.find('=') != std::string_view::npos &&
	    takes_no_argument(longs, optopt))
		return "option " + name + " takes no argument";
	return "unknown option " + letter;
}

} // namespace opterror

#endif
