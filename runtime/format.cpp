// Formatting into rotating static buffers and growing heap texts, and the
// dates that log file names and queries carry.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <limits>

#include "runtime/rotating_buffer.h"
#include "webadmin.h"

namespace {

constexpr std::size_t kRotatingBuffers = 128;
constexpr std::size_t kRotatingSize = 512;
constexpr std::size_t kDateBuffers = 64;
constexpr std::size_t kDateSize = 10;
struct FormatBuffers;
struct DateBuffers;

}  // namespace

extern "C" char *M(const char *format, ...) {
    char *buffer = runtime::next_buffer<kRotatingBuffers, kRotatingSize, FormatBuffers>();
    buffer[0] = '\0';
    if (!format) return buffer;
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, kRotatingSize, format, args);
    va_end(args);
    return buffer;
}

extern "C" char *xasprintf(const char *format, va_list args) {
    if (!format) return nullptr;
    char *text = nullptr;
    if (vasprintf(&text, format, args) < 0) return nullptr;
    return text;
}

extern "C" char *my_string(char *prev, const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = xasprintf(format, args);
    va_end(args);
    if (!prev) return text;
    // The caller's text is consumed either way: callers write p = my_string(p, ...).
    if (!text) {
        free(prev);
        return nullptr;
    }
    size_t head = strlen(prev), tail = strlen(text);
    char *joined = static_cast<char *>(malloc(head + tail + 1));
    if (joined) {
        memcpy(joined, prev, head);
        memcpy(joined + head, text, tail + 1);
    }
    free(prev);
    free(text);
    return joined;
}

extern "C" char *my_getDate(int days) {
    char *buffer = runtime::next_buffer<kDateBuffers, kDateSize, DateBuffers>();
    buffer[0] = '\0';
    // Count from today's noon, so that a change to or from summer time
    // between the two dates never moves the result by a day.
    time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local)) return buffer;
    local.tm_hour = 12;
    local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    time_t noon = mktime(&local);
    if (noon == static_cast<time_t>(-1)) return buffer;
    // In 64 bits: the appliance's time_t has 32, where days * 86400 overflows.
    long long wide = static_cast<long long>(noon) + static_cast<long long>(days) * 86400;
    if (wide < std::numeric_limits<time_t>::min() || wide > std::numeric_limits<time_t>::max()) return buffer;
    time_t then = static_cast<time_t>(wide);
    struct tm date {};
    if (!localtime_r(&then, &date)) return buffer;
    // Eight digits only: a date outside the years 0 to 9999 gives an empty text.
    unsigned year = static_cast<unsigned>(date.tm_year + 1900);
    if (year > 9999) return buffer;
    snprintf(buffer, kDateSize, "%04u%02u%02u", year, static_cast<unsigned>(date.tm_mon + 1) % 100,
             static_cast<unsigned>(date.tm_mday) % 100);
    return buffer;
}
