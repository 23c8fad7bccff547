// The access-point controller settings module.
#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "webadmin.h"

namespace {

constexpr const char *kFirmwareDir = "/var/ap/firmware";

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

}  // namespace

// Access-point firmware uploaded for the managed access points is only kept
// until it has been handed out; it is cleared before a firmware upgrade of
// the controller itself, and by age otherwise.
extern "C" int ap_setting_checkUploadFirmware(int age) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(platform::path(kFirmwareDir).c_str()));
    if (!dir) return 0;
    while (dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        if (age == 0) {
            my_rm("%s/%s", kFirmwareDir, entry->d_name);
            continue;
        }
        struct stat st;
        std::string path = platform::path(std::string(kFirmwareDir) + "/" + entry->d_name);
        if (stat(path.c_str(), &st) != 0) continue;
        auto elapsed = static_cast<unsigned long>(std::time(nullptr) - st.st_mtime);
        if (elapsed >= static_cast<unsigned long>(age)) my_rm("%s/%s", kFirmwareDir, entry->d_name);
    }
    return 0;
}
