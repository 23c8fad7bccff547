// The fatal error page: the single exit of every failure of the request layer.
#include <stdio.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "webadmin.h"

namespace {

std::optional<std::string> error_log;
std::optional<std::string> error_contact;
bool in_error = false;

const char *env_or(const char *name, const char *fallback) {
    const char *value = getenv(name);
    return value ? value : fallback;
}

// Appends one line to the error log; false when the log cannot be opened.
bool log_error(const char *message) {
    FILE *fp = fopen(platform::path(*error_log).c_str(), "at");
    if (!fp) return false;
    const struct tm *t = qGetTime();
    const char *host = env_or("REMOTE_HOST", env_or("REMOTE_ADDR", "null"));
    fprintf(fp, "%04d/%02d/%02d(%02d:%02d) : '%s' from %s (%s)\n", t->tm_year, t->tm_mon, t->tm_mday,
            t->tm_hour, t->tm_min, message, host, env_or("HTTP_USER_AGENT", "null"));
    fclose(fp);
    return true;
}

void print_page(const char *message, bool log_failed) {
    qContentType("text/html");
    std::string shown = message;
    if (error_contact) shown += *error_contact;
    if (log_failed) shown += " [ERROR LOGGING FAIL]";
    printf("<html>\n<head>\n<title>Error: %s</title>\n<script language='JavaScript'>\n"
           "  alert(\"%s\");\n  history.back();\n</script>\n</head>\n</html>\n",
           shown.c_str(), shown.c_str());
}

}  // namespace

extern "C" {

void qError(const char *format, ...) {
    // A failure while the error page is being made: give up at once.
    if (in_error) exit(1);
    in_error = true;

    char message[1024];
    va_list args;
    va_start(args, format);
    int n = format ? vsnprintf(message, sizeof message, format, args) : -1;
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof message) {
        fputs("qError(): Message is too long or invalid.", stdout);
        fflush(stdout);
        exit(1);
    }

    bool log_failed = error_log && !log_error(message);

    if (getenv("REMOTE_ADDR")) print_page(message, log_failed);
    else printf("Error: %s\n", message);
    fflush(stdout);
    qFreeAll();
    fflush(stdout);
    exit(1);
}

void qErrorLog(const char *file) {
    if (file) error_log = file;
    else error_log.reset();
}

void qErrorContact(const char *msg) {
    if (msg) error_contact = msg;
    else error_contact.reset();
}

}
