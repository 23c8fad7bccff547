// What code under test prints: captured in this process or in a child.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace testing_support {

// Standard output of body, run in this process.
template <typename F>
std::string captured_stdout(F body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

struct Ended {
    int status;       // exit status, or 128 + signal
    std::string out;  // standard output
};

// Runs body in a forked child with its standard output on a pipe; a body
// that returns ends the child with status 0.
Ended in_child(const std::function<void()> &body);

// Whole-text match of a POSIX extended regular expression.
bool matches(const std::string &text, const std::string &pattern);

}  // namespace testing_support
