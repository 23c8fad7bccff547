// SQLite database files through the run-time bound library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/request.h"
#include "webadmin.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every row of a statement, null columns as "<null>"; the statement is finalized.
Rows rows(sqlite3_stmt *stmt, int columns) {
    Rows all;
    while (char **row = _my_sqlite_fetch_row("test", stmt)) {
        all.emplace_back();
        for (int i = 0; i < columns; ++i) all.back().push_back(row[i] ? row[i] : "<null>");
        EXPECT_EQ(row[columns], nullptr);
        _my_sqlite_free_row("test", row);
    }
    EXPECT_EQ(_my_sqlite_finalize("test", stmt), 0);
    return all;
}

// Statements store and query rows; closing with a copy mirrors the file to flash unless the appliance boots.
TEST(Sqlite, StoresQueriesAndMirrorsADatabaseFile) {
    setenv("APPLIANCE_SLEEP", "0", 1);  // the retries' pauses
    testing_support::TempRoot root{{"/var/db"}};
    sqlite3 *db = nullptr;
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/ap.db"), 0) << "SQLite could not be bound";
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "CREATE TABLE ap (name TEXT, mac TEXT, port INT)"), 0);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "INSERT INTO ap VALUES ('ap %d', %s, %d)", i,
                                  i == 2 ? "NULL" : "'00:11'", i), 0);
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "UPDATE ap SET port = port + 10 WHERE port > %d", 1), 0);
    EXPECT_EQ(_my_sqlite_changes("test", db), 2);
    EXPECT_EQ(rows(_my_sqlite_query("test", db, "SELECT name, mac, port FROM ap ORDER BY %s", "port"), 3),
              (Rows{{"ap 1", "00:11", "1"}, {"ap 2", "<null>", "12"}, {"ap 3", "00:11", "13"}}));
    for (auto [query, columns] : {std::pair{"SELECT name, port FROM ap", 2}, {"SELECT name FROM ap WHERE 0", 0}}) {
        sqlite3_stmt *stmt = _my_sqlite_query("test", db, "%s", query);
        EXPECT_EQ(_my_sqlite_column_count("test", stmt), columns) << query;  // 0: no row came back
        _my_sqlite_finalize("test", stmt);
    }
    // Every callback row, and a callback's stop ends the statement.
    static int seen = 0;
    auto count = [](void *, int columns, char **, char **) { return seen += columns, 0; };
    EXPECT_EQ(_my_sqlite_exec("test", db, count, "SELECT name, port FROM ap"), 0);
    EXPECT_EQ(seen, 6);
    EXPECT_EQ(_my_sqlite_exec("test", db, [](void *, int, char **, char **) { return 1; }, "SELECT * FROM ap"), 4);
    EXPECT_EQ(_my_sqlite_sync_close("test", db, "/var/db/ap.db"), 0);
    EXPECT_EQ(root.commands(), "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
                               "/bin/cp /var/db/ap.db /mnt > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n");

    // Reopened: the rows are on disk.  While /var/boot exists nothing is copied.
    root.write("/var/boot", "");
    root.write("/commands.log", "");
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/ap.db"), 0);
    EXPECT_EQ(rows(_my_sqlite_query("test", db, "SELECT count(*) FROM ap"), 1), (Rows{{"3"}}));
    EXPECT_EQ(_my_sqlite_sync_close("test", db, "/var/db/ap.db"), 0);
    EXPECT_EQ(root.commands(), "");

    // The MySQL functions the appliance's queries use, and rows cut to their first 100 columns.
    ASSERT_EQ(_my_sqlite_connect("test", &db, "/var/db/wide.db"), 0);
    const char *dialect = "SELECT INET_ATON('192.168.1.10'), INET_ATON('1.2.3'), CHAR_LENGTH('h\xc3\xa9!'), "
                          "CHAR_LENGTH(NULL), FIND_IN_SET('b', 'a,b,c'), FIND_IN_SET('c', 'a,b,c'), FIND_IN_SET('x', "
                          "'a,b'), FIND_IN_SET('a,b', 'a,b'), FIND_IN_SET('a', ''), FIND_IN_SET(NULL, 'a'), NOW() GLOB "
                          "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'";
    EXPECT_EQ(rows(_my_sqlite_query("test", db, "%s", dialect), 11),
              (Rows{{"3232235786", "<null>", "3", "<null>", "2", "3", "0", "0", "0", "<null>", "1"}}));
    std::string columns;
    for (int i = 0; i < 120; ++i) columns += (i ? ", " : "") + std::to_string(i);
    Rows wide = rows(_my_sqlite_query("test", db, "SELECT %s", columns.c_str()), 100);
    EXPECT_EQ(wide.at(0)[0] + "," + wide[0][99], "0,99");

    // A stop or wrong SQL: three tries, then a null statement or SQLite's code; each try and the giving up are logged.
    EXPECT_EQ(_my_sqlite_query("test", db, "SELECT FROM nowhere"), nullptr);
    EXPECT_EQ(_my_sqlite_exec("test", db, nullptr, "INSERT INTO nowhere VALUES (%d)", 1), 1);  // SQLITE_ERROR
    EXPECT_EQ(_my_sqlite_close("test", db), 0);
    std::string tries, opens;
    for (auto [msg, query] : {std::pair{"4, msg: query aborted", "SELECT * FROM ap"},
                              {"1, msg: near \"FROM\": syntax error", "SELECT FROM nowhere"},
                              {"1, msg: no such table: nowhere", "INSERT INTO nowhere VALUES (1)"}}) {
        for (int i = 0; i < 3; ++i) tries += std::string("<3>[test] Error Number: ") + msg + "\n";
        tries += std::string("<3>[test] Can't run this query: ") + query + "\n";
    }
    EXPECT_EQ(root.read("/syslog.log"), tries);

    // A database in a missing directory: ten tries, numbered from 2, then SQLITE_CANTOPEN.
    root.write("/syslog.log", "");
    EXPECT_EQ(_my_sqlite_connect("test", &db, "/no/such/dir/x.db"), 14);
    EXPECT_TRUE(db == nullptr && !root.exists("/no/such/dir/x.db"));
    for (int attempt = 2; attempt <= 11; ++attempt)
        opens += "<3>[test] (" + std::to_string(attempt) +
                 "/10) Error: unable to open database \"/no/such/dir/x.db\": unable to open database file\n";
    EXPECT_EQ(root.read("/syslog.log"), opens);
    EXPECT_EQ(_my_sqlite_connect("test", nullptr, "/var/db/x.db"), -1);
    EXPECT_EQ(_my_sqlite_fetch_row("test", nullptr), nullptr);
    _my_sqlite_free_row("test", nullptr);
    unsetenv("APPLIANCE_SLEEP");
}

}  // namespace
