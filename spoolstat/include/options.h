// SPDX-License-Identifier: ISC
// options.h - the command line of spoolstat.
//
//   spoolstat [-a] [-t PERCENT] [--what-if MIN:MAX] [--json]
//   spoolstat --help | --version
//
// parse() reads argv with getopt_long (so it uses and resets getopt's global
// state: not reentrant, call it from one thread) and reports a bad command
// line as a message for the caller to print; it prints nothing itself.
#ifndef SPOOLSTAT_OPTIONS_H
#define SPOOLSTAT_OPTIONS_H

#include <string>

namespace options {

// A proposed limit: the two values the configuration file would hold.
struct Proposal {
	int min_user = 0;
	int max_size = 0;
};

struct Options {
	bool all = false;     // -a: every account the limit applies to
	int percent = -1;     // -t: also those at or above this share; -1: none
	bool what_if = false; // --what-if given: judge by proposal instead
	Proposal proposal;
	bool json = false;    // --json
	bool help = false;    // --help
	bool version = false; // --version
};

// The usage synopsis, ending in a newline.
extern const char usage[];

// Parses the whole command line into *out. On a bad command line returns
// false and sets *error to the reason (no program name, no newline).
bool parse(int argc, char *argv[], Options *out, std::string *error);

// "MIN:MAX", two decimal numbers (optional '-') in the signed 32-bit range
// joined by one colon, nothing else. False with *error set otherwise;
// numbers out of range are refused, never cut down.
bool parse_proposal(const char *arg, Proposal *out, std::string *error);

// A whole number from 0 to 100, optionally followed by '%'.
bool parse_percent(const char *arg, int *out, std::string *error);

} // namespace options

#endif
