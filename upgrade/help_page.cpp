// The help window (q=2).
#include <cstdio>

#include "upgrade/upgrade.h"

namespace {

const char *T(const char *key) { return Name2Str(nullptr, key); }

}  // namespace

extern "C" {

int query_comment(system_info_record *) {
    upgrade_comment_ui(qValueDefault("eng", "MULTI_LANG"), qiValue("flag"));
    return 0;
}

// The texts come from the table main loaded for the request's language, so
// neither argument changes the page.
void upgrade_comment_ui(const char *, int) {
    static const char *const steps[] = {"${UPGRADE_COMMENT_1_STR}", "${UPGRADE_COMMENT_2_STR}",
                                        "${UPGRADE_COMMENT_3_STR}", "${UPGRADE_COMMENT_4_STR}"};
    std::printf("<html>\n<head>\n<title>Upgrade Help Comment</title>\n"
                "<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                "</head>\n<body class=\"MainBody\">\n<center>\n<br>\n"
                "<table border=0 width=450 cellpadding=%s cellspacing=%s>\n",
                html_fmt[4], html_fmt[5]);
    std::printf("<tr class=\"TleCol\"><td colspan=2>%s%s</td></tr>\n", T("${UPGRADE_SOFTWARE_UPDATE_STR}"),
                T("${COMMON_COMMENT2_STR}"));
    std::printf("<tr><td colspan=2 style=\"color: #ff0000\">%s</td></tr>\n", T("${UPGRADE_COMMENT_0_STR}"));
    std::printf("<tr><td colspan=2>&nbsp;\xE3\x80\x80 </td></tr>\n");
    for (int i = 0; i < 4; ++i)
        std::printf("<tr class=\"TextAttr\"><td align=\"right\" width=\"3%%\">%d.</td><td align=\"left\">%s</td></tr>\n",
                    i + 1, T(steps[i]));
    std::printf("</table>\n<br>\n</center>\n</body>\n</html>\n");
}

}
