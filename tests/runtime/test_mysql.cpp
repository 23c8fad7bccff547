// The MySQL calls through the appliance's client library, against a real
// MariaDB server that the tests start on a Unix socket in a temporary
// directory.  The server's general query log shows every connect and
// statement that reached it, so retries are counted where they land.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mysql.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <type_traits>

#include "support/mysql_server.h"
#include "support/request.h"
#include "webadmin.h"

namespace {

using testing_support::occurrences;

// The library's declarations are the client header's types.
static_assert(std::is_same_v<decltype(my_mysql_num_rows), decltype(&::mysql_num_rows)>);
static_assert(std::is_same_v<decltype(my_mysql_fetch_row), decltype(&::mysql_fetch_row)>);
static_assert(std::is_same_v<decltype(my_mysql_data_seek), decltype(&::mysql_data_seek)>);
static_assert(std::is_same_v<decltype(my_mysql_fetch_fields), decltype(&::mysql_fetch_fields)>);

// How the server logs a connect of the library's (the tests' own client
// names no database).
constexpr const char *kOurConnect = " Connect\troot@localhost on wa_test using Socket";

class Mysql : public testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("APPLIANCE_SLEEP", "0", 1);
        ready = server.install();
        // The client reads where the server listens once, at its first use.
        setenv("MYSQL_UNIX_PORT", server.socket().c_str(), 1);
        ready = ready && server.start();
        if (ready) server.sql("CREATE DATABASE wa_test; CREATE TABLE wa_test.t (id INT PRIMARY KEY, v TEXT)");
    }
    static void TearDownTestSuite() { server.remove(); }

    void SetUp() override {
        ASSERT_TRUE(ready) << "the server did not start; see " << server.dir();
        server.sql("DELETE FROM wa_test.t");
        ASSERT_EQ(my_mysql_connect(&conn, "wa_test"), 0);
        connected = true;
        log_before = server.general_log();
    }
    void TearDown() override {
        if (connected) my_mysql_close(&conn);
    }

    // What the server logged since the test connected.
    std::string logged_since() const { return server.general_log().substr(log_before.size()); }

    static testing_support::MysqlServer server;
    static bool ready;
    testing_support::TempRoot root_;  // its syslog.log gets the library's syslog lines
    MYSQL conn{};
    bool connected = false;
    std::string log_before;
};

testing_support::MysqlServer Mysql::server;
bool Mysql::ready = false;

TEST_F(Mysql, QueriesRunFormattedAndTheirResultsReadThroughTheClient) {
    // A '%' in a value reaches the server as it stands: the text is formatted once.
    ASSERT_EQ(my_mysql_query(&conn, "INSERT INTO t (id, v) VALUES (%d, '%s'), (%d, '%s')", 1, "100%s", 2, "two"), 0);
    EXPECT_EQ(my_mysql_affected_rows(&conn), 2u);
    EXPECT_EQ(server.sql("SELECT id, v FROM wa_test.t ORDER BY id"), "1\t100%s\n2\ttwo\n");

    ASSERT_EQ(my_mysql_query(&conn, "SELECT id, v FROM t ORDER BY id"), 0);
    MYSQL_RES *result = my_mysql_store_result(&conn);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(my_mysql_num_rows(result), 2u);
    ASSERT_EQ(my_mysql_num_fields(result), 2u);
    EXPECT_STREQ(my_mysql_fetch_fields(result)[1].name, "v");
    MYSQL_ROW row = my_mysql_fetch_row(result);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row[1], "100%s");
    ASSERT_NE(row = my_mysql_fetch_row(result), nullptr);
    EXPECT_STREQ(row[0], "2");
    EXPECT_EQ(my_mysql_fetch_row(result), nullptr);
    my_mysql_data_seek(result, 0);
    ASSERT_NE(row = my_mysql_fetch_row(result), nullptr);
    EXPECT_STREQ(row[0], "1");
    my_mysql_free_result(result);

    ASSERT_EQ(my_mysql_query(&conn, "SELECT v FROM t WHERE id = 2"), 0);
    ASSERT_NE(result = my_mysql_use_result(&conn), nullptr);
    ASSERT_NE(row = my_mysql_fetch_row(result), nullptr);
    EXPECT_STREQ(row[0], "two");
    EXPECT_EQ(my_mysql_fetch_row(result), nullptr);
    my_mysql_free_result(result);
    EXPECT_EQ(my_mysql_ping(&conn), 0);

    // Each statement reached the server once, on the one connection.
    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, " Query\tINSERT INTO t "), 1u) << log;
    EXPECT_EQ(occurrences(log, " Query\tSELECT id, v FROM t "), 1u) << log;
    EXPECT_EQ(occurrences(log, kOurConnect), 0u) << log;
}

TEST_F(Mysql, DuplicateKeyEndsTheTriesAtOnce) {
    ASSERT_EQ(my_mysql_query(&conn, "INSERT INTO t VALUES (7, 'first')"), 0);
    EXPECT_LT(my_mysql_query(&conn, "INSERT INTO t VALUES (7, 'second')"), 0);
    EXPECT_EQ(my_mysql_errno(&conn), 1062u);
    EXPECT_NE(std::string(my_mysql_error(&conn)).find("Duplicate"), std::string::npos);

    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, "INSERT INTO t VALUES (7, 'second')"), 1u) << log;
    EXPECT_EQ(occurrences(log, kOurConnect), 0u) << "no reconnect: " << log;
    EXPECT_EQ(root_.read("/syslog.log"), "") << "no log line";
    EXPECT_EQ(server.sql("SELECT v FROM wa_test.t WHERE id = 7"), "first\n");
}

TEST_F(Mysql, OtherFailuresReconnectBeforeEachOfFiveTries) {
    EXPECT_LT(my_mysql_query(&conn, "INSERT INTO wa_missing VALUES (%d)", 1), 0);
    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, "INSERT INTO wa_missing VALUES (1)"), 5u) << log;
    // Every failure is followed by a reconnect to the same database, the
    // last one too, so the connection is left good.
    EXPECT_EQ(occurrences(log, kOurConnect), 5u) << log;
    EXPECT_EQ(root_.read("/syslog.log"), "<3>Can't run this query: INSERT INTO wa_missing VALUES (1)\n");
    EXPECT_EQ(my_mysql_ping(&conn), 0);
    EXPECT_EQ(my_mysql_query(&conn, "INSERT INTO t VALUES (1, 'after')"), 0);
    EXPECT_EQ(my_mysql_query(nullptr, "SELECT 1"), -1);
}

TEST_F(Mysql, QueryWaitsForALostServerToComeBack) {
    server.stop();
    // The query's first try fails on the dead connection; the reconnects
    // fail until the server is back, and the next try succeeds.
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

TEST_F(Mysql, ConnectTriesTenTimes) {
    MYSQL other{};
    EXPECT_LT(my_mysql_connect(&other, "wa_no_such_database"), 0);
    const std::string log = logged_since();
    EXPECT_EQ(occurrences(log, " Connect\troot@localhost on wa_no_such_database using Socket"), 10u) << log;
}

// Run without the client on the loader's path.
TEST(MysqlWithoutClient, EveryCallFailsAndTheClientsPointersStayNull) {
    ASSERT_EQ(dlopen("libmysqlclient.so.15", RTLD_LAZY), nullptr) << "the client library is on the loader's path";
    MYSQL conn{};
    for (int round = 0; round < 2; ++round) {  // binding is tried again on each call
        EXPECT_EQ(my_mysql_connect(&conn, "wa_test"), -1);
        EXPECT_EQ(my_mysql_query(&conn, "SELECT %d", round), -1);
        my_mysql_close(&conn);
    }
    EXPECT_EQ(my_mysql_store_result, nullptr);
    EXPECT_EQ(my_mysql_fetch_row, nullptr);
    EXPECT_EQ(my_mysql_errno, nullptr);
    EXPECT_EQ(my_mysql_fetch_fields, nullptr);
}

}  // namespace
