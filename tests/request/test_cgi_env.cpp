#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "webadmin.h"

namespace {

TEST(CgiEnv, GetenvDefault) {
    setenv("WA_TEST_VAR", "set", 1);
    EXPECT_STREQ(qGetenvDefault("dflt", "WA_TEST_VAR"), "set");
    setenv("WA_TEST_VAR", "", 1);
    EXPECT_STREQ(qGetenvDefault("dflt", "WA_TEST_VAR"), "") << "set but empty is still set";
    unsetenv("WA_TEST_VAR");
    EXPECT_STREQ(qGetenvDefault("dflt", "WA_TEST_VAR"), "dflt");
    EXPECT_EQ(qGetenvDefault(nullptr, "WA_TEST_VAR"), nullptr);
}

TEST(CgiEnv, ScriptBaseName) {
    unsetenv("SCRIPT_NAME");
    EXPECT_EQ(qCGIname(), nullptr);

    setenv("SCRIPT_NAME", "/cgi-bin/directory.cgi", 1);
    char *name = qCGIname();
    EXPECT_STREQ(name, "directory.cgi");
    setenv("SCRIPT_NAME", "C:\\web\\cgi\\upgrade.cgi ", 1);
    EXPECT_EQ(qCGIname(), name) << "one static buffer";
    EXPECT_STREQ(name, "upgrade.cgi");
    setenv("SCRIPT_NAME", " index.cgi", 1);
    EXPECT_STREQ(qCGIname(), "index.cgi");
    setenv("SCRIPT_NAME", "/cgi-bin/", 1);
    EXPECT_STREQ(qCGIname(), "");

    // A long directory part does not hide the name; a long name is cut.
    std::string deep = "/" + std::string(400, 'd') + "/upgrade.cgi";
    setenv("SCRIPT_NAME", deep.c_str(), 1);
    EXPECT_STREQ(qCGIname(), "upgrade.cgi");
    std::string wide = "/cgi-bin/" + std::string(300, 'w');
    setenv("SCRIPT_NAME", wide.c_str(), 1);
    EXPECT_EQ(std::string(qCGIname()), std::string(255, 'w'));
}

TEST(CgiEnv, EnvironmentRecord) {
    setenv("REMOTE_ADDR", "192.168.1.5", 1);
    unsetenv("REMOTE_HOST");
    setenv("SCRIPT_NAME", "/cgi-bin/upgrade.cgi", 1);
    setenv("UNIQUE_ID", "u1", 1);
    unsetenv("AUTH_TYPE");
    q_cgi_env env;
    qCGIEnvironment(&env);
    EXPECT_STREQ(env.remote_addr, "192.168.1.5");
    EXPECT_STREQ(env.remote_host, "192.168.1.5") << "falls back to the address";
    EXPECT_STREQ(env.script_name, "/cgi-bin/upgrade.cgi");
    EXPECT_STREQ(env.unique_id, "u1");
    EXPECT_EQ(env.auth_type, nullptr);
    const struct tm *now = qGetTime();
    EXPECT_EQ(env.year, now->tm_year);
    EXPECT_EQ(env.mon, now->tm_mon);
    EXPECT_EQ(env.day, now->tm_mday);

    setenv("REMOTE_HOST", "admin.lan", 1);
    qCGIEnvironment(&env);
    EXPECT_STREQ(env.remote_host, "admin.lan");
}

}  // namespace
