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

std::string local_date(int days) {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    t.tm_hour = 12;
    t.tm_min = t.tm_sec = 0;
    t.tm_isdst = -1;
    t.tm_mday += days;
    mktime(&t);
    char text[16];
    strftime(text, sizeof text, "%Y%m%d", &t);
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
    char *again = M("%s", "129th");
    EXPECT_EQ(again, first);
    EXPECT_STREQ(first, "129th");

    std::string long_text(700, 'x');
    char *cut = M("%s", long_text.c_str());
    EXPECT_EQ(strlen(cut), 511u);
}

TEST(Format, XasprintfAndMyStringBuildHeapTexts) {
    char *text = format_list("%s=%d", "port", 8080);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "port=8080");
    free(text);
    EXPECT_EQ(format_list("%ls", kUnwritable), nullptr);

    char *a = my_string(nullptr, "%s", "a");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a, "a");
    // The first text is freed by the call (the sanitizer build checks it).
    char *ab = my_string(a, "%c", 'b');
    ASSERT_NE(ab, nullptr);
    EXPECT_STREQ(ab, "ab");
    char *page = my_string(ab, "<td>%d</td>", 7);
    EXPECT_STREQ(page, "ab<td>7</td>");
    // A failed format consumes the text it was to extend.
    EXPECT_EQ(my_string(page, "%ls", kUnwritable), nullptr);
    EXPECT_EQ(my_string(nullptr, "%ls", kUnwritable), nullptr);
}

TEST(Format, GetDateCountsDaysFromToday) {
    for (int days : {0, 1, -1, 31, -366, 3650}) EXPECT_EQ(my_getDate(days), local_date(days)) << days;
    char *first = my_getDate(0);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_getDate(1), first);
    EXPECT_EQ(my_getDate(2), first);
    // Dates past the year 9999 have no eight-digit form.
    EXPECT_STREQ(my_getDate(INT_MAX), "");
    EXPECT_STREQ(my_getDate(INT_MIN), "");
}
