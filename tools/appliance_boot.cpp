// What the demo appliance's boot programs do before any CGI runs: take the
// system information of the firmware in flash, load the product definitions
// segment, publish the system information block's values, and load the
// privilege table.  The system information file comes from the root file
// system on flash when it carries one (after an upgrade); otherwise the
// appliance keeps the one it had, the factory one at its first boot, and a
// flash that holds an image without one is noted in the boot event log.
//   appliance-boot DIR           boot the sandbox root DIR
//   appliance-boot --remove DIR  remove the System V objects of DIR
//   appliance-boot --sql DIR DATABASE < STATEMENTS
//                                run SQL statements on the SQLite database
//                                file DATABASE (an appliance path) of DIR
// APPLIANCE_REBOOT_INTERVAL=SECONDS sets the last reboot interval (integer
// 105 of the block, 45 by default), from which the reboot page's count-down
// is sized; the end-to-end tests shorten the count-down with it.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "tools/demo_rootfs.h"
#include "webadmin.h"

namespace {

constexpr int kUpgradeFunction = 5;
constexpr int kBootEvent = 10;
constexpr char kRootfsDevice[] = "/dev/mtdblock2";
constexpr int kDefaultRebootInterval = 45;
constexpr long kMaxRebootInterval = 86400;

// The reboot interval asked for in the environment, or -1 when it is not a
// whole number of seconds from 0 to a day.
int reboot_interval() {
    const char *text = getenv("APPLIANCE_REBOOT_INTERVAL");
    if (!text || !*text) return kDefaultRebootInterval;
    char *end = nullptr;
    long seconds = std::strtol(text, &end, 10);
    if (*end || seconds < 0 || seconds > kMaxRebootInterval) return -1;
    return static_cast<int>(seconds);
}

// The system information the appliance left the factory with.
std::string factory_info() {
    system_info_record info{};
    std::snprintf(info.vendor, sizeof info.vendor, "%s", "Demo");
    std::snprintf(info.model, sizeof info.model, "%s", "WA1000");
    std::snprintf(info.major, sizeof info.major, "%s", "2");
    std::snprintf(info.minor, sizeof info.minor, "%s", "1");
    std::snprintf(info.revision, sizeof info.revision, "%s", "5");
    std::snprintf(info.product_id, sizeof info.product_id, "%s", "101003");
    return std::string(reinterpret_cast<const char *>(&info), sizeof info);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

int boot(const char *dir) {
    const int interval = reboot_interval();
    if (interval < 0) {
        std::fprintf(stderr, "appliance-boot: APPLIANCE_REBOOT_INTERVAL is not a number of seconds from 0 to %ld\n",
                     kMaxRebootInterval);
        return 2;
    }
    setenv("APPLIANCE_ROOT", dir, 1);

    const std::string path = my_path("/etc/system.info");
    const std::string flash = read_file(my_path(kRootfsDevice));
    const std::optional<std::string> flashed = demo_rootfs::member(flash, demo_rootfs::kSystemInfo);
    const bool carried = flashed && flashed->size() == sizeof(system_info_record);
    if (carried || access(path.c_str(), F_OK) != 0) {
        if (!write_file(path, carried ? *flashed : factory_info())) {
            std::fprintf(stderr, "appliance-boot: cannot write %s\n", path.c_str());
            return 1;
        }
    }

    if (!init_configuration()) {
        std::fprintf(stderr, "appliance-boot: cannot load the definitions segment\n");
        return 1;
    }
    if (!WS(13, "eng") || !WS(16, "Demo WA1000") || !WI(105, interval)) {
        std::fprintf(stderr, "appliance-boot: cannot attach the system information block\n");
        return 1;
    }

    static privilege_image image;
    std::memset(&image, 0, sizeof image);
    image.count = 2;
    privilege_record &admin = image.records[0];
    std::snprintf(admin.user, sizeof admin.user, "%s", "admin");
    std::memset(admin.priv, 3, sizeof admin.priv);
    privilege_record &viewer = image.records[1];
    std::snprintf(viewer.user, sizeof viewer.user, "%s", "viewer");
    if (my_privilege_load(&image) != 0) {
        std::fprintf(stderr, "appliance-boot: cannot load the privilege table\n");
        return 1;
    }
    my_func_privilege_set(kUpgradeFunction, "viewer", 1);
    if (!flash.empty() && !carried)
        my_bootlog_args("boot", "", "", kBootEvent, "${INDEX_BOOT_KEPT_FIRMWARE_STR}", nullptr, nullptr);
    return 0;
}

}  // namespace

// The statements of standard input on a database of the root, through the
// library's SQLite: how the demo's sample fills the AP daemon's databases.
int run_sql(const char *dir, const char *database) {
    setenv("APPLIANCE_ROOT", dir, 1);
    const std::string statements((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    sqlite3 *db = nullptr;
    if (_my_sqlite_connect("appliance-boot", &db, database) != 0) {
        std::fprintf(stderr, "appliance-boot: cannot open the database %s\n", database);
        return 1;
    }
    const int result = _my_sqlite_exec("appliance-boot", db, nullptr, "%s", statements.c_str());
    _my_sqlite_close("appliance-boot", db);
    if (result != 0) std::fprintf(stderr, "appliance-boot: the statements for %s failed\n", database);
    return result == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--sql") == 0) return run_sql(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--remove") == 0) {
        std::printf("%d\n", my_ipc_remove_sandbox(argv[2]));
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: appliance-boot DIR | --remove DIR | --sql DIR DATABASE\n");
        return 2;
    }
    return boot(argv[1]);
}
