#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

struct Fields {
    char f[Q_AWK_MAX_FIELDS][Q_AWK_FIELD_SIZE];
};

TEST(Awk, SplitKeepsEmptyFields) {
    auto fields = std::make_unique<Fields>();
    struct Case {
        const char *line;
        char separator;
        std::vector<std::string> expected;
    };
    for (const Case &c : {Case{"a b  c", ' ', {"a", "b", "", "c"}}, Case{":x:", ':', {"", "x", ""}},
                          Case{"", ' ', {""}}, Case{"a b c", '\0', {"a b c"}}, Case{nullptr, ' ', {""}}}) {
        std::string line = c.line ? c.line : "";
        ASSERT_EQ(qAwkStr(fields->f, c.line ? line.data() : nullptr, c.separator),
                  static_cast<int>(c.expected.size()));
        EXPECT_EQ(std::vector<std::string>(fields->f, fields->f + c.expected.size()), c.expected);
    }
}

TEST(Awk, LongFieldsAreCutAndExtraFieldsStayInTheLastSlot) {
    auto fields = std::make_unique<Fields>();
    std::string line = std::string(3000, 'L') + " short";
    ASSERT_EQ(qAwkStr(fields->f, line.data(), ' '), 2);
    EXPECT_EQ(std::string(fields->f[0]), std::string(Q_AWK_FIELD_SIZE - 1, 'L'));
    EXPECT_STREQ(fields->f[1], "short");

    std::string many;
    for (int i = 0; i < Q_AWK_MAX_FIELDS + 10; ++i) many += std::to_string(i) + ",";
    ASSERT_EQ(qAwkStr(fields->f, many.data(), ','), Q_AWK_MAX_FIELDS);
    EXPECT_STREQ(fields->f[0], "0");
    EXPECT_STREQ(fields->f[Q_AWK_MAX_FIELDS - 2], "62");
    EXPECT_STREQ(fields->f[Q_AWK_MAX_FIELDS - 1], "63,64,65,66,67,68,69,70,71,72,73,");

    // The rest kept in the last slot is cut at the slot's capacity too.
    std::string wide(Q_AWK_MAX_FIELDS - 1, ',');
    wide += std::string(5000, 'w');
    ASSERT_EQ(qAwkStr(fields->f, wide.data(), ','), Q_AWK_MAX_FIELDS);
    EXPECT_EQ(strlen(fields->f[Q_AWK_MAX_FIELDS - 1]), static_cast<size_t>(Q_AWK_FIELD_SIZE - 1));
}

TEST(Awk, ReadsATrimmedFileLineByLineOneFileAtATime) {
    testing_support::Sandbox box;
    box.write("/etc/table", "  eth0 192.168.1.1  \r\n\nwan0 up\n");
    auto fields = std::make_unique<Fields>();

    EXPECT_EQ(qAwkClose(), 0) << "nothing open yet";
    ASSERT_EQ(qAwkOpen("/etc/table", ' '), 1);
    ASSERT_EQ(qAwkNext(fields->f), 2);
    EXPECT_STREQ(fields->f[0], "eth0");
    EXPECT_STREQ(fields->f[1], "192.168.1.1");
    ASSERT_EQ(qAwkNext(fields->f), 1);
    EXPECT_STREQ(fields->f[0], "");
    ASSERT_EQ(qAwkNext(fields->f), 2);
    EXPECT_STREQ(fields->f[1], "up");
    EXPECT_EQ(qAwkNext(fields->f), -1);
    EXPECT_EQ(qAwkClose(), 1);
    EXPECT_EQ(qAwkClose(), 0);

    // Another separator lasts until the close, which restores the space.
    box.write("/etc/colon", "a:b c\n");
    ASSERT_EQ(qAwkOpen("/etc/colon", ':'), 1);
    EXPECT_EQ(qAwkNext(fields->f), 2);
    EXPECT_EQ(qAwkClose(), 1);
    ASSERT_EQ(qAwkOpen("/etc/colon", ' '), 1);
    EXPECT_EQ(qAwkNext(fields->f), 2);
    EXPECT_STREQ(fields->f[0], "a:b");
    EXPECT_EQ(qAwkClose(), 1);

    EXPECT_EQ(qAwkOpen("/etc/missing", ' '), 0);
    EXPECT_EQ(qAwkClose(), 0);

    EXPECT_FATAL(qAwkNext(fields->f), "^Error: qAwkNext\\(\\): There is no opened handle\\.\n$");
    EXPECT_FATAL((qAwkOpen("/etc/table", ' '), qAwkOpen("/etc/table", ' ')),
                 "^Error: qAwkOpen\\(\\): There is already opened handle\\.\n$");
}

}  // namespace
