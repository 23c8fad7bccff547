// Developers' debug output.  my_debug writes to syslog while the marker
// /var/debug.msg exists; the per-program facility is switched by marker
// files in the root directory named after the program (/upgrade.print ...).
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/shell_quote.h"
#include "webadmin.h"

extern "C" {
char _mydebug_buf[768];
int _mydebug_f;
int _mydebug_level;
int _mydebug_pid;
}

namespace {

constexpr char kMarkerDirectory[] = "/var";
constexpr char kMarker[] = "/debug.msg";
constexpr std::size_t kNameSize = 128;

enum Flag { kPrint = 1, kLogFile = 2, kSyslog = 4 };

// The six marker names, in the order they are kept in _mydebug_buf.
enum Marker { kPrintFile, kLogName, kLogSwitch, kLogClear, kSyslogFile, kLevelFile, kMarkers };
constexpr const char *kMarkerSuffixes[kMarkers] = {".print", ".log", ".fp", ".fprm", ".syslog", ".level"};
static_assert(kMarkers * kNameSize == sizeof _mydebug_buf);

using File = runtime::file_handle;
using HeapText = runtime::heap_text;

char *marker(Marker m) { return _mydebug_buf + m * kNameSize; }

bool exists(const char *appliance_path) {
    struct stat st;
    return stat(platform::path(appliance_path).c_str(), &st) == 0;
}

// The program name of a path: its last component without the extension.
std::string program_name(std::string_view path) {
    std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    std::size_t dot = path.rfind('.');
    if (dot != std::string_view::npos) path = path.substr(0, dot);
    return std::string(path);
}

const char *or_empty(const char *text) { return text ? text : ""; }

}  // namespace

extern "C" {

void my_debug(const char *file, int line, const char *format, ...) {
    char path[sizeof kMarkerDirectory + sizeof kMarker];
    if (isDirectory(kMarkerDirectory)) std::snprintf(path, sizeof path, "%s%s", kMarkerDirectory, kMarker);
    else std::snprintf(path, sizeof path, "%s", kMarker);
    if (!exists(path)) return;

    va_list args;
    va_start(args, format);
    HeapText text(xasprintf(format, args));
    va_end(args);
    platform::log(LOG_ALERT, "P%d,T%lu[%s:%d] %s", static_cast<int>(getpid()),
                  static_cast<unsigned long>(time(nullptr)), or_empty(file), line, or_empty(text.get()));
    platform::sync();
}

void my_debug_init(const char *path) {
    memset(_mydebug_buf, 0, sizeof _mydebug_buf);
    _mydebug_f = 0;
    _mydebug_pid = static_cast<int>(getpid());
    if (!path) return;
    try {
        std::string base = "/" + program_name(path);
        for (int m = 0; m < kMarkers; ++m)
            std::snprintf(marker(static_cast<Marker>(m)), kNameSize, "%s%s", base.c_str(), kMarkerSuffixes[m]);

        if (exists(marker(kPrintFile))) _mydebug_f |= kPrint;
        if (exists(marker(kLogSwitch))) _mydebug_f |= kLogFile;
        if (exists(marker(kLogClear))) my_system("> %s", runtime::shell_word(marker(kLogName)).c_str());
        if (exists(marker(kSyslogFile))) _mydebug_f |= kSyslog;
    } catch (...) {
        return;
    }
    File level(std::fopen(platform::path(marker(kLevelFile)).c_str(), "r"));
    unsigned int value;
    if (level && std::fscanf(level.get(), "%x", &value) == 1) _mydebug_level = static_cast<int>(value);
}

void my_debug_printf(int mask, const char *function, int line, const char *format, ...) {
    if (!_mydebug_f || !(mask & _mydebug_level)) return;
    va_list args;
    va_start(args, format);
    HeapText formatted(xasprintf(format, args));
    va_end(args);
    const char *text = or_empty(formatted.get());
    function = or_empty(function);

    if (_mydebug_f & kPrint) std::printf("(pid:%d)[%s] %d: %s\n", _mydebug_pid, function, line, text);
    if (_mydebug_f & kLogFile) {
        File log(std::fopen(platform::path(marker(kLogName)).c_str(), "a+"));
        time_t now = time(nullptr);
        struct tm utc {};
        char date[32] = "", clock[32] = "";
        if (gmtime_r(&now, &utc)) {
            // The date as strftime's "%D" gives it: month/day/two-digit year.
            std::snprintf(date, sizeof date, "%02d/%02d/%02d", utc.tm_mon + 1, utc.tm_mday, utc.tm_year % 100);
            strftime(clock, sizeof clock, "%T", &utc);
        }
        if (log)
            std::fprintf(log.get(), "%s %s ==> (pid:%d)[%s] %d: %s\n", date, clock, _mydebug_pid, function, line,
                         text);
    }
    if (_mydebug_f & kSyslog) platform::log(LOG_ALERT, "(pid:%d)[%s] %d: %s", _mydebug_pid, function, line, text);
}

void my_debug_set_level(int level) { _mydebug_level = level; }

void my_debug_set_pid(int pid) { _mydebug_pid = pid; }

void my_debug_usage(void) {
    std::printf(
        "\ndebug flag:\n  echo \"0xFF\" > %s\t: set level (hex)\n  > %s\t\t: print\n  > %s\t\t\t: write to %s\n"
        "  > %s\t\t\t: clear %s\n  > %s\t\t: write to syslog\n",
        marker(kLevelFile), marker(kPrintFile), marker(kLogSwitch), marker(kLogName), marker(kLogClear),
        marker(kLogName), marker(kSyslogFile));
}

}  // extern "C"
