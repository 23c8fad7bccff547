// The response header block: content type, cookies, redirects, script pages.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/owners.h"
#include "webadmin.h"

namespace {

// 1 once the header block has been closed by qContentType.
int content_flag = 0;

constexpr size_t kCookieSize = 4096;

std::string url_encoded(const char *text) {
    runtime::heap_text encoded(qURLencode(text ? text : ""));
    return encoded ? std::string(encoded.get()) : std::string();
}

}  // namespace

extern "C" {

void qContentType(const char *mimetype) {
    if (content_flag) return;
    printf("Content-Type: %s\n\n", mimetype ? mimetype : "");
    content_flag = 1;
}

int qGetContentFlag(void) { return content_flag; }

void qResetContentFlag(void) { content_flag = 0; }

void qCookieSet(const char *name, const char *value, int exp_days, const char *path, const char *domain,
                int secure) {
    if (content_flag) qError("qCookieSet(): must be called before qContentType() and any stream out.");

    std::string cookie = url_encoded(name) + "=" + url_encoded(value);
    if (exp_days != 0) {
        char gmt[256];
        qGetGMTime(gmt, static_cast<time_t>(exp_days) * 86400);
        cookie += "; expires=";
        cookie += gmt;
    }
    if (path) {
        if (path[0] != '/') qError("qCookieSet(): Path string(%s) must start with '/' character.", path);
        cookie += "; path=";
        cookie += path;
    }
    if (domain) {
        if (strchr(domain, '/') || !strchr(domain, '.')) qError("qCookieSet(): Invalid domain name(%s).", domain);
        cookie += "; domain=";
        cookie += domain;
    }
    if (secure) cookie += "; secure";
    // A cut cookie would lose its attributes (the secure flag among them):
    // refuse it instead.
    if (cookie.size() >= kCookieSize) qError("qCookieSet(): Cookie string is too long.");
    printf("Set-Cookie: %s\n", cookie.c_str());
}

void qCookieRemove(const char *name, const char *path, const char *domain, int secure) {
    if (content_flag) qError("qCookieRemove(): must be called before qContentType() and any stream out.");
    qCookieSet(name, "", -1, path, domain, secure);
}

void qRedirect(const char *url) {
    if (content_flag) qError("qRedirect(): qRedirect() must be called before qContentType() and any stream out.");
    printf("Location: %s\n\n", url ? url : "");
}

void qJavaScript(const char *format, ...) {
    char script[1024];
    va_list args;
    va_start(args, format);
    int n = format ? vsnprintf(script, sizeof script, format, args) : -1;
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof script) qError("qJavaScript(): Message is too long or invalid.");
    qContentType("text/html");
    printf("<html>\n<head>\n<script language='JavaScript'>\n%s\n</script>\n</head>\n</html>\n", script);
}

}
