// The upgrade form (q=0, and q=1 for a user who may not upload) and the
// privilege alert page.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrade/upgrade.h"

namespace {

const char *T(const char *key) { return Name2Str(nullptr, key); }

// Prints a request value placed inside a script's string literal and a URL:
// anything but letters, digits, '.', '-' and '_' is percent-encoded, so a
// quote, backslash or tag in it stays data.
void print_script_url_value(const char *value) {
    static const char hex[] = "0123456789ABCDEF";
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(value); *c; ++c) {
        if (std::isalnum(*c) || *c == '.' || *c == '-' || *c == '_') std::putchar(*c);
        else std::printf("%%%c%c", hex[*c >> 4], hex[*c & 15]);
    }
}

// The hidden MULTI_LANG field only ever carries one of the known languages.
const char *form_language() {
    const char *lang = qValue("MULTI_LANG");
    if (lang && (!std::strcmp(lang, "eng") || !std::strcmp(lang, "ch") || !std::strcmp(lang, "sch"))) return lang;
    return "eng";
}

// A button of three images, the middle one behind the text.
void print_button(const char *name, const char *type, const char *onclick, const char *text, const char *color) {
    std::printf("<button type=\"%s\" onclick=\"%s\" style=\"border:0;padding:0;background:none;cursor:pointer\">"
                "<img src=\"%s%s_L.gif\" align=\"absmiddle\">"
                "<span style=\"display:inline-block;height:22px;line-height:22px;background-image:url(%s%s_M.gif);"
                "color:%s\">%s</span>"
                "<img src=\"%s%s_R.gif\" align=\"absmiddle\"></button>",
                type, onclick, icons_path, name, icons_path, name, color, text, icons_path, name);
}

}  // namespace

extern "C" {

void privilege_alert(void) {
    std::printf("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "<script>alert('%s');history.back(1);</script>\n</head></html>\n",
                T("${COMMON_WATCH_PRIVILEGE_ALARM_STR}"));
}

int webui(system_info_record *record, unsigned int privilege) {
    const bool may_upload = privilege & 2;
    const char *vendor = RETURN_DEF_STR("SYSTEM_UPGRADE_DISPLAY_VENDOR");
    const char *model = RETURN_DEF_STR("SYSTEM_UPGRADE_DISPLAY_MODEL");
    const char *cgi = qCGIname();
    const char *request_lang = qValue("MULTI_LANG");
    const char *menu = qValue("menu");
    const int major = std::atoi(record->major), minor = std::atoi(record->minor),
              revision = std::atoi(record->revision);

    std::printf("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "<script type=\"text/javascript\">\n");
    std::printf("var SubWin;\n"
                "function close_comment_window() {\n"
                "  if (SubWin && !SubWin.closed) SubWin.close();\n"
                "}\n"
                "function comment_window(obj, a) {\n"
                "  close_comment_window();\n"
                "  SubWin = window.open(\"/cgi-bin/upgrade.cgi?q=%d&flag=\" + a + \"&MULTI_LANG=",
                2);
    print_script_url_value(request_lang ? request_lang : "");
    std::printf("\", \"comment\", "
                "\"screenX=450, screenY=300, left=450, top=300, width=500, height=300, scrollbars=1\");\n"
                "}\n");
    if (may_upload) {
        std::printf("function checkall(obj) {\n"
                    "  if (obj.img.value != \"\" && confirm(\"%s\")) {\n"
                    "    obj.q.value = 1;\n"
                    "    pre_upgrade();\n"
                    "  }\n"
                    "  return false;\n"
                    "}\n",
                    T("${UPGRADE_WAIT_REBOOT_STR}"));
        std::printf("function pre_upgrade() {\n"
                    "  var req = false;\n"
                    "  if (window.XMLHttpRequest) {\n"
                    "    req = new XMLHttpRequest();\n"
                    "  } else if (window.ActiveXObject) {\n"
                    "    try { req = new ActiveXObject(\"Msxml2.XMLHTTP\"); } catch (e) {\n"
                    "      try { req = new ActiveXObject(\"Microsoft.XMLHTTP\"); } catch (e) {}\n"
                    "    }\n"
                    "  }\n"
                    "  if (!req) {\n"
                    "    alert(\"Giving up :( Cannot create an XMLHTTP instance\");\n"
                    "    return false;\n"
                    "  }\n"
                    "  req.onreadystatechange = function() {\n"
                    "    if (req.readyState == 4 && req.status == 200) document.upgrade.submit();\n"
                    "  };\n"
                    "  req.open(\"GET\", \"%s?q=%d\", true);\n"
                    "  req.send(null);\n"
                    "}\n",
                    cgi ? cgi : "", 3);
    }
    std::printf("</script>\n</head>\n"
                "<body class=\"MainBody\" onload=\"document.upgrade.img.focus();\">\n<center>\n"
                "<form name=\"upgrade\" method=\"post\" %s>\n",
                may_upload ? "enctype=\"multipart/form-data\"" : "");

    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
                "<tr class=\"TleCol\"><td align=\"left\">%s</td>\n<td align=\"right\">"
                "<a href=\"javascript:comment_window(document.upgrade);\" style=\"text-decoration:none\">"
                "<img src=\"%scommon_bt_help_L.gif\" align=\"absmiddle\" border=0>"
                "<span style=\"display:inline-block;height:22px;line-height:22px;"
                "background-image:url(%scommon_bt_help_M.gif);color:%s\">%s</span>"
                "<img src=\"%scommon_bt_help_R.gif\" align=\"absmiddle\" border=0></a></td></tr>\n",
                T("${UPGRADE_SOFTWARE_UPDATE_STR}"), icons_path, icons_path, html_fmt[158],
                T("${COMMON_HELP_STR}"), icons_path);
    std::printf("<tr><td colspan=2>\n<table border=0 width=\"100%%\" cellpadding=%s cellspacing=%s>\n",
                html_fmt[4], html_fmt[5]);
    std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s</td><td>v%d.%02d.%02d</td></tr>\n",
                T("${UPGRADE_VERSION_NUM_STR}"), major, minor, revision);
    std::printf("<tr><td class=\"TitleCol\" width=\"30%%\">%s&nbsp;:</td>"
                "<td><input type=\"file\" name=\"img\" size=\"25\"></td></tr>\n",
                T("${UPGRADE_SOFTWARE_UPDATE_STR}"));
    // Without a model definition: "_" and the record's model.
    std::printf("<tr><td></td><td class=\"DistinctText\">( ex: %s%s%s_%02d%02d%02d.img)</td></tr>\n",
                vendor ? vendor : record->vendor, model ? "" : "_", model ? model : record->model, major, minor,
                revision);
    std::printf("</table>\n</td></tr>\n</table>\n");

    std::printf("<table border=0 width=700 cellpadding=0 cellspacing=0>\n<tr><td align=\"right\">\n");
    if (may_upload) {
        print_button("common_bt_ok", "submit", "return checkall(document.upgrade);", T("${COMMON_APPLY_STR}"),
                     html_fmt[158]);
    } else {
        char *alert = my_string(nullptr, "alert('%s');", T("${COMMON_PRIVILEGE_ALARM_STR}"));
        print_button("common_bt_ok", "button", alert ? alert : "", T("${COMMON_APPLY_STR}"), html_fmt[158]);
        std::free(alert);
    }
    std::printf("<span style=\"display:inline-block;width:8px\"></span>");
    print_button("common_bt_ok", "submit", "q.disabled=true, img.disabled=true;", T("${COMMON_CANCEL_STR}"),
                 html_fmt[158]);
    std::printf("\n</td></tr>\n</table>\n");

    char *menu_text = menu && std::strncmp(menu, "click_v", 7) == 0 ? my_htmlescape(menu) : nullptr;
    std::printf("<input type=\"hidden\" name=\"q\" value=\"\">\n"
                "<input type=\"hidden\" name=\"menu\" value=\"%s\">\n",
                menu_text ? menu_text : "");
    std::free(menu_text);
    return std::printf("<input type=\"hidden\" name=\"MULTI_LANG\" value=\"%s\">\n"
                       "</form>\n</center>\n</body>\n</html>\n",
                       form_language());
}

}
