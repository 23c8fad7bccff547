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

}  // namespace

TEST(Dispatch, RequestNumberSelectsThePage) {
    Sandbox box;
    // An empty query string decodes nothing: the request ends in silence.
    Output r = run_cgi(box, get(""));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    for (const char *query : {"menu=x", "q=0", "q=abc"}) {
        r = run_cgi(box, get(query));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(kHeader, 0), 0u) << query;
        EXPECT_NE(r.out.find("<form name=\"upgrade\""), std::string::npos) << query;
    }
    for (const char *query : {"q=4", "q=255", "q=-1"}) {
        r = run_cgi(box, get(query));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kHeader) << query;
    }
}

TEST(Dispatch, PrivilegeDecidesBetweenFormAndAlert) {
    Sandbox box;
    // Help and preparation do not depend on the privilege.
    for (const std::string user : {"admin", "viewer", "", "nobody", "Admin"}) {
        EXPECT_NE(run_cgi(box, get("q=2", user)).out.find("Upgrade Help Comment"), std::string::npos) << user;
        EXPECT_EQ(run_cgi(box, get("q=3", user)).out, kHeader + "1") << user;
    }
    // The form and the upload only for the administrator and the viewer.
    const std::string alert = kHeader +
                              "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                              "<script>alert('You are not allowed to view this page.');history.back(1);</script>\n"
                              "</head></html>\n";
    for (const std::string user : {"", "nobody", "Admin"}) {
        EXPECT_EQ(run_cgi(box, get("q=0", user)).out, alert) << user;
        EXPECT_EQ(run_cgi(box, get("q=1", user)).out, alert) << user;
    }
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
