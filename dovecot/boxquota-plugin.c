/* SPDX-License-Identifier: ISC */
/* boxquota-plugin - the Dovecot quota backend "boxquota": a user's quota
 * root shows the size of their system mailbox (/var/mail/<login>) against
 * the site's limit (/var/mail/.boxquota), both as the verdict gives them
 * (verdict_c.h), so that IMAP clients show the limit that the login warning
 * and the SMTP policy service apply, and Dovecot's own quota checks refuse
 * what the limit refuses.
 *
 * Dovecot 2.3's quota plugin does the rest: GETQUOTAROOT/GETQUOTA answer
 * from get_resource() and the limit set by init_limits(); LMTP, dovecot-lda
 * and IMAP APPEND/COPY refuse a message when usage + message size is over
 * the limit, the same sum as the verdict's. For an account the limit does
 * not cover, the root has no limit, and Dovecot shows none. Only INBOX is
 * the limit's: saving into any other folder is never refused by this root.
 *
 * The module is loaded after lib10_quota_plugin.so, whose symbols it uses.
 * It exports only its init, deinit, version and dependencies; everything
 * linked into it (libverdict, libboxquota) stays local. Dovecot runs one
 * mail user at a time per process, single-threaded: so does this. */
#include "lib.h"
#include "mail-storage-private.h"
#include "mail-user.h"
#include "module-dir.h"
#include "quota-private.h"

#include "verdict_c.h"

#define BOXQUOTA_EXPORT __attribute__((visibility("default")))

/* A root of ours; the quota settings' test_alloc it replaced, for the one
 * root that installed the wrapper. */
struct boxquota_root {
	struct quota_root root;
	enum quota_alloc_result (*next_test_alloc)(struct quota_transaction_context *ctx,
	                                           uoff_t size, const char **error_r);
};

BOXQUOTA_EXPORT extern const char *boxquota_plugin_version;
BOXQUOTA_EXPORT extern const char *boxquota_plugin_dependencies[];
BOXQUOTA_EXPORT void boxquota_plugin_init(struct module *module);
BOXQUOTA_EXPORT void boxquota_plugin_deinit(void);

const char *boxquota_plugin_version = DOVECOT_ABI_VERSION;
const char *boxquota_plugin_dependencies[] = {"quota", NULL};

static struct quota_backend quota_backend_boxquota;

/* The verdict on the root's user: login and uid as Dovecot's userdb gave
 * them (the uid the mail processes run as). */
static void boxquota_ask(struct quota_root *root, struct verdict_c *v)
{
	const struct mail_user *user = root->quota->user;

	verdict_c_judge(user->username, user->uid, 0, v);
}

/* The limit in bytes as Dovecot is to apply it, where 0 means none. The
 * limit file may give a negative largest size, under which every covered
 * mailbox is over, an empty one too: that is shown as a limit of 1 byte,
 * with usage raised to at least 1 (boxquota_usage), so that Dovecot finds
 * the mailbox full and refuses whatever comes. */
static int64_t boxquota_limit(const struct verdict_c *v)
{
	if (v->covered == 0)
		return 0;
	return v->max_size > 0 ? (int64_t)v->max_size : 1;
}

static uint64_t boxquota_usage(const struct verdict_c *v)
{
	if (v->covered != 0 && v->max_size < 0 && v->size < 1)
		return 1;
	return v->size > 0 ? (uint64_t)v->size : 0;
}

static struct quota_root *boxquota_alloc(void)
{
	struct boxquota_root *root = i_new(struct boxquota_root, 1);

	return &root->root;
}

/* The quota settings' test_alloc, wrapped: with this root alone, a folder
 * other than INBOX is not the limit's business and never refused. (With
 * several roots Dovecot asks match_box() instead, and the others still
 * judge every folder.) */
static enum quota_alloc_result boxquota_test_alloc(struct quota_transaction_context *ctx,
                                                   uoff_t size, const char **error_r)
{
	struct quota_root *const *rootp;
	struct boxquota_root *ours = NULL;

	array_foreach(&ctx->quota->roots, rootp)
	{
		if ((*rootp)->backend.name == quota_backend_boxquota.name &&
		    ((struct boxquota_root *)*rootp)->next_test_alloc != NULL) {
			ours = (struct boxquota_root *)*rootp;
			break;
		}
	}
	i_assert(ours != NULL);
	if (array_count(&ctx->quota->roots) == 1 && !ctx->box->inbox_user)
		return QUOTA_ALLOC_RESULT_OK;
	return ours->next_test_alloc(ctx, size, error_r);
}

static int boxquota_init(struct quota_root *_root, const char *args, const char **error_r)
{
	struct boxquota_root *root = (struct boxquota_root *)_root;
	struct quota_settings *set = _root->quota->set;

	/* hidden, ignoreunlimited, noenforcing, ns= as Dovecot's own */
	if (quota_root_default_init(_root, args, error_r) < 0)
		return -1;
	/* The mailbox is measured afresh at every look: nothing to count. */
	_root->auto_updating = TRUE;
	if (set->test_alloc != boxquota_test_alloc) {
		root->next_test_alloc = set->test_alloc;
		set->test_alloc = boxquota_test_alloc;
	}
	return 0;
}

static void boxquota_deinit(struct quota_root *_root)
{
	struct boxquota_root *root = (struct boxquota_root *)_root;

	/* Dovecot drops a root at once when it has nothing to track
	   (ignoreunlimited): the settings must not keep the wrapper then. */
	if (root->next_test_alloc != NULL && _root->quota->set->test_alloc == boxquota_test_alloc)
		_root->quota->set->test_alloc = root->next_test_alloc;
	i_free(root);
}

static int boxquota_init_limits(struct quota_root *root, const char **error_r ATTR_UNUSED)
{
	struct verdict_c v;

	boxquota_ask(root, &v);
	root->bytes_limit = boxquota_limit(&v);
	root->count_limit = 0;
	return 0;
}

static const char *const *boxquota_get_resources(struct quota_root *root ATTR_UNUSED)
{
	static const char *resources[] = {QUOTA_NAME_STORAGE_KILOBYTES, NULL};

	return resources;
}

static enum quota_get_result boxquota_get_resource(struct quota_root *root, const char *name,
                                                   uint64_t *value_r, const char **error_r)
{
	struct verdict_c v;

	if (strcmp(name, QUOTA_NAME_STORAGE_BYTES) != 0) {
		*error_r = QUOTA_UNKNOWN_RESOURCE_ERROR_STRING;
		return QUOTA_GET_RESULT_UNKNOWN_RESOURCE;
	}
	boxquota_ask(root, &v);
	*value_r = boxquota_usage(&v);
	root->bytes_limit = boxquota_limit(&v);
	return QUOTA_GET_RESULT_LIMITED;
}

static int boxquota_update(struct quota_root *root ATTR_UNUSED,
                           struct quota_transaction_context *ctx ATTR_UNUSED,
                           const char **error_r ATTR_UNUSED)
{
	return 0;
}

/* Only the user's INBOX, the mailbox in /var/mail, is under this root. */
static bool boxquota_match_box(struct quota_root *root ATTR_UNUSED, struct mailbox *box)
{
	return box->inbox_user;
}

static struct quota_backend quota_backend_boxquota = {
    .name = "boxquota",
    .v =
        {
            .alloc = boxquota_alloc,
            .init = boxquota_init,
            .deinit = boxquota_deinit,
            .init_limits = boxquota_init_limits,
            .get_resources = boxquota_get_resources,
            .get_resource = boxquota_get_resource,
            .update = boxquota_update,
            .match_box = boxquota_match_box,
        },
};

void boxquota_plugin_init(struct module *module ATTR_UNUSED)
{
	quota_backend_register(&quota_backend_boxquota);
}

void boxquota_plugin_deinit(void)
{
	quota_backend_unregister(&quota_backend_boxquota);
}
