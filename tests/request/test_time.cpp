#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <string>

#include "webadmin.h"

namespace {

bool same_local_date(const struct tm &q, time_t when) {
    struct tm t;
    localtime_r(&when, &t);
    return q.tm_year == t.tm_year + 1900 && q.tm_mon == t.tm_mon + 1 && q.tm_mday == t.tm_mday;
}

TEST(Time, LocalTimeHasFullYearAndMonthFromOne) {
    time_t before = time(nullptr);
    struct tm *t = qGetTime();
    time_t after = time(nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(same_local_date(*t, before) || same_local_date(*t, after))
        << t->tm_year << "-" << t->tm_mon << "-" << t->tm_mday;

    char *stamp = qGetTimeStamp();
    ASSERT_EQ(strlen(stamp), 14u);
    EXPECT_EQ(strspn(stamp, "0123456789"), 14u);
    const struct tm *now = qGetTime();
    char date[16];
    snprintf(date, sizeof date, "%04d%02d", now->tm_year, now->tm_mon);
    EXPECT_EQ(std::string(stamp, 6), date);
    EXPECT_EQ(qGetTimeStamp(), stamp) << "one static buffer";
}

TEST(Time, GmtText) {
    char buf[256];
    time_t now = time(nullptr);
    // Shifted back to the epoch; the result says which second was used.
    time_t used = qGetGMTime(buf, -now);
    ASSERT_GE(used, 0);
    ASSERT_LE(used, 1);
    EXPECT_STREQ(buf, used == 0 ? "Thu, 01-Jan-1970 00:00:00 GMT" : "Thu, 01-Jan-1970 00:00:01 GMT");

    now = time(nullptr);
    used = qGetGMTime(buf, 86400 * 365 + 3600 * 13 + 60 * 7 - now);
    EXPECT_EQ(strncmp(buf, "Fri, 01-Jan-1971 13:07:0", 24), 0) << buf;
    EXPECT_GE(qGetGMTime(nullptr, 0), now);
}

}  // namespace
