#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/shell_quote.h"

namespace {

// What /bin/sh makes of "printf '<%s>' WORD": the arguments it really got.
std::string through_shell(const std::string &word) {
    std::string cmd = "printf '<%s>' " + word;
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

}  // namespace

TEST(ShellWord, PlainWordsStayAndEverythingElseIsOneArgument) {
    EXPECT_EQ(runtime::shell_word("192.168.1.10"), "192.168.1.10");
    EXPECT_EQ(runtime::shell_word("fe80::1"), "fe80::1");
    EXPECT_EQ(runtime::shell_word("/var/ap/firmware"), "/var/ap/firmware");
    EXPECT_EQ(runtime::shell_word(""), "''");
    EXPECT_EQ(runtime::shell_word("-x"), "'-x'");
    for (const std::string &hostile : std::vector<std::string>{"a;b", "a|b", "a&b", "$(id)", "`id`", "a'b", "a\"b", "a\nb", "${IFS}x", "-rf /",
                                "it's \\ 'quoted'", std::string(65536, 'z') + ";"}) {
        std::string word = runtime::shell_word(hostile);
        EXPECT_EQ(through_shell(word), "<" + hostile + ">") << hostile.substr(0, 40);
    }
}
