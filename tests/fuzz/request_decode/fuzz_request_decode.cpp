// The whole request decode: cookies, query string and body, in URL-encoded,
// multipart and file-manager multipart modes, with and without disk
// uploads, the body arriving in reads of any size.
//
// Input: ten lines, then the body.
//   REQUEST_METHOD, SCRIPT_NAME, QUERY_STRING, REQUEST_URI, HTTP_COOKIE,
//   CONTENT_TYPE, CONTENT_LENGTH, REMOTE_ADDR   ("-" unsets; a CONTENT_LENGTH
//                                                 of "=" is the body's length)
//   disk uploads: "-" off, else the maximum size (0: no limit)
//   sizes of the reads of the body, blank-separated
#include <stdlib.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "request/form_state.h"
#include "webadmin.h"

namespace {

constexpr const char *kVariables[] = {"REQUEST_METHOD", "SCRIPT_NAME", "QUERY_STRING", "REQUEST_URI",
                                      "HTTP_COOKIE",    "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_ADDR"};
constexpr const char *kUploadDir = "/upload";

std::vector<std::size_t> numbers(std::string_view line) {
    std::vector<std::size_t> out;
    while (!line.empty()) {
        std::size_t n = 0;
        auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), n);
        if (error == std::errc()) out.push_back(n % 65537);
        line.remove_prefix(end == line.data() ? 1 : static_cast<std::size_t>(end - line.data()));
    }
    return out;
}

// A plausible length of megabytes has the decoder reserve that much for a
// value: free of cost on a real system, but the sanitizer marks every byte of
// it, which would take most of the run.  Such lengths are folded below 128 KiB;
// others (larger than believable, negative, not a number) stay as written.
std::string folded_length(std::string_view text) {
    constexpr long long kKiB = 1 << 10, kBelievable = 256LL << 20;
    std::string written(text);
    const long long n = std::strtoll(written.c_str(), nullptr, 10);  // as the decoder reads it
    if (n < 128 * kKiB || n > kBelievable) return written;
    return std::to_string(64 * kKiB + n % (64 * kKiB));
}

// Reads the list back the way callers do.  Every body part held in memory
// is its bytes followed by one NUL.
void use_list() {
    for (q_entry *e = qValueList(); e; e = e->next) {
        fuzz::require(e->name && e->value, "entry without name or value");
        fuzz::require(qValue("%s", e->name) != nullptr, "entry not found by its own name");
        fuzz::require(qValueType("%s", e->name) != '-', "entry without a group");
    }
    for (const auto &held : request::form.held) {
        fuzz::require(held.entry->value == held.value, "held value is not the entry's");
        fuzz::require(held.value[held.length] == '\0', "held value not closed by a NUL");
    }
    // qValueFirst and qValueNext visit every entry of a name once.
    int named = 0, visited = 0;
    for (q_entry *e = qValueList(); e; e = e->next) named += std::strcmp(e->name, "img") == 0;
    for (char *v = qValueFirst("img"); v; v = qValueNext()) ++visited;
    fuzz::require(named == visited, "qValueFirst/qValueNext missed an entry");
}

// The directories of disk uploads and of the file manager's spill file.
void make_directories() {
    static bool made = false;
    if (made) return;
    fuzz::write_file(std::string(kUploadDir) + "/.keep", "");
    fuzz::write_file("/database/.keep", "");
    made = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::string_view values[std::size(kVariables)];
    for (std::string_view &value : values) value = fuzz::take_line(input);
    std::string_view disk = fuzz::take_line(input);
    std::vector<std::size_t> reads = numbers(fuzz::take_line(input));
    std::string_view body = input;

    // Exactly the request's environment, as the web server gives it, and the
    // sandbox's own variables.
    std::vector<std::string> texts = {"APPLIANCE_ROOT=" + fuzz::root(), "APPLIANCE_SLEEP=0"};
    for (std::size_t i = 0; i < std::size(kVariables); ++i) {
        if (values[i] == "-") continue;
        const bool length = std::strcmp(kVariables[i], "CONTENT_LENGTH") == 0;
        texts.push_back(std::string(kVariables[i]) + "=" +
                        (length && values[i] == "=" ? std::to_string(body.size())
                         : length                   ? folded_length(values[i])
                                                    : std::string(values[i])));
    }
    std::vector<char *> variables;
    for (std::string &text : texts) variables.push_back(text.data());
    variables.push_back(nullptr);
    char **process_environment = environ;
    environ = variables.data();

    make_directories();
    request::upload = request::UploadSettings{};
    if (disk != "-") {
        std::vector<std::size_t> limit = numbers(disk);
        qUploadToDisk(kUploadDir, limit.empty() ? 0 : static_cast<int>(limit[0]));
    }

    fuzz::feed_stdin(body, reads);
    try {
        qDecoder();
        use_list();
    } catch (const fuzz::RequestEnded &) {
        // The request ended as qError ends it; the list goes the same way.
    }
    fuzz::stop_stdin();
    qFreeAll();
    environ = process_environment;
    // Uploads written to disk, a spill file kept, and commands recorded.
    for (const auto &file : std::filesystem::directory_iterator(fuzz::root() + kUploadDir))
        if (file.path().filename() != ".keep") std::filesystem::remove(file.path());
    fuzz::remove_path("/database/.qUploadFile");
    fuzz::remove_path("/commands.log");
    return 0;
}
