// The plain two-line message page, its style block, and the fragments that
// the upgrade appends to the reboot page.
#include <cstdio>

#include "upgrade/upgrade.h"

namespace {

const char *T(const char *key) { return Name2Str(nullptr, key); }

constexpr int kPageWidth = 700;

// Fragments are inserted into a single-quoted script string by the reboot
// page, so their line breaks are the two characters backslash and n.  row
// and cell open each of the two rows and their cells.
char *fragment(const char *row, const char *cell, const char *first, const char *second) {
    return my_string(nullptr,
                     "<table border=0 width=%d cellpadding=%s cellspacing=%s>\\n%s%s%s</td></tr>\\n%s%s%s</td></tr>\\n"
                     "</table>",
                     kPageWidth, html_fmt[4], html_fmt[5], row, cell, first, row, cell, second);
}

const char kRow[] = "<tr class=\"TextAttr\" align=\"center\">";

}  // namespace

extern "C" {

void upgrade_css(void) {
    std::printf("<style type=\"text/css\">\n"
                "BODY {\n"
                "  margin: 0px;\n"
                "  font-family: Verdana, Arial, Helvetica;\n"
                "  background-color: %s;\n"
                "  background-position: center top;\n"
                "  scrollbar-face-color: %s;\n"
                "  scrollbar-highlight-color: %s;\n"
                "  scrollbar-shadow-color: %s;\n"
                "  scrollbar-3dlight-color: %s;\n"
                "  scrollbar-arrow-color: %s;\n"
                "  scrollbar-track-color: %s;\n"
                "  scrollbar-darkshadow-color: %s;\n"
                "}\n"
                ".TextAttr {\n"
                "  font-family: Arial;\n"
                "  font-weight: %s;\n"
                "  font-size: %spx;\n"
                "  color: %s;\n"
                "  height: 20px;\n"
                "  text-align: center;\n"
                "}\n"
                "</style>\n",
                html_fmt[0], html_fmt[84], html_fmt[85], html_fmt[88], html_fmt[86], html_fmt[89], html_fmt[90],
                html_fmt[87], html_fmt[23], html_fmt[22], html_fmt[21]);
}

int message(const char *first, const char *second, int flag) {
    char style[64] = "";
    if (flag) std::snprintf(style, sizeof style, "style=\"color: %s\"", html_fmt[96]);
    std::printf("<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n");
    upgrade_css();
    return std::printf("</head>\n<body>\n<center>\n<br>\n<table border=0 width=%d cellpadding=%s cellspacing=%s>\n"
                       "<tr class=\"TextAttr\"><td %s>%s</td></tr>\n<tr class=\"TextAttr\"><td %s>%s</td></tr>\n"
                       "</table>\n</center>\n</body>\n</html>\n",
                       kPageWidth, html_fmt[4], html_fmt[5], style, first, style, second);
}

char *ui_para_valid(void) {
    return fragment(kRow, "<td>", T("${UPGRADE_VALID_UPDATE_STR}"), T("${UPGRADE_WAIT_TIME_STR}"));
}

char *ui_para_ver_down_warn(void) {
    char cell[64];
    std::snprintf(cell, sizeof cell, "<td style=\"color: %s\">", html_fmt[96]);
    return fragment(kRow, cell, T("${UPGRADE_ERROR_VERSION}"), T("${UPGRADE_VERSION_SMALL_WARNING}"));
}

// Its quotes are written escaped for the script string.
char *ui_invalid(void) {
    return fragment("<tr class=\\\"TextAttr\\\" align=\\\"center\\\">", "<td>", T("${UPGRADE_INVALID_UPDATE}"),
                    T("${UPGRADE_ENTER_CORRECT_STR}"));
}

}
