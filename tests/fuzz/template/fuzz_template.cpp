// qSedStr: "${NAME}" arguments and include directives, included files
// including others (and themselves).
// Input: argument lines "NAME=VALUE", a line "%%", the text, then up to
// four files "/inc/0" to "/inc/3", each after a line "%%".
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

namespace {

constexpr std::size_t kFiles = 4;

FILE *null_output() {
    static FILE *out = std::fopen("/dev/null", "w");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string_view> pieces =
        fuzz::split(std::string_view(reinterpret_cast<const char *>(data), size), "%%");
    while (pieces.size() < 2) pieces.emplace_back();

    q_entry *args = nullptr;
    for (std::string_view lines = pieces[0]; !lines.empty();) {
        std::string_view line = fuzz::take_line(lines);
        std::size_t equals = line.find('=');
        std::string name(line.substr(0, equals));
        std::string value(equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1));
        if (name.empty() || name.find('\0') != std::string::npos) continue;
        args = qSedArgAdd(args, name.c_str(), "%s", value.c_str());
    }
    for (std::size_t i = 0; i < kFiles; ++i) {
        std::string file = "/inc/" + std::to_string(i);
        if (i + 2 < pieces.size()) fuzz::write_file(file, pieces[i + 2]);
        else fuzz::remove_path(file);
    }

    std::string text(pieces[1]);
    fuzz::require(qSedStr(args, text.c_str(), null_output()) == 1, "text not processed");
    qSedArgFree(args);
    return 0;
}
