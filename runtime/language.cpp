// Language strings: the language of a request, the language files of a page
// loaded into a table of placeholders and texts, and numbered string lists.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/rotating_buffer.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

extern "C" {
char icons_path[128];
}

namespace {

constexpr std::size_t kCodeLength = 9;  // a language code fits a 10-byte slot
constexpr std::size_t kLanguageSlots = 16;
struct LanguageSlots;
constexpr std::size_t kLanguageLineSize = 16384;
constexpr std::size_t kLookupSize = 512;
constexpr int kLineTokens = 10;

q_entry *default_table = nullptr;

using File = runtime::file_handle;

// A code names a directory: only letters, digits, '-' and '_' are taken
// from a request, so it can neither leave /etc/language nor break the
// pages that print the icons path.
bool plausible_code(std::string_view code) {
    return std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

std::string cut_code(const char *code) { return std::string(code).substr(0, kCodeLength); }

// The language file of a page group; empty when the code or the group
// would lead out of the language directory.
std::string language_file(const char *code, const char *group) {
    std::string c = cut_code(code);
    std::string_view g = group;
    if (c.find('/') != std::string::npos || c == "." || c == ".." || g.find('/') != std::string_view::npos ||
        g == "." || g == "..")
        return {};
    char path[1024];
    int n = std::snprintf(path, sizeof path, "%s/%s/%s", "/etc/language", c.c_str(), group);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return {};
    return path;
}

void set_icons_path(const char *code) {
    std::snprintf(icons_path, sizeof icons_path, "../icons_%s/", cut_code(code).c_str());
}

// A text as stored: "%%" becomes "%", any other '%' stays as it is.
std::string stored_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
    }
    return out;
}

// Adds every (placeholder, text) pair of a language file to the table and
// returns its head; a file that cannot be opened leaves the table as it is.
q_entry *load_file(const std::string &appliance_path, q_entry *table) {
    if (appliance_path.empty()) return table;
    File file(std::fopen(platform::path(appliance_path).c_str(), "r"));
    if (!file) return table;
    std::vector<char> line(kLanguageLineSize);
    while (runtime::read_line(file.get(), line.data(), line.size())) {
        if (line[0] == '#') continue;
        char *tokens[kLineTokens];
        if (string_parse(tokens, kLineTokens, line.data()) < 2) continue;
        std::string key = std::string("${") + tokens[0] + "}";
        table = qSedArgAdd(table, key.c_str(), "%s", stored_text(tokens[1]).c_str());
    }
    return table;
}

}  // namespace

extern "C" {

char *now_language(const char *fallback) {
    char *slot = runtime::next_buffer<kLanguageSlots, kCodeLength + 1, LanguageSlots>();
    std::memset(slot, 0, kCodeLength + 1);

    const char *requested = qValue("MULTI_LANG");
    if (requested && !std::strstr(requested, "null") && plausible_code(requested)) {
        std::snprintf(slot, kCodeLength + 1, "%s", requested);
        if (slot[0]) return slot;
    }
    std::snprintf(slot, kCodeLength + 1, "%s", fallback ? fallback : "eng");
    return slot;
}

q_entry *load_my_language(const char *code, const char *group, q_entry **table) {
    if (!code || !group) return nullptr;
    bool own = table && *table;
    q_entry *head = own ? *table : default_table;
    set_icons_path(code);
    head = load_file(language_file(code, "common"), head);
    head = load_file(language_file(code, group), head);
    if (!own) default_table = head;
    if (table) *table = head;
    return head;
}

q_entry *load_static_language(const char *code, const char *group, q_entry **table) {
    if (!code || !group) return nullptr;
    q_entry **target = table ? table : &default_table;
    *target = load_file(language_file(code, group), *target);
    return *target;
}

int load_language(const char *code, const char *group, char *rows, int max_rows, int row_size, q_entry **table) {
    if (!code || !group || !rows) return 0;
    set_icons_path(code);
    if (table) *table = load_file(language_file(code, "common"), *table);
    std::string path = language_file(code, group);
    return path.empty() ? 0 : load_data_file(path.c_str(), rows, max_rows, row_size);
}

int load_data_file(const char *path, char *rows, int max_rows, int row_size) {
    if (!path || !rows || max_rows <= 0 || row_size <= 0) return 0;
    File file(std::fopen(platform::path(path).c_str(), "r"));
    if (!file) return 0;
    std::vector<char> line(2 * (static_cast<std::size_t>(row_size) + 512));
    int filled = 0;
    while (filled < max_rows && runtime::read_line(file.get(), line.data(), line.size())) {
        if (line[0] == '#') continue;
        char *tokens[kLineTokens];
        if (string_parse(tokens, kLineTokens, line.data()) < 2) continue;
        // The row's last byte is never written.
        std::strncpy(rows + static_cast<std::size_t>(filled) * static_cast<std::size_t>(row_size), tokens[1],
                     static_cast<std::size_t>(row_size) - 1);
        ++filled;
    }
    return filled;
}

const char *Name2Str(q_entry **table, const char *text) {
    if (!text) return text;
    q_entry *head = table && *table ? *table : default_table;
    char key[kLookupSize];
    std::snprintf(key, sizeof key, "%s", text);
    const char *stored = qSedStrValue(head, key);
    return stored ? stored : text;
}

}  // extern "C"
