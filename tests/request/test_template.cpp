#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/sandbox.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

struct Result {
    int status;
    std::string out;     // what reached the output stream
    std::string notice;  // what reached standard output
};

// Runs qSedStr into a memory stream, catching what it prints on stdout.
Result sed(q_entry *args, const char *text) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    testing::internal::CaptureStdout();
    int status = qSedStr(args, text, out);
    std::string notice = testing::internal::GetCapturedStdout();
    fclose(out);
    Result r{status, std::string(buf, len), notice};
    free(buf);
    return r;
}

TEST(Template, ArgumentsAreAddedReplacedAndRead) {
    q_entry *args = nullptr;
    args = qSedArgAdd(args, "${TITLE}", "%s %d", "Upgrade", 2);
    ASSERT_NE(args, nullptr);
    q_entry *head = args;
    EXPECT_EQ(qSedArgAdd(args, "${NAME}", "x"), head);
    EXPECT_EQ(qSedArgAdd(args, "${TITLE}", "%s", "again"), head);
    EXPECT_STREQ(qSedStrValue(args, "${TITLE}"), "again");
    EXPECT_STREQ(qSedStrValue(args, "${NAME}"), "x");
    EXPECT_EQ(qSedStrValue(args, "${NONE}"), nullptr);

    std::string big(65535, 'v');
    args = qSedArgAdd(args, "${BIG}", "%s", big.c_str());
    EXPECT_EQ(std::string(qSedStrValue(args, "${BIG}")), big);

    testing::internal::CaptureStdout();
    EXPECT_EQ(qSedArgPrint(args), 3);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("'${TITLE}' = 'again'<br>\n'${NAME}' = 'x'<br>\n"), std::string::npos);
    qSedArgFree(args);
    qResetContentFlag();

    EXPECT_FATAL(qSedArgAdd(nullptr, "", "x"), "^Error: qSedArgAdd\\(\\): can not add empty name\\.\n$");
    EXPECT_FATAL(qSedArgAdd(nullptr, "${A}", "%s", (big + "v").c_str()),
                 "^Error: qSedArgAdd\\(\\): Message is too long or invalid\\.\n$");
}

TEST(Template, PlaceholdersAreReplacedFirstMatchWins) {
    q_entry *args = qSedArgAdd(nullptr, "${A}", "1");
    qSedArgAdd(args, "${AB}", "2");
    qSedArgAdd(args, "$X", "short");
    qSedArgAdd(args, "$XY", "long");

    EXPECT_EQ(sed(args, "${AB}").out, "2");
    EXPECT_EQ(sed(args, "$5 costs ${A}.").out, "$5 costs 1.");
    EXPECT_EQ(sed(args, "$XY").out, "shortY") << "an earlier prefix hides the longer name";
    EXPECT_EQ(sed(args, "${A}${AB}$").out, "12$");
    EXPECT_EQ(sed(args, "<b>${B}</b>").out, "<b>${B}</b>");
    EXPECT_EQ(sed(args, "").out, "");
    EXPECT_EQ(sed(args, "").status, 1);
    EXPECT_EQ(sed(args, nullptr).status, 0);
    // Without arguments nothing is substituted.
    EXPECT_EQ(sed(nullptr, "${A} $5").out, "${A} $5");
    qSedArgFree(args);
}

TEST(Template, IncludesAreProcessedWithTheSameArguments) {
    testing_support::Sandbox box;
    box.write("/etc/inner.html", "[${V}]");
    box.write("/etc/outer.html", "(<!--#include file=\"/etc/inner.html\"-->)");
    q_entry *args = qSedArgAdd(nullptr, "${V}", "v");

    Result r = sed(args, "a<!--#include file=\"/etc/outer.html\"-->b");
    EXPECT_EQ(r.out, "a([v])b");
    EXPECT_EQ(r.notice, "");

    r = sed(args, "x<!--#include file=\"/etc/missing\"-->y");
    EXPECT_EQ(r.out, "xy");
    EXPECT_EQ(r.notice,
              "[qSedStr: an error occurred while processing 'include' directive - file(/etc/missing) open fail]");

    r = sed(args, "x<!--#include file=\"/etc/inner.html\" ${V}");
    EXPECT_EQ(r.out, "x!--#include file=\"/etc/inner.html\" v") << "the '<' is dropped, the rest goes on";
    EXPECT_EQ(r.notice,
              "[qSedStr: an error occurred while processing 'include' directive - ending tag not found]");

    // A name that does not fit the 1024-byte name buffer is never opened.
    std::string name = "/" + std::string(1100, 'n');
    r = sed(args, ("<!--#include file=\"" + name + "\"-->z").c_str());
    EXPECT_EQ(r.out, "z");
    EXPECT_EQ(r.notice, "[qSedStr: an error occurred while processing 'include' directive - file(" +
                            name.substr(0, 1023) + ") open fail]");

    // A file that includes itself stops after a bounded depth.
    box.write("/etc/loop.html", "L<!--#include file=\"/etc/loop.html\"-->");
    r = sed(args, "<!--#include file=\"/etc/loop.html\"-->");
    EXPECT_EQ(r.out, std::string(16, 'L'));
    EXPECT_EQ(r.notice,
              "[qSedStr: an error occurred while processing 'include' directive - file(/etc/loop.html) open fail]");

    // A file that includes itself three times would be opened 3^16 times:
    // one text opens at most 64 files, counted afresh for each text.
    box.write("/etc/fan.html", "F<!--#include file=\"/etc/fan.html\"--><!--#include file=\"/etc/fan.html\"-->"
                               "<!--#include file=\"/etc/fan.html\"-->");
    EXPECT_EQ(sed(args, "<!--#include file=\"/etc/fan.html\"-->").out, std::string(64, 'F'));
    EXPECT_EQ(sed(args, "<!--#include file=\"/etc/fan.html\"-->").out, std::string(64, 'F'));

    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    EXPECT_EQ(qSedFile(args, "/etc/outer.html", out), 1);
    EXPECT_EQ(qSedFile(args, "/etc/missing", out), 0);
    fclose(out);
    EXPECT_EQ(std::string(buf, len), "([v])");
    free(buf);
    qSedArgFree(args);
}

}  // namespace
