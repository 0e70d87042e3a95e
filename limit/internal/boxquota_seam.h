// SPDX-License-Identifier: ISC
// boxquota_seam.h - test-only entry into the limit module (target
// boxquota_seam). Not part of the installed interface.
#ifndef BOXQUOTA_SEAM_H
#define BOXQUOTA_SEAM_H

// Forgets the loaded limit; the next call reads path instead of the real
// configuration file. path must stay valid while it is in use.
extern "C" void BoxquotaTestReset(const char *path);

#endif
