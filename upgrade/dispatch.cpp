// The dispatch table of the upgrade CGI and the privilege-checked handlers.
#include "upgrade/upgrade.h"

extern "C" {

unsigned int func_privilege = 0;

const query_row query[4] = {
    {0, query_webui},
    {1, query_upgrade},
    {2, query_comment},
    {3, query_prepare},
};

int query_webui(system_info_record *record) {
    if (!(func_privilege & 1)) {
        privilege_alert();
        return 0;
    }
    return webui(record, func_privilege);
}

}
