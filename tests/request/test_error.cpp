#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "support/capture.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::Ended;
using testing_support::error_page;
using testing_support::in_child;
using testing_support::matches;

class Error : public testing::Test {
protected:
    void SetUp() override {
        for (const char *name : {"REMOTE_ADDR", "REMOTE_HOST", "HTTP_USER_AGENT"}) unsetenv(name);
        qResetContentFlag();
    }
};

TEST_F(Error, OutsideAWebServerPrintsAPlainLineAndOverlongMessagesAreReplaced) {
    Ended e = in_child([] { qError("bad %s %d", "value", 7); });
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, "Error: bad value 7\n");

    std::string fits(1023, 'm');
    e = in_child([&] { qError("%s", fits.c_str()); });
    EXPECT_EQ(e.out, "Error: " + fits + "\n");
    e = in_child([&] { qError("%s", (fits + "m").c_str()); });
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, "qError(): Message is too long or invalid.");
}

TEST_F(Error, InsideAWebServerPrintsTheAlertPage) {
    setenv("REMOTE_ADDR", "192.168.1.10", 1);
    Ended e = in_child([] { qError("Upload failed"); });
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, error_page("Upload failed"));

    // After the header block only the page; the contact follows the message directly.
    e = in_child([] {
        qContentType("text/html");
        qErrorContact(" - call the administrator");
        qError("x");
    });
    EXPECT_EQ(e.out, error_page("x - call the administrator"));

    // A null contact removes it again.
    e = in_child([] {
        qErrorContact("C");
        qErrorContact(nullptr);
        qError("y");
    });
    EXPECT_EQ(e.out, error_page("y"));
}

TEST_F(Error, LogLineAndLoggingFailure) {
    testing_support::Sandbox box;
    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    setenv("HTTP_USER_AGENT", "Agent/1.0", 1);
    Ended e = in_child([] {
        qErrorLog("/tmp/cgi.err");
        qError("first");
    });
    EXPECT_EQ(e.status, 1);
    e = in_child([] {
        setenv("REMOTE_HOST", "admin.lan", 1);
        qErrorLog("/tmp/cgi.err");
        qError("second");
    });
    std::string log = box.read("/tmp/cgi.err");
    EXPECT_TRUE(matches(log,
                        "[0-9]{4}/[0-9]{2}/[0-9]{2}\\([0-9]{2}:[0-9]{2}\\) : 'first' from 10\\.1\\.1\\.1 \\(Agent/1\\.0\\)\n"
                        "[0-9/]{10}\\([0-9:]{5}\\) : 'second' from admin\\.lan \\(Agent/1\\.0\\)\n"))
        << log;
    EXPECT_EQ(e.out, error_page("second"));

    unsetenv("HTTP_USER_AGENT");
    unsetenv("REMOTE_ADDR");
    e = in_child([] {
        qErrorLog("/tmp/cgi.err");
        qError("third");
    });
    EXPECT_EQ(e.out, "Error: third\n");
    log = box.read("/tmp/cgi.err");
    EXPECT_NE(log.find(") : 'third' from null (null)\n"), std::string::npos) << log;

    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    e = in_child([] {
        qErrorContact("!");
        qErrorLog("/no/such/dir/cgi.err");
        qError("lost");
    });
    EXPECT_EQ(e.out, error_page("lost! [ERROR LOGGING FAIL]"));
}

void fail_again(int) { qError("second"); }

TEST_F(Error, ASecondErrorWhileReportingEndsAtOnce) {
    testing_support::Sandbox box;
    // The page cannot be written (the reader is gone); the broken pipe's
    // handler reports again, which must end the process without a second log line.
    Ended e = in_child([] {
        int fds[2];
        if (pipe(fds) != 0) _exit(9);
        close(fds[0]);
        dup2(fds[1], 1);
        signal(SIGPIPE, fail_again);
        qErrorLog("/tmp/cgi.err");
        qError("first");
    });
    EXPECT_EQ(e.status, 1);
    std::string log = box.read("/tmp/cgi.err");
    EXPECT_NE(log.find("'first'"), std::string::npos);
    EXPECT_EQ(log.find("'second'"), std::string::npos) << log;
}

TEST_F(Error, ResetStateForgetsLogContactAndHeader) {
    testing_support::Sandbox box;
    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    Ended e = in_child([] {
        qErrorLog("/tmp/cgi.err");
        qErrorContact(" contact");
        qContentType("text/html");
        qResetState();
        qError("plain");
    });
    EXPECT_EQ(e.out, "Content-Type: text/html\n\n" + error_page("plain"));
    EXPECT_FALSE(box.exists("/tmp/cgi.err"));
}

}  // namespace
