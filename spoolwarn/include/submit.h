// SPDX-License-Identifier: ISC
// submit.h - handing a letter to the host's sendmail interface.
//
// Runs SENDMAIL with the arguments given (spoolwarn's: "-i -f <> LOGIN")
// and the letter on its standard input (its standard output goes to our
// standard error), and waits for it. The letter
// counts as sent only when the program exits with status 0; an exit status
// other than 0, a signal, or a program that cannot be run is a failure,
// described in *why. The caller must have SIGPIPE ignored (the child gets
// it back at its default). Not thread-safe (fork).
#ifndef SPOOLWARN_SUBMIT_H
#define SPOOLWARN_SUBMIT_H

#include <string>
#include <string_view>
#include <vector>

namespace submit {

bool run(const std::string &sendmail, const std::vector<std::string> &args, std::string_view letter,
         std::string *why);

} // namespace submit

#endif
