#include "support/temp_root.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "support/sandbox.h"

namespace testing_support {

TempRoot::TempRoot(const std::vector<std::string> &directories) {
    if (const char *previous = getenv("APPLIANCE_ROOT")) {
        previous_root_ = previous;
        had_previous_ = true;
    }
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/appliance.XXXXXX";
    root_ = mkdtemp(pattern.data()) ? pattern : "";
    setenv("APPLIANCE_ROOT", root_.c_str(), 1);
    for (const auto &directory : directories) std::filesystem::create_directories(root_ + directory);
}

TempRoot::~TempRoot() {
    platform::remove_sandbox_ipc(root_);
    if (had_previous_) setenv("APPLIANCE_ROOT", previous_root_.c_str(), 1);
    else unsetenv("APPLIANCE_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TempRoot::read(const std::string &appliance_path) const { return read_file(file(appliance_path)); }

bool TempRoot::exists(const std::string &appliance_path) const {
    return std::filesystem::exists(file(appliance_path));
}

void TempRoot::write(const std::string &appliance_path, const std::string &content) const {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file(appliance_path)).parent_path(), ignored);
    std::ofstream(file(appliance_path), std::ios::binary) << content;
}

void TempRoot::remove(const std::string &appliance_path) const {
    std::error_code ignored;
    std::filesystem::remove(file(appliance_path), ignored);
}

}  // namespace testing_support
