// SPDX-License-Identifier: ISC
// accounts - the accounts for boxpolicy (accounts.h).
//
// The files are looked at before the lookup is opened, never after: a file
// replaced in between then shows as changed at the next request and the
// lookup is opened once more, where the other order could keep an old file
// open for good.
#include "accounts.h"

#include <sys/stat.h>

#include "getpwent.h"

namespace accounts {
namespace {

const char *const watched[] = {"/etc/passwd", "/etc/passwd.pag", "/etc/passwd.dir"};

bool same_time(const timespec &a, const timespec &b)
{
	return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

System::~System()
{
	if (open_)
		account::endpwent();
}

bool System::changed()
{
	bool differs = false;
	for (std::size_t i = 0; i < std::size(watched); i++) {
		Seen now;
		now.present = ::stat(watched[i], &now.st) == 0;
		const Seen &was = seen_[i];
		if (now.present != was.present ||
		    (now.present &&
		     (now.st.st_dev != was.st.st_dev || now.st.st_ino != was.st.st_ino ||
		      now.st.st_size != was.st.st_size ||
		      !same_time(now.st.st_mtim, was.st.st_mtim) ||
		      !same_time(now.st.st_ctim, was.st.st_ctim))))
			differs = true;
		seen_[i] = now;
	}
	return differs;
}

const passwd *System::find(const char *login)
{
	if (changed() || !open_) {
		if (open_)
			account::endpwent();
		open_ = account::setpassent(1) != 0;
	}
	return account::getpwnam(login);
}

} // namespace accounts
