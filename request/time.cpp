// Local and GMT time texts.
#include <stdio.h>
#include <time.h>

#include "webadmin.h"

extern "C" {

struct tm *qGetTime(void) {
    time_t now = time(nullptr);
    struct tm *t = localtime(&now);
    if (!t) return t;
    t->tm_year += 1900;
    t->tm_mon += 1;
    return t;
}

time_t qGetGMTime(char *gmt, time_t plus_sec) {
    time_t when = time(nullptr) + plus_sec;
    if (gmt) {
        struct tm t;
        if (!gmtime_r(&when, &t) || strftime(gmt, 256, "%a, %d-%b-%Y %H:%M:%S GMT", &t) == 0) gmt[0] = '\0';
    }
    return when;
}

char *qGetTimeStamp(void) {
    static char stamp[16];
    const struct tm *t = qGetTime();
    snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t->tm_year, t->tm_mon, t->tm_mday, t->tm_hour,
             t->tm_min, t->tm_sec);
    return stamp;
}

}
