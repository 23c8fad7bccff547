// Record identifiers (a 14-digit local timestamp), the marks derived from
// them, and the random class marks.
#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/rotating_buffer.h"
#include "webadmin.h"

namespace {

struct ChainIds;
struct Marks;
struct ClassMarks;

constexpr long kDay = 86400;

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// The digits of text[from, from + n) as a number; -1 for anything else.
int digits(const char *text, int from, int n) {
    int value = 0;
    for (int i = from; i < from + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

extern "C" {

int isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

char *my_chainID(time_t t) {
    if (t <= 0) t = std::time(nullptr);
    struct tm local {};
    localtime_r(&t, &local);
    // Formatted whole first: a year past 9999 is cut, never overrun.
    char text[80];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    char *id = runtime::next_buffer<64, 20, ChainIds>();
    std::snprintf(id, 20, "%.19s", text);
    return id;
}

time_t gTime(const char *id) {
    if (!id || std::strlen(id) != 14) return 0;
    const int year = digits(id, 0, 4), month = digits(id, 4, 2), day = digits(id, 6, 2), hour = digits(id, 8, 2),
              minute = digits(id, 10, 2), second = digits(id, 12, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour < 0 ||
        hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60)
        return 0;
    // Counted in 64 bits: the year 9999 is past a 32-bit time_t, which then
    // keeps the low bits, as the mark does.
    int64_t seconds = 0;
    for (int y = 1970; y < year; ++y) seconds += isLeapYear(y) ? 366 * kDay : 365 * kDay;
    for (int m = 1; m < month; ++m) seconds += days_in_month(year, m) * kDay;
    seconds += (day - 1) * kDay + hour * 3600 + minute * 60 + second;
    return static_cast<time_t>(seconds);
}

char *id2mark(const char *id) {
    if (!id || std::strlen(id) != 14) return nullptr;
    char *mark = runtime::next_buffer<64, 10, Marks>();
    std::snprintf(mark, 10, "%08X", static_cast<uint32_t>(gTime(id)));
    return mark;
}

int my_rand_num(unsigned int seed) {
    if (seed == 0) {
        struct timeval now {};
        gettimeofday(&now, nullptr);
        seed = (static_cast<unsigned>(now.tv_usec) << 12) ^ static_cast<unsigned>(now.tv_sec);
    }
    std::srand(seed);
    return 1000 + static_cast<int>(static_cast<int64_t>(std::rand()) * 7000 / (int64_t{1} << 31));
}

char *my_classmark(void) {
    char *mark = runtime::next_buffer<64, 10, ClassMarks>();
    std::snprintf(mark, 10, "%u", static_cast<unsigned>(my_rand_num(0)));
    return mark;
}

}  // extern "C"
