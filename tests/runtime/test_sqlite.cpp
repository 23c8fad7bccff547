// SQLite database files through the run-time bound library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/request.h"
#include "webadmin.h"

namespace {

using testing_support::TempRoot;

class Sqlite : public testing::Test {
protected:
    TempRoot root_{{"/var/db"}};
    void SetUp() override { setenv("APPLIANCE_SLEEP", "0", 1); }  // the retries' pauses
    void TearDown() override { unsetenv("APPLIANCE_SLEEP"); }
};

std::vector<std::vector<std::string>> rows(sqlite3_stmt *stmt, int columns) {
    std::vector<std::vector<std::string>> all;
    while (char **row = _my_sqlite_fetch_row("test", stmt)) {
        std::vector<std::string> values;
        for (int i = 0; i < columns; ++i) values.push_back(row[i] ? row[i] : "<null>");
        EXPECT_EQ(row[columns], nullptr);
        all.push_back(values);
        _my_sqlite_free_row("test", row);
    }
    return all;
}

TEST_F(Sqlite, StoresQueriesAndMirrorsADatabaseFile) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/ap.db"), 0) << "SQLite could not be bound";
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "CREATE TABLE ap (name TEXT, mac TEXT, port INT)"), 0);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "INSERT INTO ap VALUES ('ap %d', %s, %d)", i,
                                  i == 2 ? "NULL" : "'00:11'", i),
                  0);
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "UPDATE ap SET port = port + 10 WHERE port > %d", 1), 0);
    EXPECT_EQ(_my_sqlite_changes("test", db), 2);

    sqlite3_stmt *stmt = _my_sqlite_query("test", db, "SELECT name, mac, port FROM ap ORDER BY %s", "port");
    ASSERT_NE(stmt, nullptr);
    EXPECT_EQ(rows(stmt, 3), (std::vector<std::vector<std::string>>{
                                 {"ap 1", "00:11", "1"}, {"ap 2", "<null>", "12"}, {"ap 3", "00:11", "13"}}));
    EXPECT_EQ(_my_sqlite_finalize("test", stmt), 0);

    stmt = _my_sqlite_query("test", db, "SELECT name, port FROM ap");
    EXPECT_EQ(_my_sqlite_column_count("test", stmt), 2);
    _my_sqlite_finalize("test", stmt);
    stmt = _my_sqlite_query("test", db, "SELECT name FROM ap WHERE 0");
    EXPECT_EQ(_my_sqlite_column_count("test", stmt), 0);  // no row came back
    _my_sqlite_finalize("test", stmt);

    // Every callback row, and a callback's stop ends the statement.
    static int seen;
    seen = 0;
    auto count = [](void *, int columns, char **, char **) {
        seen += columns;
        return 0;
    };
    EXPECT_EQ(_my_sqlite_exec("test", db, count, "SELECT name, port FROM ap"), 0);
    EXPECT_EQ(seen, 6);
    EXPECT_EQ(_my_sqlite_exec("test", db, [](void *, int, char **, char **) { return 1; }, "SELECT * FROM ap"), 4);

    EXPECT_EQ(_my_sqlite_sync_close("test", db, "/var/db/ap.db"), 0);
    EXPECT_EQ(root_.read("/commands.log"),
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n/bin/cp /var/db/ap.db /mnt > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n");

    // Reopened: the rows are on disk.  While /var/boot exists nothing is copied.
    root_.write("/var/boot", "");
    root_.write("/commands.log", "");
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/ap.db"), 0);
    stmt = _my_sqlite_query("test", db, "SELECT count(*) FROM ap");
    EXPECT_EQ(rows(stmt, 1), (std::vector<std::vector<std::string>>{{"3"}}));
    _my_sqlite_finalize("test", stmt);
    EXPECT_EQ(_my_sqlite_sync_close("test", db, "/var/db/ap.db"), 0);
    EXPECT_EQ(root_.read("/commands.log"), "");
}

TEST_F(Sqlite, WideRowsAreCutAndFailuresAreReported) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/wide.db"), 0);
    std::string columns;
    for (int i = 0; i < 120; ++i) columns += (i ? ", " : "") + std::to_string(i);
    sqlite3_stmt *stmt = _my_sqlite_query("test", db, "SELECT %s", columns.c_str());
    char **row = _my_sqlite_fetch_row("test", stmt);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row[0], "0");
    EXPECT_STREQ(row[99], "99");
    EXPECT_EQ(row[100], nullptr);  // the first 100 only
    _my_sqlite_free_row("test", row);
    _my_sqlite_finalize("test", stmt);

    // Wrong SQL: every try fails, the statement is null, the code is SQLite's;
    // each try and the giving up leave a line in syslog.
    EXPECT_EQ(_my_sqlite_query("test", db, "SELECT FROM nowhere"), nullptr);
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "INSERT INTO nowhere VALUES (%d)", 1), 1);  // SQLITE_ERROR
    EXPECT_EQ(_my_sqlite_close("test", db), 0);
    std::string tries;
    for (int i = 0; i < 3; ++i) tries += "<3>[test] Error Number: 1, msg: near \"FROM\": syntax error\n";
    tries += "<3>[test] Can't run this query: SELECT FROM nowhere\n";
    for (int i = 0; i < 3; ++i) tries += "<3>[test] Error Number: 1, msg: no such table: nowhere\n";
    tries += "<3>[test] Can't run this query: INSERT INTO nowhere VALUES (1)\n";
    EXPECT_EQ(root_.read("/syslog.log"), tries);

    // A database in a directory that does not exist cannot be opened: ten
    // tries, each logged with its number counted from 2.
    root_.write("/syslog.log", "");
    EXPECT_EQ(_my_sqlite_connect("test", &db, "/no/such/dir/x.db"), 14);  // SQLITE_CANTOPEN
    EXPECT_EQ(db, nullptr);
    EXPECT_FALSE(root_.exists("/no/such/dir/x.db"));
    std::string opens;
    for (int attempt = 2; attempt <= 11; ++attempt)
        opens += "<3>[test] (" + std::to_string(attempt) +
                 "/10) Error: unable to open database \"/no/such/dir/x.db\": unable to open database file\n";
    EXPECT_EQ(root_.read("/syslog.log"), opens);
    EXPECT_EQ(_my_sqlite_connect("test", nullptr, "/var/db/x.db"), -1);
    EXPECT_EQ(_my_sqlite_fetch_row("test", nullptr), nullptr);
    _my_sqlite_free_row("test", nullptr);
}

}  // namespace
