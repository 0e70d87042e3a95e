// SPDX-License-Identifier: ISC
// options.h - the command line of boxpolicy.
//
//   boxpolicy [-t] [-d CHARS] [-i SECONDS] [-w SECONDS] [-l BYTES] [-r BYTES]
//             [-a COUNT] [DOMAIN...]
//   boxpolicy --help | --version
//
// parse() reads argv with getopt_long (so it uses and resets getopt's global
// state: call it from one thread) and returns a bad command line as a
// message for the caller to print; it prints nothing itself.
#ifndef POLICY_OPTIONS_H
#define POLICY_OPTIONS_H

#include <string>

#include "judge.h"
#include "request.h"

namespace options {

struct Options {
	judge::Settings settings; // DOMAIN... (lower-cased) and -d
	request::Limits limits;   // -l, -r, -a
	int idle = 300;           // -i: seconds an idle client is kept
	int request_time = 10;    // -w: seconds a request may take from its first byte
	bool temporary = false;   // -t: 452 4.2.2 instead of 552 5.2.2
	bool help = false;
	bool version = false;
};

// The usage synopsis, ending in a newline.
extern const char usage[];
// The help text that follows it for --help.
extern const char help[];

// Parses the whole command line into *out. On a bad command line returns
// false and sets *error to the reason (no program name, no newline).
bool parse(int argc, char *argv[], Options *out, std::string *error);

} // namespace options

#endif
