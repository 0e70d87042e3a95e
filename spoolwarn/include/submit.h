// SPDX-License-Identifier: ISC
// submit.h - handing a letter to the host's sendmail interface.
//
// Runs SENDMAIL with the arguments given (spoolwarn's: "-i -f <> LOGIN") and the
// letter on its standard input (its standard output goes to our standard
// error), and waits for it, at most deadline seconds from its start. The program runs in a process group of
// its own; past the deadline the whole group gets SIGTERM, and SIGKILL
// after another `grace` seconds, so neither it nor anything it started
// keeps the run. The letter counts as sent only when the program exits
// with status 0 within the deadline. Exit status EX_DATAERR or EX_NOUSER
// is the program's word that this letter or its recipient is refused for
// good; any other status, a signal, the deadline, or a program that cannot
// be run is a failure that may pass. Both are described in *why. The caller must have SIGPIPE ignored (the child gets
// it back at its default). Not thread-safe (fork).
#ifndef SPOOLWARN_SUBMIT_H
#define SPOOLWARN_SUBMIT_H

#include <string>
#include <string_view>
#include <vector>

namespace submit {

// Seconds between SIGTERM and SIGKILL for a program past its deadline.
inline constexpr int grace = 5;

enum class Result { sent, refused, failed, late };

// refused: EX_DATAERR or EX_NOUSER; late: the deadline passed and the
// program was stopped.
Result run(const std::string &sendmail, const std::vector<std::string> &args,
           std::string_view letter, int deadline, std::string *why);

} // namespace submit

#endif
