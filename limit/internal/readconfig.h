// SPDX-License-Identifier: ISC
// readconfig.h - reading the values of the limit configuration file
// (internal header). The library loads the limit with it and report tools
// explain an unused limit with it, so both read the file alike. Internal
// linkage: nothing here is exported from libboxquota.a.
#ifndef LIMIT_READCONFIG_H
#define LIMIT_READCONFIG_H

#include <unistd.h>

#include <cstdio>

#include "decimal.h"
#include "regular.h"

namespace limit {

// Reads fp in pieces of at most 255 characters, skipping pieces that start
// with '#' or from which no decimal number converts, until two values are
// read. Stores them in values and returns how many were read (0 to 2).
static inline int read_values(FILE *fp, int values[2])
{
	int count = 0;
	char piece[256];
	while (count < 2 && std::fgets(piece, sizeof piece, fp) != nullptr) {
		if (piece[0] == '#')
			continue;
		int converted = 0;
		int value = decimal::leading_int(piece, &converted);
		if (converted)
			values[count++] = value;
	}
	return count;
}

// Opens the file at path as the library does (a regular file only) and
// reads its values as read_values does; 0 when it cannot be opened.
static inline int load_values(const char *path, int values[2])
{
	int fd = regular::open_file(path);
	if (fd < 0)
		return 0;
	FILE *fp = ::fdopen(fd, "r");
	if (fp == nullptr) {
		::close(fd);
		return 0;
	}
	int count = read_values(fp, values);
	std::fclose(fp);
	return count;
}

} // namespace limit

#endif
