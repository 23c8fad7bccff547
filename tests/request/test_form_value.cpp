// The qValue family over the form value list: lookups, iteration, adding,
// removing, replacing, the group of an entry, and the stops on bad names.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/capture.h"
#include "support/request_env.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

TEST(FormValue, LookupsDecodeOnFirstUse) {
    Request r(Env{{"HTTP_COOKIE", "lang=eng"}, {"QUERY_STRING", "q=3&MULTI_LANG=&n=12x&q=4&item7=seven"}});
    EXPECT_STREQ(qValue("q"), "3");  // no qDecoder call before
    EXPECT_STREQ(qValue("item%d", 7), "seven");
    EXPECT_EQ(qValue("Q"), nullptr);
    EXPECT_EQ(qiValue("n"), 12);
    EXPECT_EQ(qiValue("missing"), 0);
    EXPECT_STREQ(qValueDefault("eng", "MULTI_LANG"), "eng");  // present but empty
    EXPECT_STREQ(qValueDefault("eng", "ABSENT"), "eng");
    EXPECT_STREQ(qValueDefault("x", "q"), "3");
    EXPECT_STREQ(qValueNotEmpty("needed", "lang"), "eng");
    EXPECT_EQ(qDecoder(), -1);
    // A 1023-character name fits; it is simply absent.
    EXPECT_EQ(qValue("%s", std::string(1023, 'n').c_str()), nullptr);
}

TEST(FormValue, FirstAndNextWalkEveryValueOfAName) {
    Request r(Env{{"HTTP_COOKIE", "q=5"}, {"QUERY_STRING", "q=1&x=0&q=2"}, {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}},
              "q=3");
    EXPECT_STREQ(qValueFirst("%s", "q"), "5");
    EXPECT_STREQ(qValueNext(), "1");
    EXPECT_STREQ(qValueNext(), "2");
    EXPECT_STREQ(qValueNext(), "3");
    EXPECT_EQ(qValueNext(), nullptr);
    EXPECT_EQ(qValueNext(), nullptr);
    EXPECT_EQ(qValueFirst("none"), nullptr);
    EXPECT_EQ(qValueNext(), nullptr);

    // Removing the name being walked ends the walk.
    EXPECT_STREQ(qValueFirst("q"), "5");
    qValueRemove("q");
    EXPECT_EQ(qValueNext(), nullptr);
    EXPECT_STREQ(qValueFirst("x"), "0");
    EXPECT_EQ(qValueNext(), nullptr);
}

TEST(FormValue, AddRemoveAndTheGroupOfEachName) {
    Request r(Env{{"HTTP_COOKIE", "c=1"}, {"QUERY_STRING", "g=2"}, {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}},
              "p=3");
    EXPECT_STREQ(qValueAdd("n", "%d-%s", 7, "x"), "7-x");
    EXPECT_EQ(qValueType("n"), 'N');
    EXPECT_STREQ(qValueAdd("n", "8"), "8");  // replaced in place, still one new name
    EXPECT_STREQ(qValueAdd("g", "two"), "two");
    EXPECT_EQ(qValueType("g"), 'G');
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 1 , POST = 1, NEW = 1\n");

    EXPECT_STREQ(qCookieValue("c"), "1");
    EXPECT_EQ(qCookieValue("g"), nullptr);
    EXPECT_EQ(qCookieValue("none"), nullptr);

    qValueRemove("g");
    EXPECT_EQ(qValue("g"), nullptr);
    EXPECT_EQ(qValueType("p"), 'P');
    EXPECT_EQ(qValueType("n"), 'N');
    qValueRemove("n");
    qValueRemove("absent");
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 0 , POST = 1, NEW = 0\n");

    // qFree forgets the counts; the next read decodes the request again.
    qFree();
    EXPECT_STREQ(qValue("c"), "1");
    EXPECT_STREQ(qValue("g"), "2");
}

TEST(FormValue, AddToAnEmptyRequestStartsTheList) {
    Request r(Env{});
    EXPECT_EQ(qValueType("other"), '-');
    EXPECT_STREQ(qValueAdd("only", "v"), "v");
    EXPECT_EQ(form_list(), (Pairs{{"only", "v"}}));
    EXPECT_EQ(qValueType("only"), 'N');
}

TEST(FormValue, ReplaceReturnsNewStringsOrEditsEveryEntry) {
    Request r(Env{{"QUERY_STRING", "t=a-b_c&t=x-y&u=aaa"}});
    char *fresh = qValueReplace("tn", "t", "-_", "");
    EXPECT_STREQ(fresh, "abc");
    free(fresh);
    fresh = qValueReplace("sn", "u", "aa", "b");
    EXPECT_STREQ(fresh, "ba");
    free(fresh);
    EXPECT_STREQ(qValue("t"), "a-b_c");  // 'n' leaves the list alone
    EXPECT_EQ(qValueReplace("sn", "none", "a", "b"), nullptr);

    EXPECT_STREQ(qValueReplace("tr", "t", "-", "+"), "a+b_c");
    EXPECT_STREQ(qValueFirst("t"), "a+b_c");
    EXPECT_STREQ(qValueNext(), "x+y");
    EXPECT_STREQ(qValueReplace("sr", "u", "a", "bb"), "bbbbbb");
    EXPECT_STREQ(qValue("u"), "bbbbbb");
    EXPECT_EQ(qValueReplace("sr", "none", "a", "b"), nullptr);
}

TEST(FormValue, PrintListsEntriesAndCounts) {
    Request r(Env{{"QUERY_STRING", "a=1&b=%3Cx%3E"}});
    qResetContentFlag();
    int printed = 0;
    EXPECT_EQ(captured_stdout([&] { printed = qValuePrint(); }),
              "Content-Type: text/html\n\n'a' = '1'<br>\n'b' = '<x>'<br>\n<hr>\n"
              "COOKIE = 0 , GET = 2 , POST = 0, NEW = 0\n");
    EXPECT_EQ(printed, 2);
}

TEST(FormValueDeath, BadNamesAndModesStop) {
    Request r(Env{{"QUERY_STRING", "empty=&x=1"}});
    const std::string long_name(1024, 'n');
    const char *name = long_name.c_str();
    const std::string too_long = "(): Message is too long or invalid.";
    EXPECT_STOPS(qValue("%s", name), "qValue" + too_long);
    EXPECT_STOPS(qValueType("%s", name), "qValue" + too_long);
    EXPECT_STOPS(qCookieValue("%s", name), "qValue" + too_long);
    EXPECT_STOPS(qiValue("%s", name), "qiValue" + too_long);
    EXPECT_STOPS(qValueDefault("d", "%s", name), "qValueDefault" + too_long);
    EXPECT_STOPS(qValueNotEmpty("e", "%s", name), "qValueNotEmpty" + too_long);
    EXPECT_STOPS(qValueFirst("%s", name), "qValueFirst" + too_long);
    EXPECT_STOPS(qValueRemove("%s", name), "qSessionRemove" + too_long);
    EXPECT_STOPS(qValueAdd("n", "%s", name), "qValueAdd" + too_long);

    EXPECT_STOPS(qValueNotEmpty("Choose a file.", "empty"), "Choose a file.");
    EXPECT_STOPS(qValueNotEmpty("Choose a file.", "absent"), "Choose a file.");
    EXPECT_STOPS(qValueAdd("", "v"), "qValueAdd(): can not add empty name.");
    EXPECT_STOPS(qValueRemove("%s", ""), "qValueRemove(): can not remove empty name.");
    for (const std::string mode : {"sx", "s", "srr", "rn"})
        EXPECT_STOPS(qValueReplace(mode.c_str(), "x", "1", "2"), "qValueReplace(): Unknown mode \"" + mode + "\".");
}

}  // namespace
