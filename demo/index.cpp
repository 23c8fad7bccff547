// Start page of the demo appliance (/cgi-bin/index.cgi): the running
// firmware version, the configuration (each module's number of records, and
// its back-up and restore for those who may change the appliance) and the
// last events of the boot event log, so that an
// administrator who comes back from an upgrade's count-down sees what the
// upgrade recorded.  The reboot page polls this page until it answers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "webadmin.h"

namespace {

constexpr int kShownEvents = 10;
constexpr int kUpgradeFunction = 5;  // the configuration sits beside the firmware upgrade
constexpr int kMayChange = 2;
constexpr std::size_t kLineLimit = 4096;  // longer log lines are shown cut

// One line of the boot event log, as the log writer formats it:
// "time" "program" "menu" "user" "address" kind type "message".
struct Event {
    const char *program, *user, *address;
    char *message;
};

// A double-quoted field of a line: its text runs from begin to end.
struct Field {
    char *begin = nullptr, *end = nullptr;
};

// Takes the double-quoted field at the front of rest.  The writer does not
// escape quotes, so a field ends at a quote followed by a blank.
bool take_quoted(char *&rest, Field &field) {
    if (rest[0] != '"' || rest[1] == '\0') return false;
    char *end = std::strstr(rest + 1, "\" ");
    if (!end) return false;
    field = {rest + 1, end};
    rest = end + 2;
    return true;
}

bool take_number(char *&rest) {
    char *at = rest;
    if (*at == '-') ++at;
    const char *first = at;
    while (*at >= '0' && *at <= '9') ++at;
    if (at == first || *at != ' ') return false;
    rest = at + 1;
    return true;
}

// The fields of a line, ended in place.  A line that does not have the
// writer's layout is shown whole as the message.
Event parse_event(char *line) {
    Field time, program, menu, user, address;
    char *rest = line;
    const std::size_t size = std::strlen(line);
    if (take_quoted(rest, time) && take_quoted(rest, program) && take_quoted(rest, menu) &&
        take_quoted(rest, user) && take_quoted(rest, address) && take_number(rest) && take_number(rest) &&
        line + size - rest >= 2 && rest[0] == '"' && line[size - 1] == '"') {
        for (Field *field : {&program, &user, &address}) *field->end = '\0';
        line[size - 1] = '\0';
        return {program.begin, user.begin, address.begin, rest + 1};
    }
    return {"", "", "", line};
}

// Prints a text as page content.
void print_html(const char *text) {
    char *escaped = my_htmlescape(text);
    if (escaped) std::fputs(escaped, stdout);
    std::free(escaped);
}

// Prints a text with every ${NAME} placeholder replaced by its text in the
// loaded language (unknown placeholders stay as they are), as page content.
void print_translated(char *text) {
    for (;;) {
        char *open = std::strstr(text, "${");
        char *close = open ? std::strchr(open, '}') : nullptr;
        if (!close) break;
        *open = '\0';
        print_html(text);
        *open = '$';
        const char after = close[1];
        close[1] = '\0';
        print_html(Name2Str(nullptr, open));
        close[1] = after;
        text = close + 1;
    }
    print_html(text);
}

// The last non-empty lines of a log, each cut at kLineLimit bytes, oldest
// first: the count kept in lines.
int last_log_lines(const char *appliance_path, char (*lines)[kLineLimit + 1]) {
    FILE *log = std::fopen(my_path(appliance_path), "rbe");
    if (!log) return 0;
    int count = 0;
    char *line = nullptr;
    size_t capacity = 0;
    for (ssize_t length; (length = getline(&line, &capacity, log)) >= 0;) {
        if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
        if (length == 0) continue;
        if (count == kShownEvents) std::memmove(lines[0], lines[1], sizeof lines[0] * (kShownEvents - 1));
        else ++count;
        std::snprintf(lines[count - 1], sizeof lines[0], "%s", line);
    }
    std::free(line);
    std::fclose(log);
    return count;
}

const char *T(const char *key) { return Name2Str(nullptr, key); }

void print_events() {
    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n<tr><td>\n"
                "<table id=\"events\" border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                T("${INDEX_BOOT_EVENTS_STR}"), html_fmt[4], html_fmt[5]);
    static char lines[kShownEvents][kLineLimit + 1];
    const int count = last_log_lines("/etc/sysconfig/.firewall/eventlog", lines);
    if (count == 0) {
        std::printf("<tr><td class=\"DistinctText\">%s</td></tr>\n", T("${INDEX_NO_EVENTS_STR}"));
    } else {
        std::printf("<tr><td class=\"TitleCol\">%s</td><td class=\"TitleCol\">%s</td>"
                    "<td class=\"TitleCol\">%s</td><td class=\"TitleCol\">%s</td></tr>\n",
                    T("${INDEX_PROGRAM_STR}"), T("${INDEX_USER_STR}"), T("${INDEX_ADDRESS_STR}"),
                    T("${INDEX_EVENT_STR}"));
        // Newest first: what the last upgrade did is on top.
        for (int i = count - 1; i >= 0; --i) {
            const Event event = parse_event(lines[i]);
            const char *fields[] = {event.program, event.user, event.address};
            std::fputs("<tr>", stdout);
            for (const char *field : fields) {
                std::fputs("<td>", stdout);
                print_html(field);
                std::fputs("</td>", stdout);
            }
            std::fputs("<td>", stdout);
            print_translated(event.message);
            std::fputs("</td></tr>\n", stdout);
        }
    }
    std::printf("</table>\n</td></tr>\n</table>\n");
}

// The configuration: every module with records, and for those who may
// change the appliance the back-up and the restore.
void print_configuration(bool may_change) {
    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n<tr><td>\n"
                "<table id=\"configuration\" border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                T("${CONFIG_STR}"), html_fmt[4], html_fmt[5]);
    for (int i = 0; const module_entry *e = module_directory(i); ++i) {
        const unsigned int records = config_records(e);
        if (!records) continue;
        std::fputs("<tr><td class=\"TitleCol\" width=\"30%\">", stdout);
        print_html(e->name);
        std::printf("</td><td>%u</td></tr>\n", records);
    }
    if (may_change) {
        std::printf("<tr><td colspan=2><a id=\"backup\" href=\"/cgi-bin/config.cgi?q=backup\">%s</a></td></tr>\n"
                    "<tr><td colspan=2><form id=\"restore\" method=\"post\" enctype=\"multipart/form-data\" "
                    "action=\"/cgi-bin/config.cgi?q=restore\">%s <input type=\"file\" name=\"config\"> "
                    "<input type=\"submit\" value=\"%s\"></form></td></tr>\n",
                    T("${CONFIG_BACKUP_STR}"), T("${CONFIG_RESTORE_STR}"), T("${CONFIG_RESTORE_BUTTON_STR}"));
    }
    std::printf("</table>\n</td></tr>\n</table>\n<br>\n");
}

}  // namespace

int main() {
    qDecoder();  // only MULTI_LANG is read, and a plain GET carries nothing
    qContentType("text/html");
    system_info_record record{};
    const bool known = my_systemInfo(reinterpret_cast<char *>(&record)) >= 0;
    char language[10];
    std::snprintf(language, sizeof language, "%s", now_language(RS(13)));
    load_my_language(language, "upgrade", nullptr);
    load_static_language(language, "index", nullptr);

    const char *name = RS(16);
    char *title = name && *name ? my_htmlescape(name) : nullptr;
    if (!title) {
        char *plain = my_string(nullptr, "%s %s", record.vendor, record.model);
        title = my_htmlescape(plain);
        std::free(plain);
    }
    const char *shown = title ? title : "";
    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "<title>%s</title>\n</head>\n<body class=\"MainBody\">\n<center>\n",
                shown);
    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n<tr><td>\n"
                "<table border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                shown, html_fmt[4], html_fmt[5]);
    std::free(title);
    if (known) {
        std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td><td id=\"version\">v%d.%02d.%02d</td></tr>\n",
                    T("${UPGRADE_VERSION_NUM_STR}"), std::atoi(record.major), std::atoi(record.minor),
                    std::atoi(record.revision));
    }
    // The upgrade page answers nothing to a request without any value, and
    // its form posts back to the address it came from: the link carries the
    // language, never q.
    std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td><td><a href=\"/cgi-bin/upgrade.cgi?MULTI_LANG=",
                T("${UPGRADE_SOFTWARE_UPDATE_STR}"));
    print_html(language);
    std::printf("\">%s</a></td></tr>\n</table>\n</td></tr>\n</table>\n<br>\n", T("${INDEX_OPEN_UPGRADE_STR}"));
    print_configuration(my_func_privilege_name(kUpgradeFunction, std::getenv("REMOTE_USER")) & kMayChange);
    print_events();
    std::printf("</center>\n</body>\n</html>\n");
    qFreeAll();
    return 0;
}
