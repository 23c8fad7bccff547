// The AP group names into the MySQL database, against a real MariaDB server of this program's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/mysql_server.h"
#include "support/request.h"
#include "webadmin.h"

using testing_support::occurrences;

// Every group name is stored as the form gives it, in one connection.
TEST(ApSettingMysql, GroupNamesStoredAsTheFormGivesThem) {
    testing_support::MysqlServer server;
    setenv("APPLIANCE_SLEEP", "0", 1);
    ASSERT_TRUE(server.install());
    setenv("MYSQL_UNIX_PORT", server.socket().c_str(), 1);
    ASSERT_TRUE(server.start()) << "see " << server.dir();
    std::string rows;
    for (int sn = 0; sn < 70; ++sn) rows += (sn ? ", (" : "(") + std::to_string(sn) + ", 'old')";
    bool created = false;
    server.sql("CREATE DATABASE AP_INFO; CREATE TABLE AP_INFO.ap_group (SN INT PRIMARY KEY, Name TEXT); "
               "INSERT INTO AP_INFO.ap_group VALUES " + rows, &created);
    ASSERT_TRUE(created) << server.error_log();
    testing_support::TempRoot root;
    qValueAdd("group_0", "Lobby"), qValueAdd("group_3", "O'Brien \\ \"x\" %%s");
    qValueAdd("group_5", "x'; DROP TABLE ap_group; -- ");
    const std::string log_before = server.general_log();
    EXPECT_EQ(save_ap_group_names(), 0);
    qFree();
    EXPECT_EQ(server.sql("SELECT SN, Name FROM AP_INFO.ap_group WHERE SN IN (0, 1, 3, 5, 64, 65) ORDER BY SN"),
              "0\tLobby\n1\tGroup_1\n3\tO'Brien \\\\ \"x\" %s\n5\tx'; DROP TABLE ap_group; -- \n64\tGroup_64\n65\told\n");
    const std::string log = server.general_log().substr(log_before.size());
    EXPECT_EQ(occurrences(log, " Query\tUPDATE `AP_INFO`.`ap_group` SET `Name`="), 65u) << log;
    EXPECT_EQ(occurrences(log, " Connect\troot@localhost on AP_INFO "), 1u) << log;
    server.remove();
}
