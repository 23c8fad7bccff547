// Record identifiers, their marks and the class marks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>

#include "webadmin.h"

namespace {

class RecordId : public testing::Test {
protected:
    void SetUp() override {
        const char *tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz) tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_) setenv("TZ", tz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void zone(const char *tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    bool had_tz_ = false;
    std::string tz_;
};

TEST_F(RecordId, TimeOfAnIdentifierIsItsDateTakenAsUtc) {
    EXPECT_EQ(gTime("19700101000100"), 60);
    EXPECT_STREQ(id2mark("19700101000100"), "0000003C");
    EXPECT_EQ(id2mark("1970010100010"), nullptr);
    EXPECT_EQ(id2mark(nullptr), nullptr);
    EXPECT_STREQ(id2mark("19700230000000"), "00000000");

    // Every field is checked; leap days only in leap years.
    for (const char *bad : {"19691231235959", "20240001000000", "20241301000000", "20240100000000",
                            "20240132000000", "20230229000000", "21000229000000", "20240101240000",
                            "20240101006000", "20240101000060", "2024010100000x", "2024-1-1000000",
                            " 2024010100000", "202401010000000", ""})
        EXPECT_EQ(gTime(bad), 0) << bad;
    EXPECT_NE(gTime("20000229000000"), 0);
    EXPECT_NE(gTime("20240229235959"), 0);

    // Against the C library over the dates its time_t holds (to 2037 on the
    // appliance, to 9999 here).
    const int years = sizeof(time_t) == 4 ? 68 : 8030;
    std::mt19937 random(11);
    for (int i = 0; i < 2000; ++i) {
        struct tm t {};
        t.tm_year = 70 + static_cast<int>(random() % years);
        t.tm_mon = static_cast<int>(random() % 12);
        t.tm_mday = 1 + static_cast<int>(random() % 31);
        t.tm_hour = static_cast<int>(random() % 24);
        t.tm_min = static_cast<int>(random() % 60);
        t.tm_sec = static_cast<int>(random() % 60);
        char id[32];
        std::snprintf(id, sizeof id, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
        struct tm normalised = t;
        const int64_t expected = timegm(&normalised);
        const bool real_date = normalised.tm_mday == t.tm_mday;  // 31 April rolls over
        ASSERT_EQ(static_cast<int64_t>(gTime(id)), real_date ? expected : 0) << id;
        char mark[16];
        std::snprintf(mark, sizeof mark, "%08X", static_cast<uint32_t>(real_date ? expected : 0));
        ASSERT_STREQ(id2mark(id), mark) << id;
    }

    for (int year : {1972, 2000, 2024, 2400}) EXPECT_EQ(isLeapYear(year), 1) << year;
    for (int year : {1970, 1971, 1900, 2023, 2100}) EXPECT_EQ(isLeapYear(year), 0) << year;
}

TEST_F(RecordId, IdentifierIsTheLocalTimeAndRotatesThroughItsBuffers) {
    zone("UTC");
    EXPECT_STREQ(my_chainID(31536000), "19710101000000");
    zone("CET-1");
    EXPECT_STREQ(my_chainID(31536000), "19710101010000");
    EXPECT_EQ(gTime(my_chainID(31536000)), 31536000 + 3600);

    zone("UTC");
    const time_t before = std::time(nullptr);
    const time_t now = gTime(my_chainID(0));
    EXPECT_GE(now, before);
    EXPECT_LE(now, std::time(nullptr));
    EXPECT_EQ(std::string(my_chainID(-5)).size(), 14u);

    // A text stays until its buffer comes round: 64 identifiers later.
    char *first = my_chainID(1);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_chainID(2), first);
    EXPECT_STREQ(first, "19700101000001");
    EXPECT_EQ(my_chainID(2), first);
    EXPECT_STREQ(first, "19700101000002");
}

TEST_F(RecordId, ClassMarksSpanTheirRangeAndFollowTheSeed) {
    int lowest = 8000, highest = 0;
    for (unsigned seed = 1; seed <= 5000; ++seed) {
        const int n = my_rand_num(seed);
        ASSERT_GE(n, 1000);
        ASSERT_LE(n, 7999);
        lowest = std::min(lowest, n);
        highest = std::max(highest, n);
    }
    EXPECT_LT(lowest, 1050);
    EXPECT_GT(highest, 7950);
    EXPECT_EQ(my_rand_num(42), my_rand_num(42));
    const int mark = std::atoi(my_classmark());
    EXPECT_GE(mark, 1000);
    EXPECT_LE(mark, 7999);
    EXPECT_EQ(std::string(my_classmark()).size(), 4u);
}

}  // namespace
