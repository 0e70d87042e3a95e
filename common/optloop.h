// SPDX-License-Identifier: ISC
// optloop.h - the shape of a tool's option loop, shared: getopt_long from
// the start of argv, stopping at the first operand ('+'), silent (opterr
// 0), with --help and --version taken here and every refusal worded by
// opterror.h. A tool hands its own options to a switch:
//
//   static const option longs[] = {{"json", no_argument, nullptr, 256}, {}};
//   optloop::Reader r(argc, argv, "+:at:", longs);
//   int c;
//   while ((c = r.next()) > 0)
//       switch (c) { case 'a': ...; case 't': ... optarg ...; }
//   if (c < 0) -> r.error() says what was refused
//   r.help(), r.version(); argv[r.first_operand()] and on: the operands
//
// The short options must begin with "+:"; a tool's long options must not
// use flag (getopt's flag pointer), nor the values of --help and
// --version below. Header-only. The Reader uses getopt's global state
// (optind, opterr, optarg): one at a time, from one thread.
#ifndef COMMON_OPTLOOP_H
#define COMMON_OPTLOOP_H

#include <getopt.h>

#include <string>
#include <vector>

#include "opterror.h"

namespace optloop {

// What getopt_long returns for the two long options every tool has.
inline constexpr int help_value = 0x10000;
inline constexpr int version_value = 0x10001;

class Reader {
public:
	// longs: the tool's own long options, ended by an entry whose name is
	// null; nullptr for none.
	Reader(int argc, char *argv[], const char *shorts, const option *longs)
	    : argc_(argc), argv_(argv), shorts_(shorts)
	{
		for (const option *o = longs; o != nullptr && o->name != nullptr; o++)
			longs_.push_back(*o);
		longs_.push_back({"help", no_argument, nullptr, help_value});
		longs_.push_back({"version", no_argument, nullptr, version_value});
		longs_.push_back({nullptr, 0, nullptr, 0});
		optind = 0; // start afresh, also on a second parse
		opterr = 0; // the messages are worded by opterror.h
	}

	// The next of the tool's own options (its letter or value; optarg
	// holds its value), 0 after the last, or -1 when getopt_long refused
	// one (error() says which and why).
	int next()
	{
		for (;;) {
			int c = getopt_long(argc_, argv_, shorts_, longs_.data(), nullptr);
			if (c == -1)
				return 0;
			if (c == help_value)
				help_ = true;
			else if (c == version_value)
				version_ = true;
			else if (c == ':' || c == '?') {
				error_ = opterror::describe(c, argv_, longs_.data());
				return -1;
			} else
				return c;
		}
	}

	bool help() const { return help_; }
	bool version() const { return version_; }
	const std::string &error() const { return error_; }
	// The index in argv of the first operand (argc when there is none),
	// once next() has returned 0.
	int first_operand() const { return optind; }

private:
	int argc_;
	char **argv_;
	const char *shorts_;
	std::vector<option> longs_;
	bool help_ = false;
	bool version_ = false;
	std::string error_;
};

} // namespace optloop

#endif
