// The whole-document import behind `appliance-config import` and the
// restore page, given arbitrary bytes: nothing crashes, and a refused
// document (refused before anything is stored, as its report says) leaves
// every file of the root as it was, commands.log and syslog.log included.
// What accepted documents store stays for the next run, so refusals meet
// roots of every shape.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "webadmin.h"

namespace {

// Every file and folder of the root, by path, with the files' contents.
std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(fuzz::root())) {
        std::string &content = files[entry.path().string()];
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// The folders every appliance has: the module files' and the import's own.
bool folders_made() {
    for (const char *folder : {"/etc/sysconfig/.firewall", "/var/tmp"})
        std::filesystem::create_directories(fuzz::root() + folder);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    [[maybe_unused]] static const bool ready = folders_made();
    const std::map<std::string, std::string> before = snapshot();
    static char report[65536];
    report[0] = '\0';
    const int result = config_import(reinterpret_cast<const char *>(data), size, report, sizeof report);
    const std::string said(report);
    // A document stored in part says which modules it stored: one line each.
    const bool refused = result != 0 && (said.empty() || said.back() != '\n');
    fuzz::require(result == 0 || !said.empty(), "a document refused without a cause");
    if (refused) fuzz::require(snapshot() == before, "a refused document changed a file of the root");
    // The logs would only grow.
    fuzz::remove_path("/commands.log");
    fuzz::remove_path("/syslog.log");
    return 0;
}
