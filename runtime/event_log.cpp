// The event log: every administrative action of the web interface leaves a
// line in the event log file (or in the boot event log, which survives a
// restart on flash), and is forwarded to the central management server and
// to the remote log service when those are switched on.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

extern "C" {
const char *const EVENT_LOG_TABLE[2] = {"eventlog_system", "eventlog_system"};
char menu_str[300][200];
}

namespace {

constexpr char kEventLog[] = "/var/log/eventlog";
constexpr char kBootLog[] = "/etc/sysconfig/.firewall/eventlog";
constexpr char kUptime[] = "/proc/uptime";
constexpr int kConfigPartition = 3;
constexpr int kForwardEventlog = 0x40;
constexpr char kLogDatabase[] = "MONITOR_LOG";
constexpr char kRemoteLogger[] = "/usr/sbin/send_logmsg";
constexpr char kSyslogPrefix[] = "<134>";
constexpr std::size_t kMenuRows = sizeof menu_str / sizeof menu_str[0];
constexpr std::size_t kMenuRowSize = sizeof menu_str[0];

using File = runtime::file_handle;
using HeapText = runtime::heap_text;

struct TableFree {
    void operator()(q_entry *t) const { qSedArgFree(t); }
};

std::string_view or_empty(const char *text) { return text ? text : ""; }

// A field of the file line sits in double quotes: a quote or backslash is
// escaped, and a line break becomes a blank, so one event stays one line
// that reads back into the same eight fields.
std::string file_field(const char *text) {
    std::string out;
    for (char c : or_empty(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n' || c == '\r') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// The remote text sits in double quotes on a shell command line: the four
// characters the shell still interprets there are escaped, so request
// values arrive as data and ordinary texts stay as they are.
std::string shell_quoted_text(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string sql_text(const char *text) {
    if (!text) return {};
    HeapText escaped(my_sqlescape(text, strlen(text)));
    return escaped ? escaped.get() : "";
}

unsigned long uptime_seconds() {
    File file(std::fopen(platform::path(kUptime).c_str(), "r"));
    unsigned long seconds = 0;
    if (!file || std::fscanf(file.get(), "%lu", &seconds) != 1) return 0;
    return seconds;
}

// A kind outside the table is logged under the first table's name.
const char *table_name(intptr_t kind) {
    constexpr intptr_t kinds = sizeof EVENT_LOG_TABLE / sizeof EVENT_LOG_TABLE[0];
    return EVENT_LOG_TABLE[kind >= 0 && kind < kinds ? kind : 0];
}

// Appends the event's line; false when the log cannot be opened.
bool append_line(const event_record &r, bool boot) {
    File file(std::fopen(platform::path(boot ? kBootLog : kEventLog).c_str(), "a"));
    if (!file) return false;
    std::string time = boot ? "0" : std::to_string(uptime_seconds());
    std::fprintf(file.get(), "\"%s\" \"%s\" \"%s\" \"%s\" \"%s\" %d %d \"%s\"\n", time.c_str(),
                 file_field(r.program).c_str(), file_field(r.menu ? encodeMenuLV(r.menu) : "").c_str(),
                 file_field(r.user).c_str(), file_field(r.address).c_str(), static_cast<int>(r.kind),
                 static_cast<int>(r.type), file_field(r.message).c_str());
    return true;
}

void copy_boot_log_to_flash() {
    my_system("/bin/mount /dev/mtdblock%d /mnt > /dev/null 2>&1", kConfigPartition);
    my_system("/bin/cp %s /mnt > /dev/null 2>&1", kBootLog);
    my_system("/bin/umount /mnt > /dev/null 2>&1");
}

// The address is escaped like the other texts: a real address has nothing
// to escape, and a caller's text never ends the SQL string early.
void send_to_management(const event_record &r) {
    const int *enabled = RI(59), *kinds = RI(68);
    if (!enabled || !*enabled || !kinds || !(*kinds & kForwardEventlog)) return;
    HeapText statement(my_string(
        nullptr,
        "INSERT INTO `%s_%s`.`%s` (`STime`, `Program`, `Explain`, `Name`, `IP`, `Event`, `Type`, `Msg`, "
        "`detail1`, `detail2`) VALUES (NOW(), '%s', '%s', '%s', '%s', %d, %d, '%s', '%s', '%s')",
        kLogDatabase, my_getDate(0), table_name(r.kind), sql_text(r.program).c_str(), sql_text(r.menu).c_str(),
        sql_text(r.user).c_str(), sql_text(r.address).c_str(), static_cast<int>(r.kind), static_cast<int>(r.type),
        sql_text(r.message).c_str(), "", ""));
    if (statement) my_cms_send_message(statement.get());
}

bool remote_log_on() {
    const char *setting = RS(23);
    if (!setting) return false;
    uint32_t word;
    memcpy(&word, setting + 12, sizeof word);
    return word != 0;
}

// The English menu texts of the menu numbers in the menu text ("=3", "=12"),
// joined by "->"; a number without a text gives an empty piece.  The list is
// loaded as a page's language list (the icons path follows the language);
// rows a missing or shorter file does not fill keep what they held.
std::string menu_path(std::string_view menu) {
    load_language("eng", IF_DEFINE("HAVE_WIRELESS") ? "menu.apc" : "menu", menu_str[0], static_cast<int>(kMenuRows),
                  static_cast<int>(kMenuRowSize), nullptr);
    std::string path;
    bool first = true;
    for (std::size_t at = menu.find('='); at != std::string_view::npos; at = menu.find('=', at + 1)) {
        std::size_t end = at + 1, row = 0;
        while (end < menu.size() && menu[end] >= '0' && menu[end] <= '9') {
            if (row < kMenuRows) row = row * 10 + static_cast<std::size_t>(menu[end] - '0');
            ++end;
        }
        if (end == at + 1) continue;
        if (!first) path += "->";
        first = false;
        if (row < kMenuRows) path.append(menu_str[row], strnlen(menu_str[row], kMenuRowSize));
    }
    return path;
}

std::string local_time_text() {
    time_t now = time(nullptr);
    struct tm local {};
    char text[64];
    if (!localtime_r(&now, &local) || !asctime_r(&local, text)) return {};
    return text;
}

void send_to_remote_log(const event_record &r) {
    if (!remote_log_on()) return;
    q_entry *loaded = nullptr;
    load_static_language("eng", "eventlog", &loaded);
    if (r.program) load_static_language("eng", r.program, &loaded);
    std::unique_ptr<q_entry, TableFree> texts(loaded);
    if (!texts) return;

    std::string menu = r.menu ? menu_path(r.menu) : std::string();
    std::string address = r.address && *r.address ? std::string(" (") + r.address + ")" : std::string();
    const char *message = Name2Str(&loaded, r.message);
    std::string text = std::string(kSyslogPrefix) + std::string(or_empty(r.user)) + address + " [" +
                       (menu.empty() ? "---" : menu) + "] " + std::string(or_empty(message)) + " (" +
                       local_time_text() + ")";
    my_system("%s -u -d %s -t %s -m \"%s\" > /dev/null &", kRemoteLogger, kLogDatabase, table_name(r.kind),
              shell_quoted_text(text).c_str());
}

// The writer behind every log function.  A log that cannot be opened
// suppresses the whole event, forwarding included.
void write_event(const event_record &r, bool boot) {
    try {
        if (!append_line(r, boot)) return;
        if (boot) copy_boot_log_to_flash();
        send_to_management(r);
        send_to_remote_log(r);
    } catch (...) {
        // Out of memory: the event is lost, the caller goes on.
    }
}

// The event of the current request: menu from the form, user and address
// from the web server.
event_record request_event(const char *program, int type, const char *message, const char *detail1,
                           const char *detail2) {
    const char *menu = qValue("menu");
    if (!menu) menu = decodeMenuLV(qValue("menulv"));
    return {0, program, menu, getenv("REMOTE_USER"), getenv("REMOTE_ADDR"), 0, type, message, detail1, detail2};
}

event_record argument_event(const char *program, const char *user, const char *address, int type,
                            const char *message, const char *detail1, const char *detail2) {
    return {0, program, " ", user, address, 0, type, message, detail1, detail2};
}

}  // namespace

extern "C" {

void my_CGI_log(const char *program, int type, const char *message, const char *detail1, const char *detail2) {
    write_event(request_event(program, type, message, detail1, detail2), false);
}

void my_CGI_bootlog(const char *program, int type, const char *message, const char *detail1,
                    const char *detail2) {
    write_event(request_event(program, type, message, detail1, detail2), true);
}

void my_eventlog(const event_record *record) {
    if (record) write_event(*record, false);
}

void my_eventlog_args(const char *program, const char *user, const char *address, int type, const char *message,
                      const char *detail1, const char *detail2) {
    write_event(argument_event(program, user, address, type, message, detail1, detail2), false);
}

void my_bootlog_args(const char *program, const char *user, const char *address, int type, const char *message,
                     const char *detail1, const char *detail2) {
    write_event(argument_event(program, user, address, type, message, detail1, detail2), true);
}

void my_mail_notice_log(const char *subject, const char *message, const char *detail1) {
    try {
        std::string user = std::string("Inspect: ") + std::string(or_empty(subject));
        write_event({0, "mail_notice", qValueDefault(" ", "menu"), user.c_str(), getenv("REMOTE_ADDR"), 0, 10,
                     message, detail1, nullptr},
                    false);
    } catch (...) {
        // Out of memory: the event is lost, the caller goes on.
    }
}

}  // extern "C"
