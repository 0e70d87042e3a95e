// SPDX-License-Identifier: ISC
// cmdline.h - the command line of spoolwarn.
//
//   spoolwarn [-n] [-p PERCENT[,PERCENT...]] [-S SENDMAIL] [-w SECONDS]
//   spoolwarn --help | --version
//
// parse() reads argv with getopt_long (its global state: call it from one
// thread) and returns a bad command line as a message for the caller to
// print ("unknown option -x", "option -p needs a value", ...); it prints
// nothing itself.
#ifndef SPOOLWARN_CMDLINE_H
#define SPOOLWARN_CMDLINE_H

#include <optional>
#include <string>
#include <vector>

#include "smtp.h"

namespace cmdline {

struct Options {
	bool dry_run = false;                        // -n
	std::vector<int> thresholds = {90};          // -p, ascending, no duplicates
	std::string sendmail = "/usr/sbin/sendmail"; // -S
	std::optional<smtp::Target> smtp;            // -S smtp:...: SMTP instead
	int deadline = 300;                          // -w, seconds per letter
	bool help = false;
	bool version = false;
};

// The usage line, ending in a newline.
extern const char usage[];

// Parses the whole command line into *out; false with *error set (no
// program name, no newline) on a bad one.
bool parse(int argc, char *argv[], Options *out, std::string *error);

// "P[,P...]": whole numbers from 1 to 100, each optionally followed by
// '%', in any order; the result ascending without duplicates.
bool parse_thresholds(const char *arg, std::vector<int> *out, std::string *error);

// The longest deadline -w takes, in seconds (a day).
inline constexpr int max_deadline = 86400;

} // namespace cmdline

#endif
