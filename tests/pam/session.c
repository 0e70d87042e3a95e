/* SPDX-License-Identifier: ISC */
// session - opens and closes one PAM session as a login application does, and
// tells what the modules did, for the tests of pam_spoolnag.
//
// Usage: session CONFDIR SERVICE USER [silent] [convfail] [twice] [log]
//                [again-without=FILE]
//
// Reads the service's configuration from CONFDIR (pam_start_confdir), opens a
// session for USER (with PAM_SILENT when "silent" is given) and closes it;
// with "twice" it does so twice in the one transaction.
// Its conversation answers no prompt and prints every message as it comes,
// as "info: TEXT" or "error: TEXT" (a newline inside TEXT printed as \n);
// with "convfail" it then reports a failure. Then, one a line: "open:
// RESULT", "env: SPOOLNAG_SHOWN=VALUE" or "env: unset" (the PAM environment
// after the opening), "close: RESULT". With again-without=FILE it then
// removes FILE, prints "again:" and does it all once more in a new
// transaction. With "log" it first binds a datagram socket at /dev/log (the
// caller gives it a private /dev) and ends with what the modules logged
// there, one "log: TEXT" line each, debug messages left out, TEXT what
// follows the syslog header ("pam_spoolnag(SERVICE:session): ..."). Exit 0
// when it ran, 1 when PAM could not be started or the socket not made.
#include <security/pam_appl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int conv_fails;
static int sessions = 1;

static void print_escaped(const char *what, const char *text)
{
	printf("%s: ", what);
	for (const char *p = text; *p != '\0'; p++) {
		if (*p == '\n')
			fputs("\\n", stdout);
		else
			putchar(*p);
	}
	putchar('\n');
}

static int conversation(int n, const struct pam_message **msg, struct pam_response **resp,
                        void *data)
{
	(void)data;
	for (int i = 0; i < n; i++) {
		switch (msg[i]->msg_style) {
		case PAM_TEXT_INFO:
			print_escaped("info", msg[i]->msg);
			break;
		case PAM_ERROR_MSG:
			print_escaped("error", msg[i]->msg);
			break;
		default:
			print_escaped("prompt", msg[i]->msg);
			return PAM_CONV_ERR;
		}
	}
	*resp = NULL;
	return conv_fails ? PAM_CONV_ERR : PAM_SUCCESS;
}

static int run(const char *confdir, const char *service, const char *user, int flags)
{
	struct pam_conv conv = {conversation, NULL};
	pam_handle_t *pamh = NULL;
	int r = pam_start_confdir(service, user, &conv, confdir, &pamh);
	if (r != PAM_SUCCESS) {
		fprintf(stderr, "session: pam_start_confdir: %s\n", pam_strerror(pamh, r));
		return 1;
	}
	for (int i = 0; i < sessions; i++) {
		r = pam_open_session(pamh, flags);
		printf("open: %s\n", pam_strerror(pamh, r));
		const char *shown = pam_getenv(pamh, "SPOOLNAG_SHOWN");
		if (shown != NULL)
			printf("env: SPOOLNAG_SHOWN=%s\n", shown);
		else
			puts("env: unset");
		if (r == PAM_SUCCESS) {
			r = pam_close_session(pamh, flags);
			printf("close: %s\n", pam_strerror(pamh, r));
		}
	}
	pam_end(pamh, r);
	fflush(stdout);
	return 0;
}

// The syslog reader at /dev/log: a socket descriptor, or -1.
static int log_socket(void)
{
	struct sockaddr_un addr = {.sun_family = AF_UNIX, .sun_path = "/dev/log"};
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0 || bind(fd, (const struct sockaddr *)&addr, sizeof addr) != 0) {
		perror("session: /dev/log");
		return -1;
	}
	return fd;
}

// Prints the messages waiting at fd, but those of priority debug.
static void print_log(int fd)
{
	char msg[4096];
	ssize_t n;
	while ((n = recv(fd, msg, sizeof msg - 1, MSG_DONTWAIT)) > 0) {
		msg[n] = '\0';
		// "<PRIORITY>Mmm dd hh:mm:ss IDENT: TEXT"
		int priority = 0;
		if (sscanf(msg, "<%d>", &priority) != 1 || LOG_PRI(priority) == LOG_DEBUG)
			continue;
		const char *text = strchr(msg, '>');
		text = text != NULL ? strstr(text, ": ") : NULL;
		if (text != NULL)
			print_escaped("log", text + 2);
	}
}

int main(int argc, char **argv)
{
	if (argc < 4) {
		fputs("usage: session CONFDIR SERVICE USER [silent] [convfail] [twice] [log] "
		      "[again-without=FILE]\n",
		      stderr);
		return 2;
	}
	int flags = 0;
	const char *remove = NULL;
	int log = -1;
	for (int i = 4; i < argc; i++) {
		if (strcmp(argv[i], "silent") == 0)
			flags |= PAM_SILENT;
		else if (strcmp(argv[i], "convfail") == 0)
			conv_fails = 1;
		else if (strcmp(argv[i], "twice") == 0)
			sessions = 2;
		else if (strcmp(argv[i], "log") == 0 && (log = log_socket()) < 0)
			return 1;
		else if (strncmp(argv[i], "again-without=", 14) == 0)
			remove = argv[i] + 14;
	}
	int status = run(argv[1], argv[2], argv[3], flags);
	if (status == 0 && remove != NULL) {
		if (unlink(remove) != 0) {
			perror(remove);
			return 1;
		}
		puts("again:");
		status = run(argv[1], argv[2], argv[3], flags);
	}
	if (log >= 0) {
		closelog();
		print_log(log);
	}
	fflush(stdout);
	return status;
}
