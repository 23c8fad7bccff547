// The MySQL calls through the appliance's client library, against a real MariaDB server that the tests start
// on a Unix socket in a temporary directory.  The server's general query log shows every connect and statement
// that reached it, so retries are counted where they land.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mysql.h>

#include <thread>
#include <type_traits>

#include "support/mysql_server.h"
#include "support/request.h"
#include "webadmin.h"

namespace {

using testing_support::occurrences;

// The library's declarations are the client header's types.
static_assert(std::is_same_v<decltype(my_mysql_num_rows), decltype(&::mysql_num_rows)> &&
              std::is_same_v<decltype(my_mysql_fetch_row), decltype(&::mysql_fetch_row)> &&
              std::is_same_v<decltype(my_mysql_data_seek), decltype(&::mysql_data_seek)> &&
              std::is_same_v<decltype(my_mysql_fetch_fields), decltype(&::mysql_fetch_fields)>);

// How the server logs a connect of the library's (the tests' own client names no database).
constexpr const char *kOurConnect = " Connect\troot@localhost on wa_test using Socket";

class Mysql : public testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("APPLIANCE_SLEEP", "0", 1);
        ready = server.install();
        setenv("MYSQL_UNIX_PORT", server.socket().c_str(), 1);  // read once, at the client's first use
        ready = ready && server.start();
        if (ready) server.sql("CREATE DATABASE wa_test; CREATE TABLE wa_test.t (id INT PRIMARY KEY, v TEXT)", &ready);
    }
    static void TearDownTestSuite() { server.remove(); }
    void SetUp() override {
        ASSERT_TRUE(ready) << "the server or its database did not start:\n" << server.error_log();
        server.sql("DELETE FROM wa_test.t");
        ASSERT_EQ(my_mysql_connect(&conn, "wa_test"), 0) << server.error_log();
        log_before = server.general_log();
    }
    void TearDown() override { my_mysql_close(&conn); }
    // What the server logged since the test connected.
    std::string logged_since() const { return server.general_log().substr(log_before.size()); }

    static inline testing_support::MysqlServer server;
    static inline bool ready = false;
    testing_support::TempRoot root_;  // its syslog.log gets the library's syslog lines
    MYSQL conn{};
    std::string log_before;
};

// Rows of a result, tab-separated, read with fetch_row.
std::string rows(MYSQL_RES *result) {
    std::string text;
    for (MYSQL_ROW row; (row = my_mysql_fetch_row(result));)
        for (unsigned i = 0; i < my_mysql_num_fields(result); ++i) text += row[i] + std::string(i ? "\n" : "\t");
    return text;
}

// Queries are formatted once (a '%' in a value reaches the server as it stands), run once on the one
// connection, and their results read through the client.
TEST_F(Mysql, QueriesRunFormattedAndTheirResultsReadThroughTheClient) {
    ASSERT_EQ(my_mysql_query(&conn, "INSERT INTO t (id, v) VALUES (%d, '%s'), (%d, '%s')", 1, "100%s", 2, "two"), 0);
    EXPECT_EQ(my_mysql_affected_rows(&conn), 2u);
    ASSERT_EQ(my_mysql_query(&conn, "SELECT id, v FROM t ORDER BY id"), 0);
    MYSQL_RES *result = my_mysql_store_result(&conn);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(my_mysql_num_rows(result), 2u);
    EXPECT_STREQ(my_mysql_fetch_fields(result)[1].name, "v");
    EXPECT_EQ(rows(result), "1\t100%s\n2\ttwo\n");
    my_mysql_data_seek(result, 1);
    EXPECT_EQ(rows(result), "2\ttwo\n");
    my_mysql_free_result(result);
    ASSERT_EQ(my_mysql_query(&conn, "SELECT id, v FROM t WHERE id = 2"), 0);
    ASSERT_NE(result = my_mysql_use_result(&conn), nullptr);
    EXPECT_EQ(rows(result), "2\ttwo\n");
    my_mysql_free_result(result);
    EXPECT_EQ(my_mysql_ping(&conn), 0);
    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, " Query\tINSERT INTO t (id, v) VALUES (1, '100%s'), (2, 'two')\n"), 1u) << log;
    EXPECT_EQ(occurrences(log, " Query\tSELECT id, v FROM t "), 2u) << log;
    EXPECT_EQ(occurrences(log, kOurConnect), 0u) << log;
}

// A duplicate key ends the tries at once, without a log line; other failures reconnect before each of five
// tries, the last one too, and are logged; a connect is tried ten times.
TEST_F(Mysql, FailuresAreRetried) {
    ASSERT_EQ(my_mysql_query(&conn, "INSERT INTO t VALUES (7, 'first')"), 0);
    EXPECT_LT(my_mysql_query(&conn, "INSERT INTO t VALUES (7, 'second')"), 0);
    EXPECT_EQ(my_mysql_errno(&conn), 1062u);
    EXPECT_NE(std::string(my_mysql_error(&conn)).find("Duplicate"), std::string::npos);
    EXPECT_EQ(root_.read("/syslog.log"), "");
    std::string log = logged_since();
    EXPECT_EQ(occurrences(log, "INSERT INTO t VALUES (7, 'second')") + occurrences(log, kOurConnect), 1u) << log;

    EXPECT_LT(my_mysql_query(&conn, "INSERT INTO wa_missing VALUES (%d)", 1), 0);
    log = logged_since();
    EXPECT_EQ(occurrences(log, "INSERT INTO wa_missing VALUES (1)"), 5u) << log;
    EXPECT_EQ(occurrences(log, kOurConnect), 5u) << log;
    EXPECT_EQ(root_.read("/syslog.log"), "<3>Can't run this query: INSERT INTO wa_missing VALUES (1)\n");
    EXPECT_EQ(my_mysql_query(&conn, "INSERT INTO t VALUES (1, 'after')"), 0);
    EXPECT_EQ(my_mysql_query(nullptr, "SELECT 1"), -1);
    EXPECT_EQ(server.sql("SELECT v FROM wa_test.t ORDER BY id"), "after\nfirst\n");

    MYSQL other{};
    EXPECT_LT(my_mysql_connect(&other, "wa_no_such_database"), 0);
    EXPECT_EQ(occurrences(logged_since(), " Connect\troot@localhost on wa_no_such_database using Socket"), 10u);
}

// The query's first try fails on the dead connection; the reconnects fail until the server is back, and the
// next try succeeds.
TEST_F(Mysql, QueryWaitsForALostServerToComeBack) {
    server.stop();
    std::thread restart([] { ASSERT_TRUE(server.start()); });
    const int result = my_mysql_query(&conn, "INSERT INTO t VALUES (%d, '%s')", 3, "after restart");
    restart.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(server.sql("SELECT v FROM wa_test.t WHERE id = 3"), "after restart\n");
    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, "INSERT INTO t VALUES (3, 'after restart')"), 1u) << log;
    EXPECT_EQ(occurrences(log, kOurConnect), 1u) << log;
    EXPECT_EQ(root_.read("/syslog.log"), "");
}

// Run without the client on the loader's path: every call fails, binding is tried again on each call, and the
// client's pointers stay null.
TEST(MysqlWithoutClient, EveryCallFailsAndTheClientsPointersStayNull) {
    ASSERT_EQ(dlopen("libmysqlclient.so.15", RTLD_LAZY), nullptr) << "the client library is on the loader's path";
    MYSQL conn{};
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(my_mysql_connect(&conn, "wa_test"), -1);
        EXPECT_EQ(my_mysql_query(&conn, "SELECT %d", round), -1);
        my_mysql_close(&conn);
    }
    EXPECT_TRUE(!my_mysql_store_result && !my_mysql_fetch_row && !my_mysql_errno && !my_mysql_fetch_fields);
}

}  // namespace
