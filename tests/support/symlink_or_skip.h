#pragma once
// For tests that make symbolic links: ends the test when making one failed (error is the
// std::error_code of the attempt). Skipped on Windows, where making a link takes a privilege
// the test may not hold (and Wine makes none); a failure everywhere else.

#include <gtest/gtest.h>

#if defined(_WIN32)
#define KESTREL_REQUIRE_SYMLINK(error)                                                             \
    if (error)                                                                                     \
    GTEST_SKIP() << "Windows: no symbolic link can be made here (" << (error).message()            \
                 << "): it takes a privilege, and Wine makes none"
#else
#define KESTREL_REQUIRE_SYMLINK(error) ASSERT_FALSE(error) << (error).message()
#endif
