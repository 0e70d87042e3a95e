// SPDX-License-Identifier: ISC
// boxquota - the site's mailbox size limit policy.
//
// Interface (boxquota.h, C linkage): MinLimitUid, MailLimit, OverMailLimit.
// These three are the only global symbols of libboxquota.a; the delivery side
// links them from C, so this file uses the C library alone: no exceptions, no
// RTTI, no C++ runtime.
//
// File read: /var/mail/.boxquota, once per process, on the first call. It is
// read in pieces of at most 255 characters; a piece starting with '#' is a
// comment; a piece from which a leading decimal number converts is a value,
// any other piece is skipped. The first value is the lowest uid limited, the
// second the largest mailbox size allowed; reading stops there. A number out
// of the 32-bit range saturates.
//
// Diagnostics: none. Every failure leaves the limit off (both values 0), and
// so does a file that is not a regular file: it is opened without blocking
// and a FIFO or a device is never read.
//
// State: two process-wide integers, unlocked; the first call must not race
// with another first call. A first value of -1 equals the "not loaded" mark,
// so such a file is read again on every call (with the same outcome).
#include "boxquota.h"

#include "readconfig.h"
#include "rule.h"
#include "sitepaths.h"

namespace {

// --- private state -------------------------------------------------------
const char *config_path = site::limit_file;
int MinUser = -1; // -1: not loaded yet; 0: the limit applies to nobody
int MaxSize = -1; // largest permitted size; 0: no limit

void InitMailLimit()
{
	if (MinUser != -1)
		return;
	MaxSize = 0;
	MinUser = 0;

	int values[2];
	int count = limit::load_values(config_path, values);
	if (count >= 1)
		MinUser = values[0];
	if (count == 2)
		MaxSize = values[1];
}

} // namespace

extern "C" int MinLimitUid(void)
{
	InitMailLimit();
	return MinUser;
}

extern "C" int MailLimit(void)
{
	InitMailLimit();
	return MaxSize;
}

extern "C" int OverMailLimit(int uid, int size)
{
	InitMailLimit();
	return limit::over(MinUser, MaxSize, uid, size);
}

#ifdef BOXQUOTA_TEST_SEAM
// Test builds only: forget what was loaded and read path on the next call.
extern "C" void BoxquotaTestReset(const char *path)
{
	config_path = path;
	MinUser = -1;
	MaxSize = -1;
}
#endif
