#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#include <climits>
#include <set>
#include <string>

#include "webadmin.h"

namespace {

char *format_list(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *format_list(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = xasprintf(format, args);
    va_end(args);
    return text;
}

// A wide character no multibyte locale can write: formatting it fails.
const wchar_t kUnwritable[] = {static_cast<wchar_t>(0xD800), 0};

}  // namespace

TEST(Format, MRotatesThroughOneHundredTwentyEightBuffers) {
    char *first = M("%s-%d", "first", 1);
    EXPECT_STREQ(first, "first-1");
    std::set<char *> seen{first};
    for (int i = 2; i <= 128; ++i) seen.insert(M("%d", i));
    EXPECT_EQ(seen.size(), 128u);
    EXPECT_STREQ(first, "first-1");  // still valid after 127 further calls
    EXPECT_EQ(M("%s", "129th"), first);
    EXPECT_STREQ(first, "129th");
    EXPECT_EQ(strlen(M("%s", std::string(700, 'x').c_str())), 511u);
}

TEST(Format, XasprintfAndMyStringBuildHeapTexts) {
    char *text = format_list("%s=%d", "port", 8080);
    EXPECT_STREQ(text, "port=8080");
    free(text);
    EXPECT_EQ(format_list("%ls", kUnwritable), nullptr);

    // Each call frees the text it extends (the sanitizer build checks it).
    char *page = my_string(my_string(my_string(nullptr, "%s", "a"), "%c", 'b'), "<td>%d</td>", 7);
    EXPECT_STREQ(page, "ab<td>7</td>");
    // A failed format consumes the text it was to extend.
    EXPECT_EQ(my_string(page, "%ls", kUnwritable), nullptr);
    EXPECT_EQ(my_string(nullptr, "%ls", kUnwritable), nullptr);
}

TEST(Format, GetDateCountsDaysFromToday) {
    for (int days : {0, 1, -1, 31, -366, 3650}) {
        time_t now = time(nullptr);
        struct tm t;
        localtime_r(&now, &t);
        t.tm_hour = 12;
        t.tm_min = t.tm_sec = 0;
        t.tm_isdst = -1;
        t.tm_mday += days;
        mktime(&t);
        char expected[16];
        strftime(expected, sizeof expected, "%Y%m%d", &t);
        EXPECT_STREQ(my_getDate(days), expected) << days;
    }
    char *first = my_getDate(0);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_getDate(1), first);
    EXPECT_EQ(my_getDate(2), first);
    // Dates past the year 9999 have no eight-digit form.
    EXPECT_STREQ(my_getDate(INT_MAX), "");
    EXPECT_STREQ(my_getDate(INT_MIN), "");
}
