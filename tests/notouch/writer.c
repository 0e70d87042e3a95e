/* SPDX-License-Identifier: ISC */
/*
 * writer - a program that does one thing to the file system on request, so
 * the no-write check can be shown to catch each kind of change.
 *
 * Usage: writer ACTION PATH
 *   read      opens PATH read-only and copies it to standard output (allowed)
 *   create    opens PATH with O_WRONLY|O_CREAT|O_TRUNC
 *   rdwr      opens PATH with O_RDWR
 *   append    opens PATH with O_RDONLY|O_APPEND
 *   fdwrite   opens PATH read-only and writes to that descriptor (fails,
 *             but the attempt counts)
 *   rename    renames PATH to PATH.new
 *   unlink    removes PATH
 *   truncate  truncates PATH to 0 bytes
 *   chmod     makes PATH mode 600
 *   mkdir     makes the folder PATH.d
 *   symlink   makes PATH.ln pointing at PATH
 *   mmap      opens PATH read-only and maps it shared and writable (fails,
 *             but the attempt counts)
 * Exit: 0 when the action was carried out (or attempted, for fdwrite and
 * mmap), 1 when it failed, 64 on a usage error.
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static int open_only(const char *path, int flags)
{
	int fd = open(path, flags, 0644);
	if (fd < 0)
		return 1;
	close(fd);
	return 0;
}

static int copy_out(const char *path)
{
	char buf[512];
	ssize_t got;
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return 1;
	while ((got = read(fd, buf, sizeof buf)) > 0)
		if (write(1, buf, (size_t)got) != got)
			break;
	close(fd);
	return got == 0 ? 0 : 1;
}

static int map_shared(const char *path)
{
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return 1;
	void *p = mmap(NULL, 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	if (p != MAP_FAILED)
		munmap(p, 1);
	close(fd);
	return 0;
}

static int fd_write(const char *path)
{
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return 1;
	if (write(fd, "x", 1) < 0) {
		/* refused, as it must be on a read-only descriptor */
	}
	close(fd);
	return 0;
}

int main(int argc, char **argv)
{
	char other[4096];
	if (argc != 3 || strlen(argv[2]) + 8 > sizeof other)
		return 64;
	const char *a = argv[1], *path = argv[2];
	if (strcmp(a, "read") == 0)
		return copy_out(path);
	if (strcmp(a, "create") == 0)
		return open_only(path, O_WRONLY | O_CREAT | O_TRUNC);
	if (strcmp(a, "rdwr") == 0)
		return open_only(path, O_RDWR);
	if (strcmp(a, "append") == 0)
		return open_only(path, O_RDONLY | O_APPEND);
	if (strcmp(a, "fdwrite") == 0)
		return fd_write(path);
	if (strcmp(a, "truncate") == 0)
		return truncate(path, 0) == 0 ? 0 : 1;
	if (strcmp(a, "unlink") == 0)
		return unlink(path) == 0 ? 0 : 1;
	if (strcmp(a, "chmod") == 0)
		return chmod(path, 0600) == 0 ? 0 : 1;
	if (strcmp(a, "mmap") == 0)
		return map_shared(path);
	const char *suffix = "new";
	if (strcmp(a, "mkdir") == 0)
		suffix = "d";
	else if (strcmp(a, "symlink") == 0)
		suffix = "ln";
	snprintf(other, sizeof other, "%s.%s", path, suffix);
	if (strcmp(a, "rename") == 0)
		return rename(path, other) == 0 ? 0 : 1;
	if (strcmp(a, "mkdir") == 0)
		return mkdir(other, 0755) == 0 ? 0 : 1;
	if (strcmp(a, "symlink") == 0)
		return symlink(path, other) == 0 ? 0 : 1;
	return 64;
}
