// SPDX-License-Identifier: ISC
// account_fixture.h - a password file in a temporary folder for account
// module tests, with the module's state reset around each test.
#ifndef TESTS_ACCOUNT_FIXTURE_H
#define TESTS_ACCOUNT_FIXTURE_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "getpwent.h"

class PasswdFile : public testing::Test {
protected:
	std::filesystem::path dir;
	std::string file; // the flat file; the database sits beside it

	void SetUp() override
	{
		char tmpl[] = "/tmp/account-test-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		file = (dir / "passwd").string();
		account::setpwfile(file.c_str());
	}

	void TearDown() override
	{
		write("x:x:1:1:::\n");
		account::setpassent(0);
		account::endpwent();
		account::setpwfile("/etc/passwd");
		std::filesystem::remove_all(dir);
	}

	void write(const std::string &content) const
	{
		std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
	}

	// Descriptors this process has open, to see that sources are closed.
	static int open_fds()
	{
		int n = 0;
		for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
			n += e.path().filename() != "." ? 1 : 0;
		return n;
	}

	// Privileged tests need root; under CI a skip would hide them.
	static bool need_root()
	{
		if (geteuid() == 0)
			return true;
		if (std::getenv("CI") != nullptr)
			ADD_FAILURE() << "CI is set but the tests do not run as root";
		return false;
	}
};

#endif
