// SQLite database files (access-point inventory, users), through the
// library bound at run time; every call retried with pauses and logged on
// failure.
#include <stdarg.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "runtime/library_binding.h"
#include "runtime/owners.h"
#include "runtime/shell_quote.h"
#include "webadmin.h"

namespace {

constexpr int kSqliteRow = 100;  // SQLITE_ROW
constexpr int kOpenAttempts = 10, kCloseAttempts = 10, kQueryAttempts = 3;
constexpr int kMaxColumns = 100;
constexpr int kConfigPartition = 3;

struct Sqlite {
    int (*open)(const char *, sqlite3 **);
    int (*close)(sqlite3 *);
    int (*exec)(sqlite3 *, const char *, my_sqlite_callback, void *, char **);
    int (*errcode)(sqlite3 *);
    const char *(*errmsg)(sqlite3 *);
    int (*prepare)(sqlite3 *, const char *, int, sqlite3_stmt **, const char **);
    int (*step)(sqlite3_stmt *);
    int (*column_count)(sqlite3_stmt *);
    const unsigned char *(*column_text)(sqlite3_stmt *, int);
    int (*finalize)(sqlite3_stmt *);
    int (*changes)(sqlite3 *);
};

// The MySQL functions the access-point databases' statements use (they are
// shared with the SQL daemon's MySQL tables), registered on each connection
// when the library can take functions of the caller's.
struct sqlite3_context;
struct sqlite3_value;
using sql_function = void (*)(sqlite3_context *, int, sqlite3_value **);
struct Dialect {
    int (*create_function)(sqlite3 *, const char *, int, int, void *, sql_function, sql_function,
                           void (*)(sqlite3_context *));
    const unsigned char *(*value_text)(sqlite3_value *);
    void (*result_int64)(sqlite3_context *, long long);
    void (*result_text)(sqlite3_context *, const char *, int, void (*)(void *));
    void (*result_null)(sqlite3_context *);
};
Dialect dialect;
bool dialect_bound = false;

constexpr int kUtf8 = 1;  // SQLITE_UTF8
void (*const kTransient)(void *) = reinterpret_cast<void (*)(void *)>(-1);  // SQLITE_TRANSIENT

const char *argument(sqlite3_value **values, int i) {
    return reinterpret_cast<const char *>(dialect.value_text(values[i]));
}

// INET_ATON(address): the dotted IPv4 address as a number, NULL otherwise.
void inet_aton_sql(sqlite3_context *c, int, sqlite3_value **values) {
    const char *text = argument(values, 0);
    unsigned char bytes[4];
    if (!text || isc_net_pton(AF_INET, text, bytes) != 1) return dialect.result_null(c);
    dialect.result_int64(c, (static_cast<long long>(bytes[0]) << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]);
}

// NOW(): the local date and time, as MySQL writes it.
void now_sql(sqlite3_context *c, int, sqlite3_value **) {
    const time_t now = time(nullptr);
    struct tm local;
    char text[32];
    if (!localtime_r(&now, &local) || !strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local))
        return dialect.result_null(c);
    dialect.result_text(c, text, -1, kTransient);
}

// CHAR_LENGTH(text): characters, not bytes.
void char_length_sql(sqlite3_context *c, int, sqlite3_value **values) {
    const char *text = argument(values, 0);
    if (!text) return dialect.result_null(c);
    long long characters = 0;
    for (const char *p = text; *p; ++p)
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++characters;
    dialect.result_int64(c, characters);
}

// FIND_IN_SET(item, list): the 1-based place of item in the comma list, 0
// when it is not there.
void find_in_set_sql(sqlite3_context *c, int, sqlite3_value **values) {
    const char *item = argument(values, 0), *list = argument(values, 1);
    if (!item || !list) return dialect.result_null(c);
    const std::string wanted = item;
    long long place = 0;
    if (wanted.find(',') == std::string::npos && *list) {
        long long k = 1;
        for (const char *p = list;; ++k) {
            const char *comma = std::strchr(p, ',');
            if (std::string(p, comma ? comma : p + std::strlen(p)) == wanted) {
                place = k;
                break;
            }
            if (!comma) break;
            p = comma + 1;
        }
    }
    dialect.result_int64(c, place);
}

void register_dialect(sqlite3 *db) {
    if (!dialect_bound) return;
    const struct {
        const char *name;
        int arguments;
        sql_function run;
    } functions[] = {{"INET_ATON", 1, inet_aton_sql},
                     {"NOW", 0, now_sql},
                     {"CHAR_LENGTH", 1, char_length_sql},
                     {"FIND_IN_SET", 2, find_in_set_sql}};
    for (const auto &f : functions)
        dialect.create_function(db, f.name, f.arguments, kUtf8, nullptr, f.run, nullptr, nullptr);
}

// The appliance's file, then the loader's name for the library.
const Sqlite *sqlite() {
    static Sqlite bound;
    static void *handle = nullptr;
    if (handle) return &bound;
    static const char *const paths[] = {"/lib/libsqlite3.so.0.8.6", "libsqlite3.so.0"};
    const runtime::LibrarySymbol symbols[] = {
        {"sqlite3_open", &bound.open},
        {"sqlite3_close", &bound.close},
        {"sqlite3_exec", &bound.exec},
        {"sqlite3_errcode", &bound.errcode},
        {"sqlite3_errmsg", &bound.errmsg},
        {"sqlite3_prepare", &bound.prepare},
        {"sqlite3_step", &bound.step},
        {"sqlite3_column_count", &bound.column_count},
        {"sqlite3_column_text", &bound.column_text},
        {"sqlite3_finalize", &bound.finalize},
        {"sqlite3_changes", &bound.changes},
    };
    if (!runtime::bind_library(handle, paths, std::size(paths), symbols, std::size(symbols))) return nullptr;
    const runtime::LibrarySymbol functions[] = {
        {"sqlite3_create_function", &dialect.create_function},
        {"sqlite3_value_text", &dialect.value_text},
        {"sqlite3_result_int64", &dialect.result_int64},
        {"sqlite3_result_text", &dialect.result_text},
        {"sqlite3_result_null", &dialect.result_null},
    };
    dialect_bound = runtime::bind_optional(handle, functions, std::size(functions));
    return &bound;
}

const char *text(const char *value) { return value ? value : "(null)"; }

// Up to three tries of run, two seconds apart: 0, or the last error code.
template <typename Run>
int with_retries(const Sqlite &l, const char *tag, sqlite3 *db, const char *sql, Run run) {
    int code = 0;
    for (int attempt = 1; attempt <= kQueryAttempts; ++attempt) {
        code = run();
        if (code == 0) return 0;
        platform::log(LOG_ERR, "[%s] Error Number: %d, msg: %s\n", text(tag), code, text(l.errmsg(db)));
        if (attempt < kQueryAttempts) platform::sleep_seconds(2);
    }
    platform::log(LOG_ERR, "[%s] Can't run this query: %s", text(tag), sql);
    return code;
}

// Up to ten closes, a second apart, each failure logged.
bool close_with_retries(const Sqlite &l, const char *tag, sqlite3 *db, bool sync) {
    for (int attempt = 1; attempt <= kCloseAttempts; ++attempt) {
        if (l.close(db) == 0) return true;
        if (sync)
            platform::log(LOG_ERR, "[%s] (%d/%d) Error: unable to close/sync database: %s\n", text(tag),
                          attempt + 1, kCloseAttempts, text(l.errmsg(db)));
        else
            platform::log(LOG_ERR, "[%s] (%d/%d) Error: unable to close database: %s\n", text(tag), attempt + 1,
                          kCloseAttempts, text(l.errmsg(db)));
        platform::sleep_seconds(1);
    }
    return false;
}

}  // namespace

extern "C" {

int _my_sqlite_connect(const char *tag, sqlite3 **db, const char *path) {
    const Sqlite *l = sqlite();
    if (!l) return -1;
    if (!db || !path) return -1;
    const std::string file = platform::path(path);
    int code = 0;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        code = l->open(file.c_str(), db);
        if (code == 0) {
            register_dialect(*db);
            return 0;
        }
        platform::log(LOG_ERR, "[%s] (%d/%d) Error: unable to open database \"%s\": %s\n", text(tag),
                      attempt + 1, kOpenAttempts, path, text(l->errmsg(*db)));
        // A failed open still gives a connection, to be closed.
        l->close(*db);
        *db = nullptr;
        platform::sleep_seconds(1);
    }
    return code;
}

sqlite3_stmt *_my_sqlite_query(const char *tag, sqlite3 *db, const char *format, ...) {
    const Sqlite *l = sqlite();
    if (!l || !db) return nullptr;
    va_list args;
    va_start(args, format);
    const runtime::heap_text sql(xasprintf(format, args));
    va_end(args);
    if (!sql) return nullptr;
    sqlite3_stmt *statement = nullptr;
    with_retries(*l, tag, db, sql.get(), [&] { return l->prepare(db, sql.get(), -1, &statement, nullptr); });
    return statement;
}

char **_my_sqlite_fetch_row(const char *, sqlite3_stmt *stmt) {
    const Sqlite *l = sqlite();
    if (!l || !stmt || l->step(stmt) != kSqliteRow) return nullptr;
    const int columns = std::min(l->column_count(stmt), kMaxColumns);
    auto **row = static_cast<char **>(std::calloc(kMaxColumns + 1, sizeof(char *)));
    if (!row) return nullptr;
    for (int i = 0; i < columns; ++i) {
        const unsigned char *value = l->column_text(stmt, i);
        if (value && !(row[i] = strdup(reinterpret_cast<const char *>(value)))) {
            _my_sqlite_free_row(nullptr, row);
            return nullptr;
        }
    }
    return row;
}

void _my_sqlite_free_row(const char *, char **row) {
    if (!row) return;
    for (int i = 0; i < kMaxColumns; ++i) std::free(row[i]);
    std::free(row);
}

int _my_sqlite_column_count(const char *, sqlite3_stmt *stmt) {
    const Sqlite *l = sqlite();
    if (!l || !stmt || l->step(stmt) != kSqliteRow) return 0;
    return l->column_count(stmt);
}

int _my_sqlite_finalize(const char *, sqlite3_stmt *stmt) {
    const Sqlite *l = sqlite();
    return l ? l->finalize(stmt) : -1;
}

int _my_sqlite_changes(const char *, sqlite3 *db) {
    const Sqlite *l = sqlite();
    return l && db ? l->changes(db) : 0;
}

int _my_sqlite_exec(const char *tag, sqlite3 *db, my_sqlite_callback callback, const char *format, ...) {
    const Sqlite *l = sqlite();
    if (!l || !db) return -1;
    va_list args;
    va_start(args, format);
    const runtime::heap_text sql(xasprintf(format, args));
    va_end(args);
    if (!sql) return -1;
    return with_retries(*l, tag, db, sql.get(),
                        [&] { return l->exec(db, sql.get(), callback, nullptr, nullptr); });
}

int _my_sqlite_close(const char *tag, sqlite3 *db) {
    const Sqlite *l = sqlite();
    if (!l) return -1;
    return close_with_retries(*l, tag, db, false) ? 0 : -1;
}

int _my_sqlite_sync_close(const char *tag, sqlite3 *db, const char *path) {
    const Sqlite *l = sqlite();
    if (!l) return -1;
    if (!close_with_retries(*l, tag, db, true)) return -1;
    if (path && access(platform::path("/var/boot").c_str(), F_OK) != 0) {
        my_system("/bin/mount /dev/mtdblock%d /mnt > /dev/null 2>&1", kConfigPartition);
        my_system("/bin/cp %s /mnt > /dev/null 2>&1", runtime::shell_word(path).c_str());
        my_system("/bin/umount /mnt > /dev/null 2>&1");
    }
    return 0;
}

}  // extern "C"
