// The lock-down before the upload (q=3): only the administrator's browser
// and the management tunnel reach the appliance while the image is written.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "runtime/shell_quote.h"
#include "upgrade/upgrade.h"

extern "C" int query_prepare(system_info_record *) {
    // The address comes from the web server; quoting keeps anything odd in it
    // a single argument of iptables rather than shell syntax.
    const char *addr = getenv("REMOTE_ADDR");
    std::string source = addr && *addr ? runtime::shell_word(addr) : "";
    // Insertions go to the head of the chain, so it ends up reading: accept
    // tun1, accept the browser, drop the rest.
    my_system("/sbin/iptables-static -t mangle -I PREROUTING -s %s -j ACCEPT", source.c_str());
    my_system("/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT");
    my_system("/sbin/iptables-static -t mangle -I PREROUTING 3 -j DROP");
    my_system("/usr/bin/killall -STOP vavazUzo > /dev/null 2>&1");
    my_system("/usr/sbin/vavazUzo killall > /dev/null 2>&1");
    ap_setting_checkUploadFirmware(0);
    platform::sleep_seconds(1);
    my_system("/bin/umount /mnt > /dev/null 2>&1");
    std::fputs("1", stdout);
    return 0;
}
