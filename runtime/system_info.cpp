// The system information record, the theme and capacity tables read from
// their column table files, and the system information block through which
// the appliance's programs publish live state to each other.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/shared_segment.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

extern "C" {
char html_fmt[200][30];
char entry_num[100][20];
}

namespace {

constexpr key_t kBlockKey = 0x20070413;
constexpr int kBlockIntegers = 160;
constexpr int kBlockStrings = 80;
constexpr std::size_t kBlockStringSize = 256;

// The layout every process of the appliance shares; it has no lock.
struct SystemBlock {
    int32_t integers[kBlockIntegers];
    char strings[kBlockStrings][kBlockStringSize];
};

static_assert(offsetof(SystemBlock, strings) == 640);
static_assert(sizeof(SystemBlock) == 21120);

static_assert(sizeof(system_info_record) == 76);
static_assert(offsetof(system_info_record, model) == 21);
static_assert(offsetof(system_info_record, major) == 41);
static_assert(offsetof(system_info_record, minor) == 44);
static_assert(offsetof(system_info_record, revision) == 47);
static_assert(offsetof(system_info_record, product_id) == 50);

constexpr int kColumnTokens = 20;
constexpr std::size_t kColumnLineSize = 1024;  // lines of up to 1023 characters

SystemBlock *block() {
    return static_cast<SystemBlock *>(runtime::attach_segment(kBlockKey, sizeof(SystemBlock)));
}

using File = runtime::file_handle;

// The whole token as a hexadecimal number.
bool hex_token(const char *token, unsigned long &value) {
    if (!*token) return false;
    char *end = nullptr;
    value = std::strtoul(token, &end, 16);
    return *end == '\0';
}

// The token number (1-based) of column id in a header line, or 0.
int column_of(char *line, unsigned int id) {
    char *tokens[kColumnTokens];
    int n = string_parse(tokens, kColumnTokens, line);
    for (int k = 2; k <= n; ++k) {
        unsigned long value;
        if (hex_token(tokens[k - 1], value) && value == id) return k;
    }
    return 0;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Fields the file left unterminated are cut at their last byte.
void terminate_fields(system_info_record *record) {
    record->vendor[sizeof record->vendor - 1] = '\0';
    record->model[sizeof record->model - 1] = '\0';
    record->major[sizeof record->major - 1] = '\0';
    record->minor[sizeof record->minor - 1] = '\0';
    record->revision[sizeof record->revision - 1] = '\0';
    record->product_id[sizeof record->product_id - 1] = '\0';
}

}  // namespace

extern "C" {

int read_parameter(const char *path, char *buf, int max_rows, int row_size, unsigned int id) {
    if (!path || !buf || max_rows <= 0 || row_size <= 0) return 0;
    File file(std::fopen(platform::path(path).c_str(), "r"));
    if (!file) return 0;

    char line[kColumnLineSize];
    int column = 0;
    int rows = 0;
    while (rows < max_rows && runtime::read_line(file.get(), line, sizeof line)) {
        if (column == 0) {
            if (line[0] == '&') column = column_of(line, id);
            continue;
        }
        if (!is_letter(line[0])) continue;
        char *tokens[kColumnTokens];
        if (string_parse(tokens, kColumnTokens, line) < column) continue;
        // The row's last byte is never written.
        std::strncpy(buf + static_cast<std::size_t>(rows) * static_cast<std::size_t>(row_size), tokens[column - 1],
                     static_cast<std::size_t>(row_size) - 1);
        ++rows;
    }
    return rows;
}

int my_systemInfo(char *buf) {
    if (!buf) return -1;
    char path[64];
    std::snprintf(path, sizeof path, "/etc/%s", "system.info");
    File file(std::fopen(platform::path(path).c_str(), "r"));
    if (!file) return -1;
    auto *record = reinterpret_cast<system_info_record *>(buf);
    if (std::fread(record, 1, sizeof *record, file.get()) != sizeof *record) return -1;
    file.reset();
    terminate_fields(record);

    auto id = static_cast<unsigned int>(std::strtoul(record->product_id, nullptr, 16));
    int themes = read_parameter("/etc/html.info", html_fmt[0], 200, 30, id & 0xfff000);
    if (themes < 1) return -1;
    int capacities = read_parameter("/etc/entry.info", entry_num[0], 100, 20, id & 0xfff);
    return capacities < 1 ? -1 : 0;
}

int write_systemInfo(const char *buf) {
    if (!buf) return -1;
    File file(std::fopen(platform::path("/etc/sysconfig/.firewall/system.info").c_str(), "w+"));
    if (!file) return -1;
    if (std::fwrite(buf, 1, sizeof(system_info_record), file.get()) != sizeof(system_info_record)) return -1;
    return std::fclose(file.release()) == 0 ? 0 : -1;
}

int *RI(int index) {
    if (index < 0 || index >= kBlockIntegers) return nullptr;
    SystemBlock *b = block();
    return b ? &b->integers[index] : nullptr;
}

int *WI(int index, int value) {
    int *slot = RI(index);
    if (slot) *slot = value;
    return slot;
}

char *RS(int index) {
    if (index < 0 || index >= kBlockStrings) return nullptr;
    SystemBlock *b = block();
    return b ? b->strings[index] : nullptr;
}

// The 256th byte is never written: readers may see it while a string is
// being copied, and it stays NUL in a fresh block.
char *WS(int index, const char *str) {
    char *slot = RS(index);
    if (slot) std::strncpy(slot, str ? str : "", kBlockStringSize - 1);
    return slot;
}

}  // extern "C"
