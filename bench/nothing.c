/* SPDX-License-Identifier: ISC */
/* nothing - a statically linked program that does nothing: the floor of
 * starting and ending a process, for whole-process timings. Exit 0. */
int main(void)
{
	return 0;
}
