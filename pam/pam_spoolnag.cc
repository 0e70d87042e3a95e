// SPDX-License-Identifier: ISC
// pam_spoolnag - PAM session module: when a session opens, tells the user
// whose system mailbox is over the site's limit, with the same rule, the same
// measurement and the same words as spoolnag.
//
// pam_sm_open_session finds PAM_USER with the system's own account lookup,
// asks the verdict (verdict.h) about /var/mail/<login> with the user's
// file-system rights (pam_modutil_drop_priv: uid and primary group, no
// supplementary groups), and sends the warning, when over, as one
// PAM_TEXT_INFO message. A mailbox that cannot be examined for a reason
// other than its absence counts as empty, as for spoolnag, but the check is
// then blind: that is logged once per cause while the module stays loaded.
// Having judged, it sets SPOOLNAG_SHOWN=pam in the PAM environment, so the
// login hook stays quiet. It never fails a login: PAM_SUCCESS once judged,
// PAM_IGNORE when it could not judge; only a failure to regain privileges,
// which leaves the process with the user's file-system identity, is
// PAM_SESSION_ERR. pam_sm_close_session does nothing.
//
// Options: debug (details to syslog); others are logged and ignored.
// Diagnostics: pam_syslog (LOG_AUTHPRIV), errors always, details with debug.
// State: which causes of a blind check have been logged; the account lookup
// and the limit keep theirs, all for as long as the module stays loaded
// (pam_spoolnag(8)). Not thread-safe.
// Exports only the two pam_sm_ functions (pam_spoolnag.map).
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <security/pam_modutil.h>
#include <syslog.h>

#include <cstring>

#include "getpwent.h"
#include "mailbox.h"
#include "verdict.h"
#include "warning.h"

namespace {

// Tells the login hook, through the session's environment, that the check
// has been made for this login.
constexpr char shown[] = "SPOOLNAG_SHOWN=pam";

bool parse_debug(pam_handle_t *pamh, int argc, const char **argv)
{
	bool debug = false;
	for (int i = 0; i < argc; i++) {
		if (std::strcmp(argv[i], "debug") == 0)
			debug = true;
		else
			pam_syslog(pamh, LOG_ERR, "unknown option: %s", argv[i]);
	}
	return debug;
}

enum class Judged { yes, not_dropped, not_regained };

// Asks the verdict with the user's rights, as spoolnag run by the user
// would; the rights are regained before it returns.
Judged judge(pam_handle_t *pamh, const passwd &pw, verdict::Verdict *v)
{
	gid_t groups[PAM_MODUTIL_NGROUPS];
	pam_modutil_privs privs{
	    groups, PAM_MODUTIL_NGROUPS, 0, static_cast<gid_t>(-1), static_cast<uid_t>(-1), 0};
	if (pam_modutil_drop_priv(pamh, &privs, &pw) != 0)
		return Judged::not_dropped;
	*v = verdict::judge(pw);
	if (pam_modutil_regain_priv(pamh, &privs) != 0)
		return Judged::not_regained;
	return Judged::yes;
}

// Logs a blind check, the first time its cause (an errno value) is met: an
// administrator needs to learn it once, not at every login.
void log_blind(pam_handle_t *pamh, const char *user, const verdict::Verdict &v)
{
	static bool logged[256];
	unsigned cause = static_cast<unsigned>(v.error) < sizeof logged
	                     ? static_cast<unsigned>(v.error)
	                     : sizeof logged - 1;
	if (logged[cause])
		return;
	logged[cause] = true;
	pam_syslog(pamh, LOG_WARNING,
	           "%s: cannot examine the mailbox (%s), so it counts as empty and the limit "
	           "is not enforced for it",
	           user, std::strerror(v.error));
}

} // namespace

extern "C" int pam_sm_open_session(pam_handle_t *pamh, int flags, int argc, const char **argv)
{
	bool debug = parse_debug(pamh, argc, argv);
	if ((static_cast<unsigned>(flags) & PAM_SILENT) != 0)
		return PAM_IGNORE;

	const void *item = nullptr;
	if (pam_get_item(pamh, PAM_USER, &item) != PAM_SUCCESS || item == nullptr ||
	    *static_cast<const char *>(item) == '\0') {
		if (debug)
			pam_syslog(pamh, LOG_DEBUG, "no user name");
		return PAM_IGNORE;
	}
	const char *user = static_cast<const char *>(item);
	// Accounts of other name services are unknown here, as they are to
	// spoolnag: not worth an error at every login.
	const passwd *found = account::getpwnam(user);
	if (found == nullptr) {
		if (debug)
			pam_syslog(pamh, LOG_DEBUG, "%s: no such account in the password file",
			           user);
		return PAM_IGNORE;
	}
	// The record's strings stay valid: no other lookup call is made.
	passwd pw = *found;

	// The path only names the mailbox in the log; the verdict makes its own.
	// A name too long for a path leaves it empty.
	char path[mailbox::path_size];
	(void)mailbox::path(path, pw.pw_name);

	verdict::Verdict v;
	switch (judge(pamh, pw, &v)) {
	case Judged::yes:
		break;
	case Judged::not_regained:
		pam_syslog(pamh, LOG_CRIT, "cannot regain privileges after examining %s", path);
		return PAM_SESSION_ERR;
	case Judged::not_dropped:
		pam_syslog(pamh, LOG_ERR, "%s: cannot take the user's rights; mailbox not examined",
		           user);
		return PAM_IGNORE;
	}
	if (verdict::blind(v))
		log_blind(pamh, user, v);
	if (debug)
		pam_syslog(pamh, LOG_DEBUG, "%s: %lld bytes, limit %d for uid %d and above: %s",
		           path, v.size, v.limit.max_size, v.limit.min_uid,
		           v.over ? "over" : "within");
	if (pam_putenv(pamh, shown) != PAM_SUCCESS)
		pam_syslog(pamh, LOG_ERR, "cannot set %s", shown);
	if (!v.over)
		return PAM_SUCCESS;

	char text[warning::text_size];
	std::size_t n = warning::format(text, pw.pw_name, v.size, v.limit.max_size);
	// The conversation ends each message with a newline itself, so the
	// text's last one is left to it: the user sees what spoolnag prints.
	if (n < sizeof text && n > 0) {
		int shown_len = static_cast<int>(n - 1);
		int r = pam_info(pamh, "%.*s", shown_len, text);
		if (r != PAM_SUCCESS && debug)
			pam_syslog(pamh, LOG_DEBUG, "the conversation failed: %s",
			           pam_strerror(pamh, r));
	}
	return PAM_SUCCESS;
}

extern "C" int pam_sm_close_session(pam_handle_t *, int, int, const char **)
{
	return PAM_SUCCESS;
}
