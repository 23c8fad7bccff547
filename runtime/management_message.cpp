// Log texts for the central management server: a text is forwarded when the
// server is set, the product has central management, and one of the log
// kinds selected by integer 68 of the system information block names it.
#include <string.h>

#include <string>
#include <string_view>

#include "webadmin.h"

namespace {

constexpr int kServerAddress = 37;
constexpr int kForwardedKinds = 68;
constexpr std::size_t kServerAddressSize = 255;

struct ForwardRule {
    int bit;
    const char *words[5];  // key words, up to the first null
};

constexpr ForwardRule kForwardRules[] = {
    {0x1, {"MAIL_LOG", "mail_account"}},
    {0x2, {"MAIL_ARCHIVE", "mail_account"}},
    {0x4, {"WEBFILTER", "DOWNLOAD", "UPLOAD", "MIMESCRIPT", "URLF"}},
    {0x8, {"SNORT", "idp_log"}},
    {0x10, {"WAF", "waf"}},
    {0x20, {"traffic"}},
    {0x40, {"eventlog"}},
    {0x80, {"CONNTRACK_LOG"}},
    {0x100, {"virus"}},
    {0x200, {"application_system"}},
    {0x400, {"session"}},
    {0x800, {"quota"}},
};

bool forwarded(std::string_view text, int kinds) {
    for (const ForwardRule &rule : kForwardRules) {
        if (!(kinds & rule.bit)) continue;
        for (const char *word : rule.words)
            if (word && text.find(word) != std::string_view::npos) return true;
    }
    return false;
}

}  // namespace

extern "C" void my_cms_send_message(const char *text) {
    const char *server = RS(kServerAddress);
    if (!server) return;
    // A copy: the block is shared and another program may rewrite it.
    char address[kServerAddressSize + 1];
    memcpy(address, server, kServerAddressSize);
    address[kServerAddressSize] = '\0';
    if (!*address || strcmp(address, "^o^") == 0) return;

    const int *kinds = RI(kForwardedKinds);
    if (!text || !kinds || !forwarded(text, *kinds)) return;
    if (!IF_DEFINE("HAVE_CMS")) return;

    const char *mac = RETURN_DEF_STR("PORT1_ORIG_MAC");
    my_sqlquery_tcp(address, "c %d %s %s", 0, mac ? mac : "", text);
}
