// The definitions-file loader: the factory and working files chosen by
// their headers and parsed into the shared definitions segment, then a
// definition saved back into the working file and reloaded.
// Input: the working file, optionally followed by a line "%%" and the
// factory file (empty: none), a line "%%" and a value to save.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

namespace {

// The names the input's lines begin with, as a caller would ask for them.
std::vector<std::string> names_in(std::string_view text) {
    std::vector<std::string> names;
    while (!text.empty() && names.size() < 8) {
        std::string_view line = fuzz::take_line(text);
        std::string_view name = line.substr(0, line.find_first_of(" \t=\""));
        if (!name.empty()) names.emplace_back(name);
    }
    return names;
}

void check_loaded(std::string_view text) {
    for (const std::string &name : names_in(text)) {
        const char *value = RETURN_DEF_STR(name.c_str());
        if (value) fuzz::require(std::strlen(value) < 64, "value longer than its field");
        IF_DEFINE(name.c_str());
        RETURN_DEF_INT(name.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string_view> pieces =
        fuzz::split(std::string_view(reinterpret_cast<const char *>(data), size), "%%");
    fuzz::write_file("/etc/sysconfig/.firewall/.config", pieces[0]);
    if (pieces.size() > 1 && !pieces[1].empty()) fuzz::write_file("/etc/.config", pieces[1]);
    else fuzz::remove_path("/etc/.config");

    fuzz::require(init_configuration() != 0, "segment not loaded");
    check_loaded(pieces[0]);
    if (pieces.size() > 2) {
        std::string value(pieces[2].substr(0, pieces[2].find('\0')));
        // Read back unless the input names it too, a factory file may win,
        // more definitions than the segment holds push it out, or the line
        // is longer than the loader reads.
        bool alone = pieces[1].empty() && value.size() < 1000 && pieces[0].find("FUZZ_SAVED") == std::string_view::npos &&
                     std::count(pieces[0].begin(), pieces[0].end(), '\n') < 200;
        if (save_configuration("FUZZ_SAVED", value.c_str()) == 0 && alone) {
            const char *saved = RETURN_DEF_STR("FUZZ_SAVED");
            fuzz::require(saved && value.compare(0, 63, saved) == 0, "saved value not read back");
        }
        check_loaded(pieces[0]);
    }
    fuzz::remove_path("/commands.log");
    return 0;
}
