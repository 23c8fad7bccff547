// Start page of the demo appliance (/cgi-bin/index.cgi): the running
// firmware version, the configuration (each module's number of records, and
// its back-up and restore for those who may change the appliance) and the
// last events of the boot event log, so that an
// administrator who comes back from an upgrade's count-down sees what the
// upgrade recorded.  The reboot page polls this page until it answers.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/html_escape.h"
#include "webadmin.h"

namespace {

constexpr std::size_t kShownEvents = 10;
constexpr int kUpgradeFunction = 5;  // the configuration sits beside the firmware upgrade
constexpr int kMayChange = 2;
constexpr std::size_t kLineLimit = 4096;  // longer log lines are shown cut

// One line of the boot event log, as the log writer formats it:
// "time" "program" "menu" "user" "address" kind type "message".
struct Event {
    std::string program, user, address, message;
};

// Takes the double-quoted field at the front of rest.  The writer does not
// escape quotes, so a field ends at a quote followed by a blank.
bool take_quoted(std::string_view &rest, std::string &field) {
    if (rest.size() < 2 || rest[0] != '"') return false;
    std::size_t end = rest.find("\" ", 1);
    if (end == std::string_view::npos) return false;
    field.assign(rest.substr(1, end - 1));
    rest.remove_prefix(end + 2);
    return true;
}

bool take_number(std::string_view &rest) {
    std::size_t digits = 0;
    if (digits < rest.size() && rest[digits] == '-') ++digits;
    std::size_t first = digits;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == first || digits >= rest.size() || rest[digits] != ' ') return false;
    rest.remove_prefix(digits + 1);
    return true;
}

// A line that does not have the writer's layout is shown whole as the message.
Event parse_event(std::string_view line) {
    Event event;
    std::string time, menu;
    std::string_view rest = line;
    if (take_quoted(rest, time) && take_quoted(rest, event.program) && take_quoted(rest, menu) &&
        take_quoted(rest, event.user) && take_quoted(rest, event.address) && take_number(rest) &&
        take_number(rest) && rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        event.message.assign(rest.substr(1, rest.size() - 2));
        return event;
    }
    return Event{{}, {}, {}, std::string(line)};
}

// Replaces every ${NAME} placeholder by its text in the loaded language;
// unknown placeholders stay as they are.
std::string translate(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        std::size_t open = text.find("${");
        std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) break;
        out += text.substr(0, open);
        std::string key(text.substr(open, close - open + 1));
        out += Name2Str(nullptr, key.c_str());
        text.remove_prefix(close + 1);
    }
    out += text;
    return out;
}

std::deque<std::string> last_log_lines(const char *appliance_path) {
    std::deque<std::string> lines;
    std::ifstream log(platform::path(appliance_path), std::ios::binary);
    std::string line;
    while (std::getline(log, line)) {
        if (line.empty()) continue;
        if (line.size() > kLineLimit) line.resize(kLineLimit);
        lines.push_back(line);
        if (lines.size() > kShownEvents) lines.pop_front();
    }
    return lines;
}

const char *T(const char *key) { return Name2Str(nullptr, key); }

void print_events() {
    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n<tr><td>\n"
                "<table id=\"events\" border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                T("${INDEX_BOOT_EVENTS_STR}"), html_fmt[4], html_fmt[5]);
    std::deque<std::string> lines = last_log_lines("/etc/sysconfig/.firewall/eventlog");
    if (lines.empty()) {
        std::printf("<tr><td class=\"DistinctText\">%s</td></tr>\n", T("${INDEX_NO_EVENTS_STR}"));
    } else {
        std::printf("<tr><td class=\"TitleCol\">%s</td><td class=\"TitleCol\">%s</td>"
                    "<td class=\"TitleCol\">%s</td><td class=\"TitleCol\">%s</td></tr>\n",
                    T("${INDEX_PROGRAM_STR}"), T("${INDEX_USER_STR}"), T("${INDEX_ADDRESS_STR}"),
                    T("${INDEX_EVENT_STR}"));
        // Newest first: what the last upgrade did is on top.
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            Event event = parse_event(*line);
            std::printf("<tr><td>%s</td><td>%s</td><td>%s</td><td>%s</td></tr>\n", runtime::html_escape(event.program).c_str(),
                        runtime::html_escape(event.user).c_str(), runtime::html_escape(event.address).c_str(),
                        runtime::html_escape(translate(event.message)).c_str());
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
        if (records)
            std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td><td>%u</td></tr>\n",
                        runtime::html_escape(e->name).c_str(), records);
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
    const std::string language = now_language(RS(13));
    load_my_language(language.c_str(), "upgrade", nullptr);
    load_static_language(language.c_str(), "index", nullptr);

    const char *name = RS(16);
    std::string title = name && *name ? name : std::string(record.vendor) + " " + record.model;
    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "<title>%s</title>\n</head>\n<body class=\"MainBody\">\n<center>\n",
                runtime::html_escape(title).c_str());
    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n<tr><td>\n"
                "<table border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                runtime::html_escape(title).c_str(), html_fmt[4], html_fmt[5]);
    if (known) {
        std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td><td id=\"version\">v%d.%02d.%02d</td></tr>\n",
                    T("${UPGRADE_VERSION_NUM_STR}"), std::atoi(record.major), std::atoi(record.minor),
                    std::atoi(record.revision));
    }
    // The upgrade page answers nothing to a request without any value, and
    // its form posts back to the address it came from: the link carries the
    // language, never q.
    std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td>"
                "<td><a href=\"/cgi-bin/upgrade.cgi?MULTI_LANG=%s\">%s</a></td></tr>\n</table>\n</td></tr>\n"
                "</table>\n<br>\n",
                T("${UPGRADE_SOFTWARE_UPDATE_STR}"), runtime::html_escape(language).c_str(), T("${INDEX_OPEN_UPGRADE_STR}"));
    print_configuration(my_func_privilege_name(kUpgradeFunction, std::getenv("REMOTE_USER")) & kMayChange);
    print_events();
    std::printf("</center>\n</body>\n</html>\n");
    qFreeAll();
    return 0;
}
