// The CGI run as the web server runs it: which page each request gets.
#include <gtest/gtest.h>

#include "support/sandbox.h"

using namespace testing_support;

namespace {

const std::string kHeader = "Content-Type: text/html\n\n";
const std::string kKills = "/bin/kill -9 mysqld > /dev/null 2>&1\n/bin/kill -9 VazaRorire > /dev/null 2>&1\n";

std::map<std::string, std::string> get(const std::string &query, const std::string &user = "admin") {
    std::map<std::string, std::string> env = {{"REQUEST_METHOD", "GET"},
                                              {"QUERY_STRING", query},
                                              {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"},
                                              {"REMOTE_ADDR", "192.168.1.10"}};
    if (!user.empty()) env["REMOTE_USER"] = user;
    return env;
}

bool is_form(const std::string &out) { return out.find("<form name=\"upgrade\"") != std::string::npos; }
bool is_alert(const std::string &out) { return out.find("history.back(1)") != std::string::npos; }

}  // namespace

TEST(Dispatch, RequestNumberSelectsThePage) {
    Sandbox box;
    for (const char *query : {"", "menu=x", "q=0", "q=abc"}) {
        // An empty query string decodes nothing: the request ends in silence.
        Output r = run_cgi(box, get(query));
        EXPECT_EQ(r.status, 0);
        if (*query == '\0') {
            EXPECT_EQ(r.out, "");
            continue;
        }
        EXPECT_EQ(r.out.substr(0, kHeader.size()), kHeader) << query;
        EXPECT_TRUE(is_form(r.out)) << query;
    }
    for (const char *query : {"q=4", "q=255", "q=-1"}) {
        Output r = run_cgi(box, get(query));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kHeader) << query;
    }
    EXPECT_EQ(run_cgi(box, get("q=3")).out, kHeader + "1");
    EXPECT_NE(run_cgi(box, get("q=2")).out.find("Upgrade Help Comment"), std::string::npos);
}

TEST(Dispatch, PrivilegeDecidesBetweenFormAndAlert) {
    Sandbox box;
    // The viewer may look but not upload: a posted q=1 gives the form back,
    // without the upload machinery.
    Output viewer = run_cgi(box, get("q=1", "viewer"));
    EXPECT_TRUE(is_form(viewer.out));
    EXPECT_EQ(viewer.out.find("multipart/form-data"), std::string::npos);

    for (const std::string user : {"", "nobody", "Admin"}) {
        EXPECT_TRUE(is_alert(run_cgi(box, get("q=0", user)).out)) << user;
        EXPECT_TRUE(is_alert(run_cgi(box, get("q=1", user)).out)) << user;
        // Help and preparation do not depend on the privilege.
        EXPECT_NE(run_cgi(box, get("q=2", user)).out.find("Upgrade Help Comment"), std::string::npos);
        EXPECT_EQ(run_cgi(box, get("q=3", user)).out, kHeader + "1");
    }
    EXPECT_EQ(run_cgi(box, get("q=0", "nobody")).out,
              kHeader +
                  "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                  "<script>alert('You are not allowed to view this page.');history.back(1);</script>\n"
                  "</head></html>\n");
}

TEST(Dispatch, DatabaseDaemonsStopOnlyWithoutStorage) {
    {
        Sandbox box;
        // Even a request that is refused later, or one that decodes nothing.
        run_cgi(box, get("q=9"));
        run_cgi(box, get(""));
        EXPECT_EQ(box.commands(), kKills + kKills);
    }
    for (const char *def : {"HAVE_HARDDISK=y", "HAVE_BOOT_FAKE_HARDDISK=Yes", "HAVE_EXTERNAL_USB=y"}) {
        Sandbox box({def});
        run_cgi(box, get("q=0"));
        EXPECT_EQ(box.commands(), "") << def;
    }
    Sandbox box({"HAVE_HARDDISK=no"});
    run_cgi(box, get("q=0"));
    EXPECT_EQ(box.commands(), kKills);
}

TEST(Dispatch, MissingProductDataGivesTheHeaderAlone) {
    Sandbox box;
    box.write("/etc/system.info", "short");
    EXPECT_EQ(run_cgi(box, get("q=0")).out, kHeader);
    Sandbox other;
    std::remove(other.file("/etc/html.info").c_str());
    EXPECT_EQ(run_cgi(other, get("q=2")).out, kHeader);
}
