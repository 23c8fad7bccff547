#include "fuzz_support.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace fuzz {
namespace {

// A directory for the root: TMPDIR, else memory (targets write files on
// every run, which a disk makes the slowest part), else /tmp.
std::string temporary_directory() {
    const char *tmp = getenv("TMPDIR");
    if (tmp && *tmp) return tmp;
    if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return "/tmp";
}

// The sandbox root of the run; gone, with its shared segments and queues,
// when the fuzzer exits normally.
class Root {
public:
    Root() {
        std::string pattern = temporary_directory() + "/fuzz-appliance.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = buf.data();
        setenv("APPLIANCE_ROOT", path_.c_str(), 1);
        setenv("APPLIANCE_SLEEP", "0", 1);
    }
    ~Root() {
        platform::remove_sandbox_ipc(path_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Root(const Root &) = delete;
    Root &operator=(const Root &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

struct StdinFeed {
    bool active = false;
    std::string_view rest;
    std::vector<std::size_t> sizes;
    std::size_t turn = 0;
};

StdinFeed &stdin_feed() {
    static StdinFeed feed;
    return feed;
}

}  // namespace

const std::string &root() {
    static const Root instance;
    return instance.path();
}

void write_file(std::string_view appliance_path, std::string_view content) {
    std::filesystem::path file = root() + std::string(appliance_path);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(content.data(), static_cast<std::streamsize>(content.size()));
}

void remove_path(std::string_view appliance_path) {
    std::error_code ignored;
    std::filesystem::remove_all(root() + std::string(appliance_path), ignored);
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::string line = "\n" + std::string(separator) + "\n";
    std::vector<std::string_view> pieces;
    for (;;) {
        std::size_t at = text.find(line);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + line.size());
    }
}

std::string_view take_line(std::string_view &text) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

void feed_stdin(std::string_view body, std::vector<std::size_t> sizes) {
    StdinFeed &feed = stdin_feed();
    if (std::none_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n > 0; })) sizes.clear();
    feed.active = true;
    feed.rest = body;
    feed.sizes = std::move(sizes);
    feed.turn = 0;
}

void stop_stdin() { stdin_feed() = StdinFeed{}; }

void require(bool property, const char *what) {
    if (property) return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz

extern "C" {

int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::root();
    // Error pages and include failures are printed; the fuzzer reports on
    // standard error.
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 1);
        close(null);
    }
    return 0;
}

ssize_t __real_read(int fd, void *buf, size_t n);

ssize_t __wrap_read(int fd, void *buf, size_t n) {
    fuzz::StdinFeed &feed = fuzz::stdin_feed();
    if (fd != 0 || !feed.active) return __real_read(fd, buf, n);
    std::size_t piece = n;
    if (!feed.sizes.empty()) {
        std::size_t size = feed.sizes[feed.turn++ % feed.sizes.size()];
        if (size == 0) {
            errno = EINTR;
            return -1;
        }
        piece = std::min(piece, size);
    }
    piece = std::min(piece, feed.rest.size());
    if (piece) std::memcpy(buf, feed.rest.data(), piece);
    feed.rest.remove_prefix(piece);
    return static_cast<ssize_t>(piece);
}

// The message is formatted as qError formats it, so bad arguments of a
// caller are still found.
[[noreturn]] void __wrap_qError(const char *format, ...) __attribute__((format(printf, 1, 2)));
void __wrap_qError(const char *format, ...) {
    char message[1024] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    throw fuzz::RequestEnded{message};
}

}  // extern "C"
