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
#include <string>
#include <string_view>

#include "runtime/html_escape.h"
#include "webadmin.h"

namespace {

constexpr int kUpgradeFunction = 5;  // the page beside the firmware upgrade
constexpr int kMayChange = 2;

const char *T(const char *key) { return Name2Str(nullptr, key); }

void page(const char *title, const std::string &body) {
    qContentType("text/html");
    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n<title>%s</title>\n</head>\n"
                "<body class=\"MainBody\">\n<center>\n<table border=0 width=700 cellpadding=%s cellspacing=%s>\n"
                "<tr class=\"TleCol\"><td>%s</td></tr>\n%s"
                "<tr><td><a href=\"/cgi-bin/index.cgi\">%s</a></td></tr>\n</table>\n</center>\n</body>\n</html>\n",
                title, html_fmt[4], html_fmt[5], title, body.c_str(), T("${CONFIG_BACK_STR}"));
}

std::string row(const std::string &id, const std::string &text) {
    return "<tr><td id=\"" + id + "\">" + runtime::html_escape(text) + "</td></tr>\n";
}

void backup() {
    system_info_record record{};
    my_systemInfo(reinterpret_cast<char *>(&record));
    // The model names the file; anything but a plain file name character is left out.
    std::string model;
    for (std::size_t i = 0; i < sizeof record.model && record.model[i]; ++i)
        if (std::isalnum(static_cast<unsigned char>(record.model[i])) || std::strchr("._-", record.model[i]))
            model += record.model[i];
    std::printf("Content-Disposition: attachment; filename=\"%s_%s.xml\"\n", model.empty() ? "appliance" : model.c_str(),
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
        page(T("${CONFIG_RESTORE_STR}"), row("refused", T("${CONFIG_NO_FILE_STR}")));
        return;
    }
    if (config_import(document, static_cast<size_t>(length), report, sizeof report) != 0) {
        page(T("${CONFIG_RESTORE_STR}"), row("refused", std::string(T("${CONFIG_REFUSED_STR}")) + " " + report));
        return;
    }
    std::string rows;
    for (std::string_view rest(report); !rest.empty();) {
        const std::size_t end = rest.find('\n');
        if (end != 0) rows += row("imported", std::string(rest.substr(0, end)));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    page(T("${CONFIG_RESTORE_STR}"), row("restored", T("${CONFIG_RESTORED_STR}")) + rows);
}

}  // namespace

int main() {
    qDecoder();
    load_static_language(now_language(RS(13)), "index", nullptr);
    const char *user = getenv("REMOTE_USER");
    if (!(my_func_privilege_name(kUpgradeFunction, user) & kMayChange)) {
        std::printf("Status: 403 Forbidden\n");
        page(T("${CONFIG_STR}"), row("refused", T("${CONFIG_NOT_PERMITTED_STR}")));
    } else {
        const char *q = qValueDefault("", "q");
        if (std::strcmp(q, "backup") == 0) backup();
        else if (std::strcmp(q, "restore") == 0) restore();
        else page(T("${CONFIG_STR}"), row("refused", T("${CONFIG_UNKNOWN_STR}")));
    }
    qFreeAll();
    return 0;
}
