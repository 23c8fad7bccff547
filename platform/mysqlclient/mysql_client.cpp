// The appliance's MySQL client library: the client's usual calls, plus the
// three the appliance adds.  The web pages load it at run time by the name
// libmysqlclient.so.15; here it is built over the system's client library.
//   MySQL_CONNECT(conn, database)  sets up the caller's connection object
//                                  and connects it to the local server
//                                  (the client's default socket, or
//                                  MYSQL_UNIX_PORT): 0, or -1 with the
//                                  object closed
//   MySQL_QUERY(conn, format, ...)  formats and runs one statement: 0 or -1
//   mysql_reconnect(conn)          closes and connects again to the
//                                  database of conn's last MySQL_CONNECT,
//                                  failed tries in between or not: 0, or -1
#include <mysql.h>
#include <stdarg.h>
#include <stdio.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace {

// The appliance's own account on its local server.
constexpr const char *kUser = "root";

// The database each connection object was last connected for: a failed
// connect leaves the object closed, and a reconnect after it still knows.
std::mutex databases_lock;
std::map<const MYSQL *, std::optional<std::string>> databases;

bool connect(MYSQL *conn, const char *database) {
    if (!mysql_init(conn)) return false;
    if (mysql_real_connect(conn, nullptr, kUser, nullptr, database, 0, nullptr, 0)) return true;
    mysql_close(conn);
    return false;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int MySQL_CONNECT(MYSQL *conn, const char *database) {
    if (!conn) return -1;
    {
        std::lock_guard<std::mutex> hold(databases_lock);
        databases[conn] = database ? std::optional<std::string>(database) : std::nullopt;
    }
    return connect(conn, database) ? 0 : -1;
}

__attribute__((visibility("default"), format(printf, 2, 3))) int MySQL_QUERY(MYSQL *conn, const char *format,
                                                                              ...) {
    if (!conn || !format) return -1;
    va_list args;
    va_start(args, format);
    char *statement = nullptr;
    const int length = vasprintf(&statement, format, args);
    va_end(args);
    if (length < 0) return -1;
    const int result = mysql_real_query(conn, statement, static_cast<unsigned long>(length)) == 0 ? 0 : -1;
    std::free(statement);
    return result;
}

__attribute__((visibility("default"))) int mysql_reconnect(MYSQL *conn) {
    if (!conn) return -1;
    std::optional<std::string> database;
    {
        std::lock_guard<std::mutex> hold(databases_lock);
        const auto known = databases.find(conn);
        if (known != databases.end()) database = known->second;
    }
    mysql_close(conn);
    return connect(conn, database ? database->c_str() : nullptr) ? 0 : -1;
}

}  // extern "C"
