// The reboot page module: the page a browser shows while the appliance
// restarts.  Messages are appended to it one script at a time while the
// response stays open; a count-down then polls the start page until the
// appliance answers and loads it in the top window.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "system/module.h"

namespace {

constexpr int kUptimeFile = 182;  // /proc/uptime
constexpr const char *kGroups[] = {"reboot", "sys_reboot"};
using texts = module::texts<kGroups>;

void flush_all() {
    std::fflush(stdin);
    std::fflush(stdout);
    std::fflush(stderr);
}

const char *T(const char *key) {
    q_entry *table = texts::table();
    return Name2Str(&table, key);
}

void *reboot_time(void *rec) {
    *static_cast<uint32_t *>(rec) = RETURN_DEF_UINT("SYSTEM_REBOOT_TIME");
    return rec;
}

void write_head() {
    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "<style type=\"text/css\">\n"
                "progress {\n  border-radius: 2px;\n  display: inline-block;\n  width: 250px;\n  height: 5px;\n"
                "  border: 1px solid %s;\n  background-color: %s;\n  color: %s;\n}\n"
                "progress .ie {\n  display: block;\n  height: 3px;\n  background: %s;\n}\n"
                "progress::-moz-progress-bar {\n  background: %s;\n}\n"
                "progress::-webkit-progress-bar {\n  background: %s;\n}\n"
                "progress::-webkit-progress-value {\n  background: %s;\n}\n"
                "</style>\n",
                html_fmt[169], html_fmt[168], html_fmt[167], html_fmt[167], html_fmt[167], html_fmt[168],
                html_fmt[167]);
    std::printf("<script type=\"text/javascript\" src=\"../js/jquery.min.js\"></script>\n"
                "<script type=\"text/javascript\">\n"
                "var timerid = 0;\nvar total_time = 0;\nvar degree = 1;\n"
                "function req_index() {\n"
                "  $.ajax({\n"
                "    url: \"/cgi-bin/index.cgi\",\n"
                "    cache: false,\n"
                "    success: function() {\n"
                "      var w = window;\n"
                "      while (w.parent && w.parent != w) w = w.parent;\n"
                "      w.location.href = \"/cgi-bin/index.cgi\";\n"
                "    },\n"
                "    error: function() { req_index(); }\n"
                "  });\n"
                "}\n");
    // Arrows either side of the number blink in turn; there are at most
    // 21 of them, whatever the length of the count-down (degree).
    std::printf("function count_time() {\n"
                "  var timer = document.getElementById(\"timer\");\n"
                "  if (!timer) {\n    clearInterval(timerid);\n    return;\n  }\n"
                "  var number = parseInt(timer.innerHTML, 10);\n"
                "  if (number > 0) {\n"
                "    var flags_times = number / degree;\n"
                "    var right = \"&gt;\", left = \"&lt;\";\n"
                "    for (var i = 0; i < flags_times; i++) {\n      right += \"&gt;\";\n      left += \"&lt;\";\n    }\n"
                "    number = number - 1;\n"
                "    timer.innerHTML = number;\n"
                "    if (number %% 2) {\n"
                "      $(\"#start_flag\").html('<span style=\"color: %s\">' + left + '</span>');\n"
                "      $(\"#end_flag\").html('<span style=\"color: %s\">' + right + '</span>');\n"
                "    } else {\n"
                "      $(\"#end_flag\").html('<span style=\"color: %s\">' + left + '</span>');\n"
                "      $(\"#start_flag\").html('<span style=\"color: %s\">' + right + '</span>');\n"
                "    }\n"
                "  }\n"
                "  if (number <= 0) {\n    clearInterval(timerid);\n    req_index();\n  }\n"
                "}\n</script>\n",
                html_fmt[98], html_fmt[99], html_fmt[100], html_fmt[101]);
    std::printf("</head>\n<body class=\"MainBody\">\n<center>\n<div id=\"sys_reboot_log\">\n"
                "<table border=0 width=700 height=%s cellpadding=0 cellspacing=0><tr><td></td></tr></table>\n"
                "</div>\n</center>\n</body>\n</html>\n",
                html_fmt[113]);
}

// With no text, the page head; with a text, the text as it is.
void *write_page(void *arg, const char *text) {
    if (text) std::fputs(text, stdout);
    else write_head();
    flush_all();
    return arg;
}

// /proc/uptime is only ever read.
record_file *open_uptime(void *, const char *tag, int) { return module::open_file(kUptimeFile, tag, 0); }

// The first number of the line: for /proc/uptime, whole seconds.
void *parse_uptime(char *line, void *rec) {
    char *tokens[2];
    if (string_parse(tokens, 2, line) >= 1 && tokens[0])
        *static_cast<uint32_t *>(rec) = static_cast<uint32_t>(std::strtoul(tokens[0], nullptr, 10));
    return rec;
}

// The count-down, then the restart: without a command the kernel restart,
// with one that command (run to its end), with an empty one nothing more.
int count_down_and_restart(uint32_t *record, const char *restart) {
    int extra = record && *record == 1 ? RETURN_DEF_INT("SYSTEM_FORMAT_TIME") : 0;
    int total = extra + get_last_reboot_interval() + 30;
    if (total % 10) total = (total / 10 + 1) * 10;
    int degree = total / 20 + (total % 20 ? 1 : 0);
    const char *name = RS(16);
    std::printf("<script>\n"
                "if (!document.getElementById(\"timer\")) {\n"
                "  $(\"#sys_reboot_log\").append('<table border=0 width=700 cellpadding=%s cellspacing=%s>"
                "<tr class=\"TextAttr\" align=\"center\"><td>%s %s</td></tr>"
                "<tr class=\"TextAttr\" align=\"center\"><td><span id=\"start_flag\" style=\"color: %s\"></span>%s "
                "<span id=\"timer\" style=\"color: %s\">%d</span>&nbsp;%s<span id=\"end_flag\" style=\"color: %s\">"
                "</span></td></tr></table>');\n"
                "  total_time = %d;\n"
                "  if (total_time > 0) degree = %d;\n"
                "  timerid = setInterval(\"count_time()\", 1000);\n"
                "}\n</script>\n",
                html_fmt[4], html_fmt[5], name ? name : "", T("${REBOOT_RESTARTING_STR}"), html_fmt[100],
                T("${REBOOT_RECONNECT_STR}"), html_fmt[102], total, T("${REBOOT_SECONDS_STR}"), html_fmt[99], total,
                degree);
    flush_all();
    if (!restart) {
        platform::sync();
        platform::sleep_seconds(1);
        my_system("/sbin/reboot");
    } else if (*restart) {
        platform::libc_system(restart);
    }
    return 0;
}

void *unchanged(void *arg) { return arg; }

// One message appended to the page; its text is one line of a single-quoted
// script string, placeholders replaced from the chosen language table.
int append_message(const char *text) {
    if (!text) return 0;
    if (q_entry *table = texts::table()) {
        char *script = my_string(nullptr, "<script>$(\"#sys_reboot_log\").append('%s');</script>\n", text);
        if (script) qSedStr(table, script, stdout);
        std::free(script);
    } else {
        std::printf("<script>\n$(\"#sys_reboot_log\").append('%s');\n</script>\n", text);
    }
    flush_all();
    return 0;
}

void no_form() {}

const module_table kTable = {
    .name = "sys_reboot",
    .clear = reboot_time,
    .set_default = write_page,
    .open = open_uptime,
    .getline = module::getline<parse_uptime>,
    .getnum = module::getnum<parse_uptime>,
    .parse = parse_uptime,
    .close = module::close_file,
    .command = module::op(static_cast<sys_reboot_command_fn>(count_down_and_restart)),
    .discommand = module::op(unchanged),
    .language = texts::language,
    .print = append_message,
    .cgiParam = module::op(no_form),
};

}  // namespace

extern "C" {

module_table *sys_reboot_register(void) { return module::register_table(kTable); }
void sys_reboot_unregister(module_table *table) { module::unregister_table(table); }

int get_last_reboot_interval(void) {
    int *interval = RI(105);
    return interval ? *interval : 0;
}

}
