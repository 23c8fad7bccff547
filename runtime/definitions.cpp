// Product definitions: the features and values of this product, parsed once
// at boot from the definitions file into a shared segment that every CGI
// reads without touching a file.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/shared_segment.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

namespace {

constexpr key_t kDefineKey = 0x20071108;
constexpr int kMaxDefines = 256;
constexpr std::size_t kNameSize = 32;
constexpr std::size_t kValueSize = 64;
constexpr std::size_t kProductKeySize = 32;
constexpr std::size_t kLineSize = 3096;  // lines of up to 3095 characters
constexpr int kHeaderLines = 10;

constexpr const char *kFactoryFile = "/etc/.config";
constexpr const char *kWorkingFile = "/etc/sysconfig/.firewall/.config";

struct DefineEntry {
    uint32_t index;  // position in the sorted array
    char name[kNameSize];
    char value[kValueSize];
};

// The layout every process of the appliance shares.
struct DefineSegment {
    unsigned char lock[runtime::kSegmentLockSize];
    int32_t count;
    uint32_t version;
    char product_key[kProductKeySize];
    int32_t fill;
    DefineEntry entries[kMaxDefines];
};

static_assert(sizeof(DefineEntry) == 100);
static_assert(offsetof(DefineEntry, name) == 4 && offsetof(DefineEntry, value) == 36);
static_assert(offsetof(DefineSegment, count) == 24);
static_assert(offsetof(DefineSegment, version) == 28);
static_assert(offsetof(DefineSegment, product_key) == 32);
static_assert(offsetof(DefineSegment, fill) == 64);
static_assert(offsetof(DefineSegment, entries) == 68);
static_assert(sizeof(DefineSegment) == 25668);

DefineSegment *segment() {
    return static_cast<DefineSegment *>(runtime::attach_segment(kDefineKey, sizeof(DefineSegment)));
}

// Copies at most size - 1 characters and NUL-terminates.
void copy_cut(char *to, std::size_t size, std::string_view from) {
    std::size_t n = std::min(from.size(), size - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// Entries in use; a damaged count never leads outside the array.
int used(const DefineSegment *seg) { return std::clamp<int32_t>(seg->count, 0, kMaxDefines); }

bool same_name(const DefineEntry &entry, const char *name) {
    std::size_t n = std::strlen(name);
    return n < kNameSize && std::memcmp(entry.name, name, n + 1) == 0;
}

// The first entry of that name, or -1.
int find(const DefineSegment *seg, const char *name) {
    int n = used(seg);
    for (int i = 0; i < n; ++i)
        if (same_name(seg->entries[i], name)) return i;
    return -1;
}

const DefineEntry *lookup(const char *name) {
    if (!name) return nullptr;
    DefineSegment *seg = segment();
    if (!seg) return nullptr;
    int i = find(seg, name);
    return i < 0 ? nullptr : &seg->entries[i];
}

struct Definition {
    std::string name;   // at most 31 characters
    std::string value;  // at most 63 characters
};

// Sorted by name byte for byte; equal names keep their order.
void sort_definitions(std::vector<Definition> &defs) {
    std::stable_sort(defs.begin(), defs.end(), [](const Definition &a, const Definition &b) {
        return std::strcmp(a.name.c_str(), b.name.c_str()) < 0;
    });
}

// Writes the definitions as the segment's entries (the first 256 when there
// are more), with fresh indices.
void store(DefineSegment *seg, const std::vector<Definition> &defs) {
    int n = static_cast<int>(std::min<std::size_t>(defs.size(), kMaxDefines));
    seg->count = n;
    seg->fill = 0;
    for (int i = 0; i < n; ++i) {
        DefineEntry &entry = seg->entries[seg->fill];
        entry.index = static_cast<uint32_t>(seg->fill);
        copy_cut(entry.name, kNameSize, defs[static_cast<std::size_t>(i)].name);
        copy_cut(entry.value, kValueSize, defs[static_cast<std::size_t>(i)].value);
        ++seg->fill;
    }
}

std::vector<Definition> current(const DefineSegment *seg) {
    std::vector<Definition> defs;
    int n = used(seg);
    for (int i = 0; i < n; ++i) {
        const DefineEntry &e = seg->entries[i];
        defs.push_back({std::string(e.name, strnlen(e.name, kNameSize - 1)),
                        std::string(e.value, strnlen(e.value, kValueSize - 1))});
    }
    return defs;
}

using File = runtime::file_handle;

File open_file(const char *appliance_path, const char *mode) {
    return File(std::fopen(platform::path(appliance_path).c_str(), mode));
}

bool is_definition_line(const char *line) {
    return line[0] != '\0' && line[0] != '#' && line[0] != ' ' && line[0] != '\t' && line[0] != '\n';
}

struct Header {
    bool readable = false;
    uint32_t version = 0;
    std::string product_key;  // brand, '_', model; empty unless complete
};

// The version, brand and model written in the first ten lines of a file.
Header read_header(const char *appliance_path) {
    Header header;
    File file = open_file(appliance_path, "r");
    if (!file) return header;
    header.readable = true;
    std::string brand, model;
    bool have_brand = false, have_model = false, have_version = false;
    char line[kLineSize];
    for (int n = 0; n < kHeaderLines && runtime::read_line(file.get(), line, sizeof line); ++n) {
        char *tokens[10];
        if (!have_version && std::strncmp(line, "#&", 2) == 0) {
            if (string_parse(tokens, 10, line) >= 2) {
                header.version = static_cast<uint32_t>(std::strtoul(tokens[1], nullptr, 10));
                have_version = true;
            }
        } else if (!have_model && std::strncmp(line, "SYSTEM_MODEL", 12) == 0) {
            if (string_parse(tokens, 10, line) >= 3) {
                model = std::string(tokens[2]).substr(0, kNameSize - 1);
                have_model = true;
            }
        } else if (!have_brand && std::strncmp(line, "SYSTEM_BRAND", 12) == 0) {
            if (string_parse(tokens, 10, line) >= 3) {
                brand = std::string(tokens[2]).substr(0, kNameSize - 1);
                have_brand = true;
            }
        }
    }
    if (header.version != 0 && have_model && have_brand) header.product_key = brand + "_" + model;
    return header;
}

// Makes the working file the one to load: it stays when it belongs to the
// same product and is not older than the factory file, otherwise the
// factory file replaces it.  A missing factory file never replaces it.
Header choose_definitions_file() {
    Header factory = read_header(kFactoryFile);
    Header working = read_header(kWorkingFile);
    if (!factory.readable || (factory.product_key == working.product_key && factory.version <= working.version))
        return working;
    my_cp(kFactoryFile, kWorkingFile);
    return factory;
}

std::vector<Definition> read_definitions(const char *appliance_path) {
    std::vector<Definition> defs;
    File file = open_file(appliance_path, "r");
    if (!file) return defs;
    char line[kLineSize];
    while (runtime::read_line(file.get(), line, sizeof line)) {
        if (!is_definition_line(line)) continue;
        char *tokens[10];
        if (string_parse(tokens, 10, line) < 3) continue;
        defs.push_back({std::string(tokens[0]).substr(0, kNameSize - 1),
                        std::string(tokens[2]).substr(0, kValueSize - 1)});
    }
    return defs;
}

// A name that reads back as one definition token.
bool valid_name(const char *name) {
    if (!name || !is_definition_line(name)) return false;
    for (const char *p = name; *p; ++p)
        if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '"' || *p == '\\') return false;
    return true;
}

// The value as a quoted token: quotes and backslashes escaped.  A value
// holding a line break would write a second line and is refused.
bool quote_value(const char *value, std::string &quoted) {
    for (const char *p = value; *p; ++p) {
        if (*p == '\n' || *p == '\r') return false;
        if (*p == '"' || *p == '\\') quoted += '\\';
        quoted += *p;
    }
    return true;
}

}  // namespace

extern "C" {

int IF_DEFINE(const char *name) {
    const DefineEntry *entry = lookup(name);
    return entry && (entry->value[0] == 'y' || entry->value[0] == 'Y') ? 1 : 0;
}

const char *RETURN_DEF_STR(const char *name) {
    const DefineEntry *entry = lookup(name);
    return entry ? entry->value : nullptr;
}

int RETURN_DEF_INT(const char *name) {
    const DefineEntry *entry = lookup(name);
    return entry ? atoi(entry->value) : 0;
}

unsigned int RETURN_DEF_UINT(const char *name) {
    const DefineEntry *entry = lookup(name);
    return entry ? static_cast<unsigned int>(std::strtoul(entry->value, nullptr, 10)) : 0;
}

void *get_define_segment(void) { return segment(); }

int init_configuration(void) {
    DefineSegment *seg = segment();
    if (!seg) return 0;
    std::memset(seg, 0, sizeof *seg);
    runtime::SegmentLock lock(seg);
    Header header = choose_definitions_file();
    seg->version = header.version;
    copy_cut(seg->product_key, kProductKeySize, header.product_key);
    std::vector<Definition> defs = read_definitions(kWorkingFile);
    sort_definitions(defs);
    if (!defs.empty()) store(seg, defs);
    return 1;
}

int SET_DEFINE(const char *name, const char *value) {
    if (!name || !value) return -1;
    DefineSegment *seg = segment();
    if (!seg) return -1;
    runtime::SegmentLock lock(seg);
    int i = find(seg, name);
    if (i < 0) return -1;
    copy_cut(seg->entries[i].value, kValueSize, value);
    return 0;
}

int ADD_DEFINE(const char *name, const char *value) {
    if (!name || !value) return -1;
    DefineSegment *seg = segment();
    if (!seg) return -1;
    // A long name is stored cut, so it is looked up cut: adding it twice
    // changes the one entry.
    std::string cut = std::string(name).substr(0, kNameSize - 1);
    runtime::SegmentLock lock(seg);
    int i = find(seg, cut.c_str());
    if (i >= 0) {
        copy_cut(seg->entries[i].value, kValueSize, value);
        return 0;
    }
    std::vector<Definition> defs = current(seg);
    if (defs.size() >= kMaxDefines) return -1;
    defs.push_back({cut, std::string(value).substr(0, kValueSize - 1)});
    sort_definitions(defs);
    store(seg, defs);
    return 0;
}

int DEL_DEFINE(const char *name) {
    if (!name) return -1;
    DefineSegment *seg = segment();
    if (!seg) return -1;
    runtime::SegmentLock lock(seg);
    int i = find(seg, name);
    if (i < 0) return -1;
    int n = used(seg);
    for (int j = i; j + 1 < n; ++j) {
        seg->entries[j] = seg->entries[j + 1];
        seg->entries[j].index = static_cast<uint32_t>(j);
    }
    std::memset(&seg->entries[n - 1], 0, sizeof seg->entries[n - 1]);
    seg->count = n - 1;
    seg->fill = n - 1;
    return 0;
}

int save_configuration(const char *name, const char *value) {
    std::string quoted;
    if (!valid_name(name) || !value || !quote_value(value, quoted)) return -1;
    if (!segment()) return -1;
    choose_definitions_file();

    std::string fresh = std::string(kWorkingFile) + ".new";
    {
        File in = open_file(kWorkingFile, "r");
        if (!in) return -1;
        File out = open_file(fresh.c_str(), "w+");
        if (!out) return -1;

        std::string prefix = std::string(name) + " = ";
        bool replaced = false;
        // Lines are copied whole, however long they are.
        char *line = nullptr;
        std::size_t capacity = 0;
        ssize_t length;
        while ((length = getline(&line, &capacity, in.get())) >= 0) {
            if (std::string_view(line, static_cast<std::size_t>(length)).starts_with(prefix)) {
                std::fprintf(out.get(), "%s = \"%s\"\n", name, quoted.c_str());
                replaced = true;
            } else {
                std::fwrite(line, 1, static_cast<std::size_t>(length), out.get());
            }
        }
        free(line);
        if (!replaced) {
            std::time_t now = std::time(nullptr);
            char stamp[32];
            if (!ctime_r(&now, stamp)) stamp[0] = '\0';
            std::fprintf(out.get(), "\n#New append - %s%s = \"%s\"\n", stamp, name, quoted.c_str());
        }
        if (std::fflush(out.get()) != 0 || std::ferror(out.get())) {
            out.reset();
            std::remove(platform::path(fresh).c_str());
            return -1;
        }
    }
    my_mv(fresh.c_str(), kWorkingFile);
    return init_configuration() ? 0 : -1;
}

}  // extern "C"
