// Server-side sessions: a store file and a timeout file per session in a
// repository directory shared by every CGI process.
#include <dirent.h>
#include <stdarg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "request/form_state.h"
#include "webadmin.h"

namespace {

constexpr time_t kDefaultInterval = 1800;
constexpr const char *kReserved = "_Q_";
constexpr const char *kTimerFile = "qsession-timetoclear";

struct Session {
    bool started = false;
    bool is_new = false;
    bool modified = false;
    q_entry *store = nullptr;
    time_t interval = kDefaultInterval;
    char repository[1024] = "";
    char store_path[1024] = "";
    char timeout_path[1024] = "";
};

Session session;

void require_started(const char *caller) {
    if (!session.started) qError("%s(): qSession() must be called before.", caller);
}

bool reserved(const char *name) { return std::strncmp(name, kReserved, std::strlen(kReserved)) == 0; }

// The identifiers this layer makes: 32 hex digits.  Anything else from a
// cookie would become part of a file name, so it names no session.
bool plausible_id(const char *id) {
    if (!id || std::strlen(id) != 32) return false;
    return std::strspn(id, "0123456789abcdefABCDEF") == 32;
}

// A timeout file holds the second at which its session expires; it is valid
// while that second has not passed.
bool still_valid(const char *path) {
    FILE *fp = qfopen(path, "r");
    if (!fp) return false;
    long until = 0;
    const bool read = std::fscanf(fp, "%ld", &until) == 1;
    qfclose(fp);
    return read && std::time(nullptr) <= until;
}

// Emptied only under the lock, as _EntrySave does, so that a reader never
// takes a file being rewritten for an expired one.
bool write_expiry(const char *path, time_t until) {
    FILE *fp = qfopen(path, "a");
    if (!fp) return false;
    const bool written = ftruncate(fileno(fp), 0) == 0 && std::fprintf(fp, "%ld\n", static_cast<long>(until)) > 0;
    return qfclose(fp) == 0 && written;
}

void remove_file(const char *path) { unlink(platform::path(path).c_str()); }

void build_paths(const char *id) {
    const int a = std::snprintf(session.store_path, sizeof session.store_path, "%s/%s%s%s", session.repository,
                                "qsession-", id, ".properties");
    const int b = std::snprintf(session.timeout_path, sizeof session.timeout_path, "%s/%s%s%s", session.repository,
                                "qsession-", id, ".timeout");
    if (a < 0 || b < 0 || static_cast<size_t>(a) >= sizeof session.store_path ||
        static_cast<size_t>(b) >= sizeof session.timeout_path)
        qError("qSession(): Session repository path is too long.");
}

void set_pair(const char *name, const char *value) {
    q_entry *entry = _EntryAdd(session.store, name, value);
    if (!session.store) session.store = entry;
}

long number_of(const char *name) {
    const char *value = _EntryValue(session.store, name);
    return value ? std::atol(value) : 0;
}

void set_number(const char *name, long number) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld", number);
    set_pair(name, text);
}

// A store read back whole has the session's own identifier in it.
bool open_stored(const char *id) {
    session.store = _EntryLoad(session.store_path);
    const char *stored = _EntryValue(session.store, "_Q_SESSIONID");
    if (stored && std::strcmp(stored, id) == 0) return true;
    _EntryFree(session.store);
    session.store = nullptr;
    return false;
}

// Both value readers: the name formatted, then the session's pair.
__attribute__((format(printf, 1, 0))) char *value_of(const char *format, va_list args) {
    char name[1024];
    request::format_name(name, "qSessionValue(): Message is too long or invalid.", format, args);
    require_started("qSessionValue");
    return _EntryValue(session.store, name);
}

void reset() {
    _EntryFree(session.store);
    session = Session{};
}

}  // namespace

extern "C" {

int qSession(const char *repository) {
    if (session.started) return session.is_new;
    session.started = true;
    session.modified = false;
    _EntryFree(session.store);
    session.store = nullptr;

    if (qGetContentFlag()) qError("qSession(): must be called before qContentType() and any stream out.");

    const char *requested = qValue("QSESSIONID");
    std::string id = plausible_id(requested) ? requested : "";
    const char *dir = repository ? repository : "/tmp";
    if (std::strlen(dir) >= sizeof session.repository) qError("qSession(): Session repository path is too long.");
    std::strcpy(session.repository, dir);

    if (!id.empty()) {
        build_paths(id.c_str());
        // A store that cannot be read back is as good as expired.
        if (still_valid(session.timeout_path) && open_stored(id.c_str())) {
            set_number("_Q_CONNECTIONS", static_cast<long>(_EntryiValue(session.store, "_Q_CONNECTIONS")) + 1);
            // An interval lost from the store leaves the current one.
            const long stored = number_of("_Q_INTERVAL");
            qSessionSetTimeout(stored >= 1 ? stored : session.interval);
            session.is_new = false;
            return 0;
        }
        remove_file(session.store_path);
        remove_file(session.timeout_path);
    }
    id = qUniqueID();
    build_paths(id.c_str());

    qCookieSet("QSESSIONID", id.c_str(), 0, "/", nullptr, 0);
    qValueAdd("QSESSIONID", "%s", id.c_str());
    char created_gmt[256];
    const time_t created = qGetGMTime(created_gmt, 0);
    set_pair("_Q_SESSIONID", id.c_str());
    set_pair("_Q_CREATED-GMT", created_gmt);
    set_number("_Q_CREATED", static_cast<long>(created));
    set_pair("_Q_CONNECTIONS", "1");
    qSessionSetTimeout(session.interval);
    session.is_new = true;
    return 1;
}

char *qSessionAdd(const char *name, const char *format, ...) {
    require_started("qSessionAdd");
    if (!name || !*name) qError("qSessionAdd(): can not add empty name.");
    if (reserved(name)) qError("qSessionAdd(): Name can not start with %s. It's reserved for internal uses.", kReserved);
    char value[1024];
    va_list args;
    va_start(args, format);
    request::format_name(value, "qSessionAdd(): Message is too long or invalid.", format, args);
    va_end(args);
    set_pair(name, value);
    session.modified = true;
    return _EntryValue(session.store, name);
}

int qSessionAddInteger(const char *name, int valueint) {
    qSessionAdd(name, "%d", valueint);
    return qSessionValueInteger("%s", name);
}

int qSessionUpdateInteger(const char *name, int plusint) {
    // Wraps rather than overflows: the stored number may be any text's atoi.
    const unsigned sum = static_cast<unsigned>(qSessionValueInteger("%s", name)) + static_cast<unsigned>(plusint);
    qSessionAddInteger(name, static_cast<int>(sum));
    return qSessionValueInteger("%s", name);
}

char *qSessionValue(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *value = value_of(format, args);
    va_end(args);
    return value;
}

int qSessionValueInteger(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const char *value = value_of(format, args);
    va_end(args);
    return value ? std::atoi(value) : 0;
}

void qSessionRemove(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qSessionRemove(): Message is too long or invalid.", format, args);
    va_end(args);
    if (!*name) qError("qAddRemove(): can not remove empty name.");
    require_started("qSessionRemove");
    if (reserved(name)) qError("qSessionRemove(): can not remove reserved words.");
    session.store = _EntryRemove(session.store, name);
    session.modified = true;
}

char *qSessionGetID(void) {
    require_started("qSessionGetID");
    return _EntryValue(session.store, "_Q_SESSIONID");
}

time_t qSessionGetCreated(void) {
    require_started("qSessionGetCreated");
    return static_cast<time_t>(number_of("_Q_CREATED"));
}

time_t qSessionSetTimeout(time_t seconds) {
    require_started("qSessionSetTimeout");
    if (seconds < 1) qError("qSessionSetTimeout(): can not set negative interval. Use qSessionDestory() instead.");
    session.interval = seconds;
    set_number("_Q_INTERVAL", static_cast<long>(seconds));
    return session.interval;
}

int qSessionPrint(void) {
    require_started("qSessionPrint");
    return _EntryPrint(session.store);
}

void qSessionSave(void) {
    if (!session.started || !session.store) return;
    // A session nobody wrote into is never stored.
    if (session.is_new && !session.modified) return;
    if (!_EntrySave(session.store, session.store_path))
        qError("qSessionSave(): Can not access session repository(%s).", session.store_path);
    if (!write_expiry(session.timeout_path, qGetGMTime(nullptr, session.interval)))
        qError("qSessionSave(): Can not access session repository(%s).", session.timeout_path);
    session.modified = false;
}

void qSessionFree(void) {
    if (!session.started) return;
    // A session that stopped before it had a repository has nothing on disk.
    if (session.repository[0]) {
        qSessionSave();
        _clearRepository();
    }
    reset();
}

void qSessionDestroy(void) {
    require_started("qSessionDestroy");
    remove_file(session.store_path);
    remove_file(session.timeout_path);
    _EntryFree(session.store);
    session.store = nullptr;
    qSessionFree();
    if (!qGetContentFlag()) qCookieRemove("QSESSIONID", "/", nullptr, 0);
}

int _clearRepository(void) {
    require_started("_clearRepository");
    char timer[1024];
    const int n = std::snprintf(timer, sizeof timer, "%s/%s", session.repository, kTimerFile);
    if (n < 0 || static_cast<size_t>(n) >= sizeof timer)
        qError("_clearRepository(): Can not access session repository(%s).", session.repository);
    if (still_valid(timer)) return 0;
    if (!write_expiry(timer, qGetGMTime(nullptr, session.interval)))
        qError("_clearRepository(): Can not access session repository(%s).", timer);
    DIR *dir = opendir(platform::path(session.repository).c_str());
    if (!dir) qError("_clearRepository(): Can not access session repository(%s).", session.repository);

    int removed = 0;
    while (const dirent *entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        const size_t suffix = name.rfind(".timeout");
        if (name.find("qsession-") == std::string_view::npos || suffix == std::string_view::npos) continue;
        const std::string timeout = std::string(session.repository) + "/" + std::string(name);
        if (timeout.size() >= 1024 || still_valid(timeout.c_str())) continue;
        const std::string store = std::string(session.repository) + "/" + std::string(name.substr(0, suffix)) +
                                  ".properties" + std::string(name.substr(suffix + 8));
        remove_file(timeout.c_str());
        remove_file(store.c_str());
        ++removed;
    }
    closedir(dir);
    return removed;
}

}  // extern "C"
