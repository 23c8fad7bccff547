// Death-test checks for the library's fatal stops (qError and friends).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace testing_support {

// The death-test pattern of a stop with this message: outside a web server
// the library prints "Error: MESSAGE".
std::string stop_message(const std::string &message);

}  // namespace testing_support

// The statement ends the process with status 1 printing what matches pattern;
// the stop is printed outside a web server and sent to stderr, where the
// death test looks.
#define EXPECT_FATAL(statement, pattern)   \
    EXPECT_EXIT(                           \
        {                                  \
            unsetenv("REMOTE_ADDR");       \
            dup2(2, 1);                    \
            statement;                     \
        },                                 \
        testing::ExitedWithCode(1), pattern)

// The statement stops with exactly this message.
#define EXPECT_STOPS(statement, message) EXPECT_FATAL(statement, testing_support::stop_message(message))
