#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/shell_quote.h"

TEST(ShellWord, PlainWordsStayAndEverythingElseIsOneArgument) {
    for (const char *plain : {"192.168.1.10", "fe80::1", "/var/ap/firmware"})
        EXPECT_EQ(runtime::shell_word(plain), plain);
    EXPECT_EQ(runtime::shell_word(""), "''");
    EXPECT_EQ(runtime::shell_word("-x"), "'-x'");
    for (const std::string &hostile :
         std::vector<std::string>{"a;b", "a|b", "a&b", "$(id)", "`id`", "a'b", "a\"b", "a\nb", "${IFS}x", "-rf /",
                                  "it's \\ 'quoted'", std::string(65536, 'z') + ";"}) {
        // What /bin/sh makes of "printf '<%s>' WORD": the argument it really got.
        FILE *p = popen(("printf '<%s>' " + runtime::shell_word(hostile)).c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[256];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
        EXPECT_EQ(out, "<" + hostile + ">") << hostile.substr(0, 40);
    }
}
