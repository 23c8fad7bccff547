// Binding a library at run time: all its symbols or none.
#include <gtest/gtest.h>

#include "runtime/library_binding.h"

namespace {

TEST(LibraryBinding, AMissingSymbolLeavesNothingBound) {
    void *handle = nullptr;
    size_t (*length)(const char *) = nullptr;
    void (*missing)(void) = nullptr;
    const char *const paths[] = {"/no/such/libc.so", "libc.so.6"};
    const runtime::LibrarySymbol both[] = {{"strlen", &length}, {"wa_no_such_symbol", &missing}};
    EXPECT_FALSE(runtime::bind_library(handle, paths, 2, both, 2));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(length, nullptr) << "a pointer into the closed library was left";

    // The second path serves when the first does not load.
    EXPECT_TRUE(runtime::bind_library(handle, paths, 2, both, 1));
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length("four"), 4u);
    EXPECT_FALSE(runtime::bind_library(handle, paths, 1, both, 1));  // the old handle is closed first
    EXPECT_EQ(handle, nullptr);
}

}  // namespace
