// multipart/form-data bodies: form fields and uploaded files, held in
// memory, written to files (qUploadToDisk) or, for the file manager,
// spilled to "/database/.qUploadFile" when they grow large.
//
// Uploads include firmware images of tens of megabytes received on a small
// appliance, so the body is read in blocks, straight into the value's own
// buffer, and the delimiter is searched over each block as it arrives.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "request/form_state.h"
#include "request/multipart.h"
#include "webadmin.h"

namespace request {
namespace {

constexpr size_t kBlock = 65536;                     // read-ahead and disk window
constexpr size_t kLargestRead = size_t{1} << 20;     // one read straight into a value
constexpr size_t kFirstCapacity = 16384;             // value buffer of unknown size
constexpr long long kPlausibleLength = 256LL << 20;  // CONTENT_LENGTH trusted up to this
// File manager: a buffer never grows to 10485760 bytes; doubling from 16384
// the last size below that is 8 MiB, and a full buffer of that size goes to
// the spill file instead.
constexpr size_t kSpillThreshold = 10485760;
constexpr const char *kSpillFile = "/database/.qUploadFile";
constexpr const char *kUpgradeCommand = "/sbin/upgrade.sh > /dev/null 2>&1";

// A value of megabytes fills fresh pages as fast as the input arrives;
// faulting them in 4 KiB at a time costs more than reading the bytes, so
// large buffers ask for huge pages (where the kernel has none, nothing
// changes; only pages touched count, as before).  The advice covers whole
// pages around the block so that its mapping stays one piece and can still
// be grown in place.
void prefer_huge_pages(char *buf, size_t capacity) {
#ifdef MADV_HUGEPAGE
    constexpr size_t kWorthIt = size_t{4} << 20;
    if (capacity < kWorthIt) return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t start = reinterpret_cast<uintptr_t>(buf) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(buf) + capacity + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    (void)buf;  // a C library without the advice: plain pages
    (void)capacity;
#endif
}

// Standard input in blocks.  Bytes read ahead (with header lines, or past
// the end of a value) wait here for whoever reads next.
class BodyReader {
public:
    BodyReader() : buf_(kBlock) {}

    const char *data() const { return buf_.data() + pos_; }
    size_t pending() const { return end_ - pos_; }
    void drop(size_t n) { pos_ += n; }
    // Bytes of the body handed out so far.
    long long consumed() const { return total_ - static_cast<long long>(pending()); }

    // Up to n (> 0) bytes into dst: read-ahead first, else one read.  0 at
    // the end of input.
    size_t fetch(char *dst, size_t n) {
        if (pending() == 0) return read_more(dst, n);
        n = std::min(n, pending());
        std::memcpy(dst, data(), n);
        drop(n);
        return n;
    }

    // Returns bytes taken past the end of a value, in front of the read-ahead.
    void give_back(const char *bytes, size_t n) {
        if (n <= pos_) {
            pos_ -= n;
            std::memmove(buf_.data() + pos_, bytes, n);
            return;
        }
        size_t rest = pending();
        std::vector<char> merged(std::max(kBlock, n + rest));
        std::memcpy(merged.data(), bytes, n);
        std::memcpy(merged.data() + n, data(), rest);
        buf_.swap(merged);
        pos_ = 0;
        end_ = n + rest;
    }

    // One line as _fgets reads it: at most size-1 bytes, up to and including
    // a line feed; null when nothing is left.
    char *line(char *out, size_t size) {
        size_t limit = size - 1, n = 0;
        for (;;) {
            size_t avail = std::min(pending(), limit - n);
            const char *lf = static_cast<const char *>(std::memchr(data(), '\n', avail));
            size_t take = lf ? static_cast<size_t>(lf - data()) + 1 : avail;
            std::memcpy(out + n, data(), take);
            drop(take);
            n += take;
            // Not done means the read-ahead is used up: read the next block.
            if (lf || n == limit) break;
            pos_ = 0;
            end_ = read_more(buf_.data(), buf_.size());
            if (end_ == 0) break;
        }
        out[n] = '\0';
        return n ? out : nullptr;
    }

private:
    size_t read_more(char *dst, size_t n) {
        size_t got = eof_ ? 0 : read_stdin(dst, n);
        eof_ = got == 0;
        total_ += static_cast<long long>(got);
        return got;
    }

    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    long long total_ = 0;
    bool eof_ = false;
};

// Where a value ends: the first place where CR LF, the delimiter and CR LF
// or "--" stand, or, at the very start of the value, the delimiter followed
// by CR LF or "--".  Positions are offsets into the caller's window, which
// grows at its end and may drop bytes at its start (shift).
class DelimiterScan {
public:
    struct Match {
        size_t value_end;  // the value is window[0, value_end)
        size_t after;      // first byte after the delimiter's line end
        bool last;         // the closing delimiter
    };

    explicit DelimiterScan(std::string_view delimiter) : marker_("\r\n") { marker_ += delimiter; }

    void reset() {
        scan_ = 0;
        at_start_ = true;
    }

    std::optional<Match> next(const char *window, size_t held) {
        const size_t length = marker_.size();  // CR LF and the delimiter
        if (at_start_) {
            if (held < length) return std::nullopt;  // also too short for the other form
            at_start_ = false;
            if (std::memcmp(window, marker_.data() + 2, length - 2) == 0) {
                if (auto end = line_end(window + length - 2)) return Match{0, length, *end};
            }
        }
        while (held >= scan_ + length) {
            const void *hit = memmem(window + scan_, held - scan_, marker_.data(), length);
            if (!hit) {
                scan_ = held - length + 1;
                break;
            }
            size_t start = static_cast<size_t>(static_cast<const char *>(hit) - window);
            if (start + length + 2 > held) {
                scan_ = start;  // decided when the next two bytes arrive
                break;
            }
            if (auto end = line_end(window + start + length)) return Match{start, start + length + 2, *end};
            scan_ = start + 1;
        }
        return std::nullopt;
    }

    // Bytes of the window before this offset belong to the value for sure.
    size_t settled() const { return at_start_ ? 0 : scan_; }
    void shift(size_t n) { scan_ -= n; }

private:
    // CR LF: another part follows; "--": the last part.
    static std::optional<bool> line_end(const char *two) {
        if (two[0] == '\r' && two[1] == '\n') return false;
        if (two[0] == '-' && two[1] == '-') return true;
        return std::nullopt;
    }

    std::string marker_;
    size_t scan_ = 0;
    bool at_start_ = true;
};

struct Part {
    std::string name;
    std::string filename;
    std::string content_type;
};

struct Value {
    HeapText data;        // NUL-terminated
    long long length = 0; // bytes received ("%s.length")
    long long kept = 0;   // bytes kept ("%s.real_length")
    bool last = false;    // ended with the closing delimiter
    bool held = false;    // the bytes themselves are the value (not a file path)
};

std::string trimmed(const char *text) {
    std::string copy(text);
    qRemoveSpace(copy.data());
    copy.resize(std::strlen(copy.c_str()));
    return copy;
}

// The name parameter of a Content-Disposition line: the text 38 characters
// in, up to the next double quote or the end of the line.  Shorter lines
// give an empty name.
std::string disposition_name(const char *line) {
    std::string_view text(line);
    if (text.size() < 38) return {};
    text.remove_prefix(38);
    size_t quote = text.find('"');
    if (quote != std::string_view::npos) return std::string(text.substr(0, quote));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

// The file name a browser sent, reduced to what follows its last backslash
// (the base name of a Windows path), trimmed.
std::string file_base_name(const char *quoted) {
    std::string_view text(quoted);
    text = text.substr(0, text.find('"'));
    size_t backslash = text.rfind('\\');
    if (backslash != std::string_view::npos) text.remove_prefix(backslash + 1);
    return trimmed(std::string(text).c_str());
}

class MultipartParser {
public:
    explicit MultipartParser(bool file_manager)
        : file_manager_(file_manager),
          prefix_(file_manager ? "_parse_multipart_upload(): " : "_parse_multipart_data(): ") {
        const char *length = std::getenv("CONTENT_LENGTH");
        content_length_ = length ? std::strtoll(length, nullptr, 10) : -1;
    }

    int run() {
        if (file_manager_) open_spill();
        EntryAppender out(form.head);
        form.cookie_count = decode_query_source("COOKIE", ';', out);
        form.get_count = decode_query_source("GET", '&', out);
        DelimiterScan scan(delimiter());
        expect_first_delimiter();

        int total = form.cookie_count + form.get_count;
        int post = 0;
        for (bool last = false; !last;) {
            Part part = read_headers();
            Value value = read_value(part, scan);
            last = value.last;
            const bool held = value.held && !spill_used_;
            q_entry *entry = out.adopt(EntryAppender::copy(part.name), value.data.release());
            if (!entry) stop("Memory allocation fail.");
            if (held) form.held.push_back({entry, entry->value, static_cast<size_t>(value.length)});
            ++total;
            ++post;
            if (!part.filename.empty()) post += add_file_entries(out, part, value);
        }
        if (spill_fd_ >= 0) close_spill(false);  // never written
        form.post_count = post;
        return total;
    }

    // Ends the request; a disk file or spill file of this request is removed first.
    [[noreturn]] void stop(const std::string &message) {
        if (disk_) {
            std::fclose(disk_);
            std::remove(platform::path(disk_path_).c_str());
        }
        if (spill_created_) {
            if (spill_fd_ >= 0) close(spill_fd_);
            unlink(platform::path(kSpillFile).c_str());
        }
        qError("%s%s", prefix_, message.c_str());
    }

private:
    // "--" and the boundary of CONTENT_TYPE, trimmed.
    std::string delimiter() {
        const char *boundary = std::strstr(std::getenv("CONTENT_TYPE"), "boundary=");
        if (!boundary || !boundary[9]) stop("Your browser sent a non-HTTP compliant message.");
        boundary += 9;
        if (std::strlen(boundary) + 6 > 255) stop("The boundary string is too long. Stopping process.");
        delimiter_ = trimmed((std::string("--") + boundary).c_str());
        return delimiter_;
    }

    void expect_first_delimiter() {
        char line[1024];
        if (!in_.line(line, sizeof line)) stop("Your browser sent a non-HTTP compliant message.");
        if (std::strcmp(line, "\r\n") == 0 && !in_.line(line, sizeof line)) line[0] = '\0';
        if (std::strncmp(line, delimiter_.c_str(), delimiter_.size()) != 0) stop("String format invalid.");
    }

    Part read_headers() {
        Part part;
        char line[1024];
        while (in_.line(line, sizeof line) && std::strcmp(line, "\r\n") != 0) {
            if (qStrincmp(line, "Content-Disposition: ", 21) == 0) {
                part.name = disposition_name(line);
                if (!file_manager_ && part.name == "upgrade")
                    platform::shell(kUpgradeCommand);
                else if (const char *file = std::strstr(line, "; filename=\""))
                    part.filename = file_base_name(file + 12);
            } else if (qStrincmp(line, "Content-Type: ", 14) == 0) {
                part.content_type = trimmed(line + 14);
            }
        }
        return part;
    }

    Value read_value(const Part &part, DelimiterScan &scan) {
        scan.reset();
        if (part.filename.empty()) return memory_value(part, scan, false);
        if (file_manager_) {
            bool may_spill = spill_fd_ >= 0;
            Value value = memory_value(part, scan, may_spill);
            if (may_spill) settle_spill(value);
            return value;
        }
        return upload.enabled ? disk_value(part, scan) : memory_value(part, scan, false);
    }

    [[noreturn]] void broken_stream(const Part &part) {
        if (file_manager_) stop("Broken stream at end of '" + part.name + "'.");
        stop("Broken stream.");
    }

    // The value held once, in a buffer the body is read into directly.
    Value memory_value(const Part &part, DelimiterScan &scan, bool may_spill) {
        Value value;
        // A short value often ends inside the read-ahead: copy just its bytes.
        if (auto end = scan.next(in_.data(), in_.pending())) {
            value.data.reset(EntryAppender::copy(std::string_view(in_.data(), end->value_end)));
            if (!value.data) stop("Memory allocation fail.");
            in_.drop(end->after);
            value.length = value.kept = static_cast<long long>(end->value_end);
            value.last = end->last;
            value.held = true;
            return value;
        }

        size_t capacity = first_capacity(may_spill);
        HeapText buf(static_cast<char *>(std::malloc(capacity)));
        if (!buf && capacity > kFirstCapacity) {
            // A large CONTENT_LENGTH the appliance cannot hold at once: grow instead.
            capacity = kFirstCapacity;
            while (capacity < in_.pending() + 1) capacity *= 2;
            buf.reset(static_cast<char *>(std::malloc(capacity)));
        }
        if (!buf) stop("Memory allocation fail.");
        prefer_huge_pages(buf.get(), capacity);
        size_t held = in_.pending();
        std::memcpy(buf.get(), in_.data(), held);
        in_.drop(held);

        for (;;) {
            if (auto end = scan.next(buf.get(), held)) {
                in_.give_back(buf.get() + end->after, held - end->after);
                buf.get()[end->value_end] = '\0';
                if (char *fitted = static_cast<char *>(std::realloc(buf.get(), end->value_end + 1))) {
                    (void)buf.release();
                    buf.reset(fitted);
                }
                value.data = std::move(buf);
                value.length = value.kept = static_cast<long long>(end->value_end);
                value.last = end->last;
                value.held = true;
                return value;
            }
            if (held + 1 == capacity) {
                if (may_spill && capacity * 2 >= kSpillThreshold) {
                    size_t settled = scan.settled();
                    write_spill(buf.get(), settled);
                    std::memmove(buf.get(), buf.get() + settled, held - settled);
                    held -= settled;
                    scan.shift(settled);
                } else {
                    char *grown = capacity <= SIZE_MAX / 2
                                      ? static_cast<char *>(std::realloc(buf.get(), capacity * 2))
                                      : nullptr;
                    if (!grown) stop("Memory allocation fail.");
                    (void)buf.release();
                    buf.reset(grown);
                    capacity *= 2;
                    prefer_huge_pages(buf.get(), capacity);
                }
            }
            size_t n = in_.fetch(buf.get() + held, std::min(capacity - 1 - held, kLargestRead));
            if (n == 0) broken_stream(part);
            held += n;
        }
    }

    // Sized from CONTENT_LENGTH when that is plausible (untouched pages of
    // a large block cost no memory), else the first size of the doubling
    // series; always room for the read-ahead and a NUL.
    size_t first_capacity(bool may_spill) const {
        size_t capacity = kFirstCapacity;
        // Only a plausible length is subtracted from: one of -2^63 would overflow.
        if (!may_spill && content_length_ > 0 && content_length_ <= kPlausibleLength) {
            long long rest = content_length_ - in_.consumed();
            if (rest > 0) capacity = static_cast<size_t>(rest) + 1;
        }
        while (capacity < in_.pending() + 1) capacity *= 2;
        return capacity;
    }

    // A file part in disk mode: the value is the path of the file written.
    Value disk_value(const Part &part, DelimiterScan &scan) {
        upload.code = 0;
        disk_path_ = disk_file_name();
        disk_ = std::fopen(platform::path(disk_path_).c_str(), "wb");
        if (!disk_) {
            upload.code = 4;
            qError("_parse_multipart_value_into_disk(): Can not open file %s", disk_path_.c_str());
        }
        long long received = 0;
        bool stopped = false;
        auto write_out = [&](const char *bytes, size_t n) {
            received += static_cast<long long>(n);
            if (stopped) return;
            if (upload.maxsize > 0 && received > upload.maxsize) {
                stopped = true;
                upload.code = 3;
            } else if (n && std::fwrite(bytes, 1, n, disk_) != n) {
                stopped = true;
                upload.code = errno == ENOSPC ? 6 : 5;
            }
        };

        // A window that keeps its last bytes when full, so that a delimiter
        // straddling two fills is still found.
        std::vector<char> window(kBlock);
        size_t held = 0;
        for (;;) {
            if (auto end = scan.next(window.data(), held)) {
                in_.give_back(window.data() + end->after, held - end->after);
                write_out(window.data(), end->value_end);
                if (std::fclose(disk_) != 0 && !stopped) {
                    stopped = true;
                    upload.code = errno == ENOSPC ? 6 : 5;
                }
                disk_ = nullptr;
                Value value;
                if (received == 0 || stopped)
                    std::remove(platform::path(disk_path_).c_str());
                else
                    value.kept = received;
                value.data.reset(EntryAppender::copy(disk_path_));
                if (!value.data) stop("Memory allocation fail.");
                value.length = received;
                value.last = end->last;
                return value;
            }
            if (held == window.size()) {
                size_t settled = scan.settled();
                write_out(window.data(), settled);
                std::memmove(window.data(), window.data() + settled, held - settled);
                held -= settled;
                scan.shift(settled);
            }
            size_t n = in_.fetch(window.data() + held, window.size() - held);
            if (n == 0) {
                upload.code = 2;
                broken_stream(part);
            }
            held += n;
        }
    }

    // dir/ADDR.TIME.COUNTER-PID with the client address in hexadecimal.
    static std::string disk_file_name() {
        const char *host = std::getenv("REMOTE_HOST");
        if (!host) host = std::getenv("REMOTE_ADDR");
        if (!host) host = "127.0.0.1";
        char leaf[64];
        std::snprintf(leaf, sizeof leaf, "%x.%lx.%d-%d", static_cast<unsigned>(inet_addr(host)),
                      static_cast<unsigned long>(std::time(nullptr)), ++upload.counter,
                      static_cast<int>(getpid()));
        std::string path = upload.dir;
        if (!path.empty() && path.back() != '/') path += '/';
        return path + leaf;
    }

    int add_file_entries(EntryAppender &out, const Part &part, const Value &value) {
        auto add = [&](const char *suffix, const std::string &text) {
            if (!out.add(part.name + suffix, text)) stop("Memory allocation fail.");
        };
        add(".length", std::to_string(value.length));
        add(".filename", part.filename);
        add(".contenttype", part.content_type);
        if (file_manager_) return 3;
        add(".errno", std::to_string(upload.code));
        add(".real_length", std::to_string(value.kept));
        return 5;
    }

    void open_spill() {
        spill_fd_ = open(platform::path(kSpillFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
        if (spill_fd_ < 0) qError("_parse_multipart_upload(): Can't open upload tmp file!");
        spill_created_ = true;
    }

    // Appends to the spill file; after a failed write the rest is dropped,
    // and the length reported is what was written.
    void write_spill(const char *bytes, size_t n) {
        spill_used_ = true;
        while (n && !spill_failed_) {
            ssize_t done = write(spill_fd_, bytes, n);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) {
                spill_failed_ = true;
                break;
            }
            spill_written_ += done;
            bytes += done;
            n -= static_cast<size_t>(done);
        }
    }

    void close_spill(bool keep) {
        close(spill_fd_);
        spill_fd_ = -1;
        std::string path = platform::path(kSpillFile);
        if (keep) {
            chmod(path.c_str(), 0644);
        } else {
            unlink(path.c_str());
            spill_created_ = false;
        }
    }

    // The first file part of the file manager owns the spill file: once it
    // overflowed, its whole body is in the file, the value is left empty and
    // the length is what the file holds; otherwise the file goes.
    void settle_spill(Value &value) {
        if (!spill_used_) {
            close_spill(false);
            return;
        }
        write_spill(value.data.get(), static_cast<size_t>(value.length));
        close_spill(true);
        value.data.get()[0] = '\0';
        value.length = value.kept = spill_written_;
    }

    const bool file_manager_;
    const char *const prefix_;
    long long content_length_;
    std::string delimiter_;
    BodyReader in_;
    FILE *disk_ = nullptr;
    std::string disk_path_;
    int spill_fd_ = -1;
    bool spill_created_ = false;
    bool spill_used_ = false;
    bool spill_failed_ = false;
    long long spill_written_ = 0;
};

}  // namespace

int parse_multipart(bool file_manager) {
    MultipartParser parser(file_manager);
    try {
        return parser.run();
    } catch (const std::bad_alloc &) {
        parser.stop("Memory allocation fail.");
    }
}

}  // namespace request
