// The demo appliance's configuration page (/cgi-bin/config.cgi), reached
// from the start page: q=backup downloads the whole configuration as one XML
// document named after the model and the date; q=restore takes such a
// document uploaded in the field "config", and shows what was imported or
// why the document was refused (nothing changed then).  Both need the right
// to change the firmware upgrade's settings: anyone else is refused.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "webadmin.h"

namespace {

constexpr int kUpgradeFunction = 5;  // the page beside the firmware upgrade
constexpr int kMayChange = 2;

const char *T(const char *key) { return Name2Str(nullptr, key); }

// A page is its head, rows and foot, written in that order.
void page_head(const char *title) {
    qContentType("text/html");
    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n<title>%s</title>\n</head>\n"
                "<body class=\"MainBody\">\n<center>\n<table border=0 width=700 cellpadding=%s cellspacing=%s>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n",
                title, html_fmt[4], html_fmt[5], title);
}

void page_foot() {
    std::printf("<tr><td><a href=\"/cgi-bin/index.cgi\">%s</a></td></tr>\n</table>\n</center>\n</body>\n</html>\n",
                T("${CONFIG_BACK_STR}"));
}

// A row of text; prefix (or null) goes before it, a blank between.
void row(const char *id, const char *prefix, const char *text) {
    char *escaped = my_htmlescape(text);
    std::printf("<tr><td id=\"%s\">%s%s%s</td></tr>\n", id, prefix ? prefix : "", prefix ? " " : "",
                escaped ? escaped : "");
    std::free(escaped);
}

void page(const char *title, const char *id, const char *text) {
    page_head(title);
    row(id, nullptr, text);
    page_foot();
}

void backup() {
    system_info_record record{};
    my_systemInfo(reinterpret_cast<char *>(&record));
    // The model names the file; anything but a plain file name character is left out.
    char model[sizeof record.model + 1] = "";
    std::size_t kept = 0;
    for (std::size_t i = 0; i < sizeof record.model && record.model[i]; ++i)
        if (std::isalnum(static_cast<unsigned char>(record.model[i])) || std::strchr("._-", record.model[i]))
            model[kept++] = record.model[i];
    std::printf("Content-Disposition: attachment; filename=\"%s_%s.xml\"\n", kept ? model : "appliance",
                my_getDate(0));
    qContentType("application/xml");
    char why[256] = "";
    config_export(nullptr, 0, why, sizeof why);
}

void restore() {
    const char *document = qValue("config");
    const int length = qiValue("config.length");
    static char report[65536];
    if (!document || length <= 0) {
        page(T("${CONFIG_RESTORE_STR}"), "refused", T("${CONFIG_NO_FILE_STR}"));
        return;
    }
    if (config_import(document, static_cast<size_t>(length), report, sizeof report) != 0) {
        char *refused = my_htmlescape(T("${CONFIG_REFUSED_STR}"));
        page_head(T("${CONFIG_RESTORE_STR}"));
        row("refused", refused ? refused : "", report);
        page_foot();
        std::free(refused);
        return;
    }
    page_head(T("${CONFIG_RESTORE_STR}"));
    row("restored", nullptr, T("${CONFIG_RESTORED_STR}"));
    // One row for each line of the report.
    for (char *line = report; *line;) {
        char *end = std::strchr(line, '\n');
        if (end) *end = '\0';
        if (*line) row("imported", nullptr, line);
        if (!end) break;
        line = end + 1;
    }
    page_foot();
}

}  // namespace

int main() {
    qDecoder();
    load_static_language(now_language(RS(13)), "index", nullptr);
    const char *user = getenv("REMOTE_USER");
    if (!(my_func_privilege_name(kUpgradeFunction, user) & kMayChange)) {
        std::printf("Status: 403 Forbidden\n");
        page(T("${CONFIG_STR}"), "refused", T("${CONFIG_NOT_PERMITTED_STR}"));
    } else {
        const char *q = qValueDefault("", "q");
        if (std::strcmp(q, "backup") == 0) backup();
        else if (std::strcmp(q, "restore") == 0) restore();
        else page(T("${CONFIG_STR}"), "refused", T("${CONFIG_UNKNOWN_STR}"));
    }
    qFreeAll();
    return 0;
}
