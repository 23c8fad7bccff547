// Entry of the firmware-upgrade CGI: one process per HTTP request.
#include <stdlib.h>

#include "upgrade/upgrade.h"

namespace {

constexpr int kUpgradeFunction = 5;

}  // namespace

int main() {
    // Without disk storage the database daemons only compete for memory with
    // the image about to be received: stop them before the body is read.
    if (!IF_DEFINE("HAVE_HARDDISK") && !IF_DEFINE("HAVE_BOOT_FAKE_HARDDISK") && !IF_DEFINE("HAVE_EXTERNAL_USB")) {
        my_system("/bin/kill -9 mysqld > /dev/null 2>&1");
        my_system("/bin/kill -9 VazaRorire > /dev/null 2>&1");
    }
    if (qDecoder() < 1) return 0;

    my_setcookie();
    qContentType("text/html");

    system_info_record record{};
    if (my_systemInfo(reinterpret_cast<char *>(&record)) >= 0) {
        load_my_language(now_language(RS(13)), "upgrade", nullptr);
        // Unsigned bound test: negative requests fall out with the large ones.
        auto q = static_cast<unsigned int>(qiValue("q"));
        if (q < sizeof query / sizeof query[0]) {
            func_privilege = static_cast<unsigned int>(my_func_privilege_name(kUpgradeFunction, getenv("REMOTE_USER")));
            query[q].handler(&record);
        }
    }
    qFreeAll();
    return 0;
}
