// The lock-down before the upload (q=3): only the administrator's browser
// and the management tunnel reach the appliance while the image is written.
#include <cstdio>
#include <cstdlib>

#include "upgrade/upgrade.h"

extern "C" int query_prepare(system_info_record *) {
    // The address comes from the web server; quoting keeps anything odd in it
    // a single argument of iptables rather than shell syntax.
    const char *addr = getenv("REMOTE_ADDR");
    char *source = addr && *addr ? my_shellword(addr) : nullptr;
    // Insertions go to the head of the chain, so it ends up reading: accept
    // tun1, accept the browser, drop the rest.
    my_system("/sbin/iptables-static -t mangle -I PREROUTING -s %s -j ACCEPT", source ? source : "");
    std::free(source);
    my_system("/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT");
    my_system("/sbin/iptables-static -t mangle -I PREROUTING 3 -j DROP");
    my_system("/usr/bin/killall -STOP vavazUzo > /dev/null 2>&1");
    my_system("/usr/sbin/vavazUzo killall > /dev/null 2>&1");
    ap_setting_checkUploadFirmware(0);
    my_sleep(1);
    my_system("/bin/umount /mnt > /dev/null 2>&1");
    std::fputs("1", stdout);
    return 0;
}
