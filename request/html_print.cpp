// Printing text into HTML pages: kept as is, with its layout, or split into
// words whose addresses become links and whose markup is escaped or stripped.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "webadmin.h"

namespace {

constexpr const char *kDelimiters = " `()[]{}<>\"',\r\n";

enum class Markup { escape, strip };

struct Settings {
    bool link;
    const char *target;
    Markup markup;
    bool layout;
};

// The settings of an autolink mode; false for a mode that does not exist.
bool settings_of(int mode, Settings *s) {
    int base = mode;
    bool layout = false;
    if (mode >= 11 && mode <= 16) {
        base = mode - 10;
        layout = true;
    }
    switch (base) {
    case 1: *s = {false, "", Markup::escape, layout}; return true;
    case 2: *s = {true, "", Markup::escape, layout}; return true;
    case 3: *s = {true, "_top", Markup::escape, layout}; return true;
    case 4: *s = {false, "", Markup::strip, layout}; return true;
    case 5: *s = {true, "", Markup::strip, layout}; return true;
    case 6: *s = {true, "_top", Markup::strip, layout}; return true;
    case 23: *s = {true, "qnewwin", Markup::escape, false}; return true;
    case 26: *s = {true, "qnewwin", Markup::strip, false}; return true;
    case 33: *s = {true, "qnewwin", Markup::escape, true}; return true;
    case 36: *s = {true, "qnewwin", Markup::strip, true}; return true;
    default: return false;
    }
}

bool is_link(std::string_view token) {
    for (const char *scheme : {"http://", "https://", "ftp://", "telnet://", "news:", "mailto:"})
        if (token.starts_with(scheme)) return true;
    return false;
}

void put_token(const char *token, const Settings &s) {
    if (s.link && is_link(token)) printf("<a href=\"%s\" target=\"%s\">%s</a>", token, s.target, token);
    else if (s.link && qCheckEmail(token)) printf("<a href=\"mailto:%s\">%s</a>", token, token);
    else fputs(token, stdout);
}

void autolink(int mode, const char *text) {
    Settings s;
    if (!settings_of(mode, &s)) qError("_autolink(): Invalid Mode (%d).", mode);
    char *copy = strdup(text);
    if (!copy) return;

    bool in_tag = false;
    char previous = '\0';
    char stop = '\0';
    for (char *token = _strtok2(copy, kDelimiters, &stop); token;
         previous = stop, token = _strtok2(nullptr, kDelimiters, &stop)) {
        if (in_tag) {
            if (stop == '>') in_tag = false;
            continue;
        }
        put_token(token, s);
        switch (stop) {
        case '<':
            if (s.markup == Markup::strip) in_tag = true;
            else fputs("&lt;", stdout);
            break;
        case '>':
            fputs(s.markup == Markup::escape ? "&gt;" : ">", stdout);
            break;
        case '"':
            fputs("&quot;", stdout);
            break;
        case '\r':
            if (!s.layout) putchar('\r');
            break;
        case '\n':
            fputs(s.layout ? "<br>\n" : "\n", stdout);
            break;
        case ' ':
            fputs(s.layout && previous == ' ' && *token == '\0' ? "&nbsp;" : " ", stdout);
            break;
        case '\0':
            break;
        default:
            putchar(stop);
        }
    }
    free(copy);
}

// Keeps the text's layout: line feeds become breaks, runs of spaces stay.
void put_layout(const char *text) {
    for (const char *p = text; *p; ++p) {
        if (*p == '\r') continue;
        if (*p == '\n') fputs("<br>\n", stdout);
        else if (*p == ' ' && p > text && p[-1] == ' ') fputs("&nbsp;", stdout);
        else putchar(*p);
    }
}

}  // namespace

extern "C" {

void qPuts(int mode, const char *buf) {
    if (!buf) return;
    if (mode == 0) fputs(buf, stdout);
    else if (mode == 10) put_layout(buf);
    else autolink(mode, buf);
}

int qPrintf(int mode, const char *format, ...) {
    char buf[10240];
    va_list args;
    va_start(args, format);
    int n = format ? vsnprintf(buf, sizeof buf, format, args) : -1;
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) qError("qPrintf(): Message is too long or invalid.");
    qPuts(mode, buf);
    return n;
}

}
