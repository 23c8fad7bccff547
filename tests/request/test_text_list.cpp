// Text lists of "name = value" lines from texts and files.
#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"
#include "support/request_env.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

const char kText[] =
    "# settings\n"
    "  name = value with spaces  \r\n"
    "\n"
    "   \t\n"
    "url=http://host/?a=b\n"
    "  # indented comment\n"
    "flag\n"
    "=anonymous\n"
    "count = 42\n"
    "name=second\n"
    "last=%41+";

TEST(TextList, LinesBecomeTrimmedPairsInOrderAndAreWalkedByName) {
    EXPECT_EQ(qsDecoder(nullptr), nullptr);
    EXPECT_EQ(qsDecoder("# only a comment\n\n"), nullptr);

    q_entry *list = qsDecoder(kText);
    EXPECT_EQ(pairs(list), (Pairs{{"name", "value with spaces"},
                                  {"url", "http://host/?a=b"},
                                  {"flag", ""},
                                  {"", "anonymous"},
                                  {"count", "42"},
                                  {"name", "second"},
                                  {"last", "%41+"}}));  // not URL-decoded
    EXPECT_STREQ(qsValue(list, "name"), "value with spaces");
    EXPECT_STREQ(qsValue(list, "%s", "url"), "http://host/?a=b");
    EXPECT_EQ(qsValue(list, "missing"), nullptr);
    EXPECT_EQ(qsValue(nullptr, "name"), nullptr);
    EXPECT_EQ(qsiValue(list, "count"), 42);
    EXPECT_EQ(qsiValue(list, "name"), 0);

    EXPECT_EQ(qsValueFirst(nullptr, "name"), nullptr);
    EXPECT_STREQ(qsValueFirst(list, "name"), "value with spaces");
    EXPECT_STREQ(qsValueNext(), "second");
    EXPECT_EQ(qsValueNext(), nullptr);
    EXPECT_EQ(qsValueNext(), nullptr);
    // Freeing the list being walked ends the walk.
    EXPECT_STREQ(qsValueFirst(list, "name"), "value with spaces");
    qsFree(list);
    EXPECT_EQ(qsValueNext(), nullptr);
}

TEST(TextList, FileDecoderAndPrint) {
    TempRoot root;
    std::string path = root.file("/list.conf");
    root.write("/list.conf", "a = 1\n#b = 2\nc=3\n");

    EXPECT_EQ(qfDecoder(root.file("/missing.conf").c_str()), nullptr);
    q_entry *list = qfDecoder(path.c_str());
    EXPECT_EQ(pairs(list), (Pairs{{"a", "1"}, {"c", "3"}}));

    qResetContentFlag();
    int printed = -1;
    std::string out = captured_stdout([&] { printed = qsPrint(list); });
    EXPECT_EQ(printed, 2);
    EXPECT_EQ(out, "Content-Type: text/html\n\n'a' = '1'<br>\n'c' = '3'<br>\n");
    qsFree(list);
}

TEST(TextListDeath, NamesTooLongStop) {
    q_entry *list = qsDecoder("a=1\n");
    const std::string name(1024, 'n');
    EXPECT_STOPS(qsValue(list, "%s", name.c_str()), "qsValue(): Message is too long or invalid.");
    EXPECT_STOPS(qsiValue(list, "%s", name.c_str()), "qsiValue(): Message is too long or invalid.");
    EXPECT_STOPS(qsValueFirst(list, "%s", name.c_str()), "qfValueFirst(): Message is too long or invalid.");
    EXPECT_EQ(qsValue(list, "%s", std::string(1023, 'n').c_str()), nullptr);
    qsFree(list);
}

}  // namespace
