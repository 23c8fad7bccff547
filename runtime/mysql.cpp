// The appliance's MySQL client (statistics, logs, the access-point list),
// through its library bound at run time; connects and queries are retried
// and a lost connection is waited for.
#include <stdarg.h>
#include <syslog.h>

#include <iterator>

#include "platform/platform.h"
#include "runtime/library_binding.h"
#include "runtime/owners.h"
#include "webadmin.h"

extern "C" {

MYSQL_RES *(*my_mysql_store_result)(MYSQL *) = nullptr;
unsigned long long (*my_mysql_num_rows)(MYSQL_RES *) = nullptr;
MYSQL_ROW (*my_mysql_fetch_row)(MYSQL_RES *) = nullptr;
unsigned long long (*my_mysql_affected_rows)(MYSQL *) = nullptr;
void (*my_mysql_free_result)(MYSQL_RES *) = nullptr;
void (*my_mysql_data_seek)(MYSQL_RES *, unsigned long long) = nullptr;
unsigned int (*my_mysql_errno)(MYSQL *) = nullptr;
const char *(*my_mysql_error)(MYSQL *) = nullptr;
int (*my_mysql_ping)(MYSQL *) = nullptr;
MYSQL_RES *(*my_mysql_use_result)(MYSQL *) = nullptr;
unsigned int (*my_mysql_num_fields)(MYSQL_RES *) = nullptr;
MYSQL_FIELD *(*my_mysql_fetch_fields)(MYSQL_RES *) = nullptr;

}  // extern "C"

namespace {

constexpr int kConnectAttempts = 10, kQueryAttempts = 5;
constexpr unsigned kDuplicateKey = 1062;  // ER_DUP_ENTRY

// The appliance's own calls and the close; the client's result calls are
// bound straight into the exported pointers.
struct MysqlClient {
    int (*connect)(MYSQL *, const char *);
    int (*reconnect)(MYSQL *);
    int (*query)(MYSQL *, const char *, ...);
    void (*close)(MYSQL *);
};

MysqlClient bound;
void *handle = nullptr;

// The appliance's file, then the loader's name for the library.  The
// exported pointers stay null unless every symbol was found.
const MysqlClient *client() {
    if (handle) return &bound;
    static const char *const paths[] = {"/usr/lib/libmysqlclient.so.15", "libmysqlclient.so.15"};
    const runtime::LibrarySymbol symbols[] = {
        {"MySQL_CONNECT", &bound.connect},
        {"mysql_reconnect", &bound.reconnect},
        {"MySQL_QUERY", &bound.query},
        {"mysql_store_result", &my_mysql_store_result},
        {"mysql_num_rows", &my_mysql_num_rows},
        {"mysql_fetch_row", &my_mysql_fetch_row},
        {"mysql_affected_rows", &my_mysql_affected_rows},
        {"mysql_free_result", &my_mysql_free_result},
        {"mysql_close", &bound.close},
        {"mysql_data_seek", &my_mysql_data_seek},
        {"mysql_errno", &my_mysql_errno},
        {"mysql_error", &my_mysql_error},
        {"mysql_ping", &my_mysql_ping},
        {"mysql_use_result", &my_mysql_use_result},
        {"mysql_num_fields", &my_mysql_num_fields},
        {"mysql_fetch_fields", &my_mysql_fetch_fields},
    };
    return runtime::bind_library(handle, paths, std::size(paths), symbols, std::size(symbols)) ? &bound : nullptr;
}

}  // namespace

extern "C" {

int my_mysql_connect(MYSQL *conn, const char *arg) {
    const MysqlClient *c = client();
    if (!c) return -1;
    int result = -1;
    for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
        result = c->connect(conn, arg);
        if (result >= 0) return result;
        if (attempt < kConnectAttempts) platform::sleep_seconds(1);
    }
    return result;
}

int my_mysql_query(MYSQL *conn, const char *format, ...) {
    const MysqlClient *c = client();
    if (!c || !conn) return -1;
    va_list args;
    va_start(args, format);
    const runtime::heap_text sql(xasprintf(format, args));
    va_end(args);
    if (!sql) return -1;
    int result = -1;
    bool duplicate = false;
    for (int attempt = 1; attempt <= kQueryAttempts; ++attempt) {
        result = c->query(conn, "%s", sql.get());
        if (result >= 0) break;
        if ((duplicate = my_mysql_errno(conn) == kDuplicateKey)) break;
        // Whatever else failed, the connection is made good before the next
        // try, and is left good after the last one.
        while (c->reconnect(conn) != 0) platform::sleep_seconds(1);
        if (attempt < kQueryAttempts) platform::sleep_seconds(2);
    }
    if (result < 0 && !duplicate) platform::log(LOG_ERR, "Can't run this query: %s", sql.get());
    return result;
}

void my_mysql_close(MYSQL *conn) {
    if (handle) bound.close(conn);
}

}  // extern "C"
