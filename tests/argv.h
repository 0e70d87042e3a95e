// SPDX-License-Identifier: ISC
// argv.h - a command line for the option parsers under test: the program's
// name and the words, in writable strings the object owns (getopt may
// permute them), ended by a null pointer. Valid while the object lives.
#ifndef TESTS_ARGV_H
#define TESTS_ARGV_H

#include <string>
#include <vector>

class Argv {
public:
	Argv(const char *program, const std::vector<const char *> &words) : store_{program}
	{
		store_.insert(store_.end(), words.begin(), words.end());
		for (std::string &w : store_)
			ptrs_.push_back(w.data());
		ptrs_.push_back(nullptr);
	}
	Argv(const Argv &) = delete;
	Argv &operator=(const Argv &) = delete;

	int argc() const { return static_cast<int>(store_.size()); }
	char **argv() { return ptrs_.data(); }

private:
	std::vector<std::string> store_;
	std::vector<char *> ptrs_;
};

#endif
