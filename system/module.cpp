// The mechanics every configuration module shares.
#include "system/module.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "runtime/owners.h"
#include "runtime/shell_quote.h"

namespace {

// The table's layout is what C callers and every module rely on: the name,
// then 40 one-word slots in their documented order.
constexpr std::size_t kSlot = sizeof(void *);
static_assert(sizeof(module_table) == 32 + 40 * kSlot, "a module table is its name and 40 slots");
static_assert(offsetof(module_table, clear) == 32, "slot 0 follows the name");
static_assert(offsetof(module_table, handle) == 32 + 30 * kSlot, "slot 30 keeps the handle");
static_assert(offsetof(module_table, import_xmlConf) == 32 + 39 * kSlot, "slot 39 is the last");

using runtime::heap_text;

// Escapes of a name: the backslash first, so the ones added for quotes stay
// single; a Windows line break is one break.
const char *const kNameEscapes[][2] = {
    {"\\", "\\\\"}, {"\"", "\\\""}, {"\r\n", "//n"}, {"\r", "//n"}, {"\n", "//n"}, {"<br>", "//n"}, {nullptr, nullptr},
};

bool is_word(const char *text) {
    if (!*text || *text == '"') return false;
    for (const char *p = text; *p; ++p)
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') return false;
    return true;
}

}  // namespace

namespace module {

module_table *register_table(const module_table &table) {
    auto *copy = static_cast<module_table *>(malloc(sizeof(module_table)));
    if (copy) *copy = table;
    return copy;
}

void unregister_table(module_table *table) { free(table); }

registered::registered(const char *name)
    : entry_(module_find(name)), table_(entry_ ? entry_->register_fn() : nullptr) {}

registered::~registered() {
    if (!table_) return;
    if (table_->handle) {
        auto *h = static_cast<record_file *>(table_->handle);
        table_->close(&h);
    }
    entry_->unregister_fn(table_);
}

record_file *registered::open(const char *tag, int mode, void *selector) {
    if (!table_) return nullptr;
    if (table_->handle) {
        auto *h = static_cast<record_file *>(table_->handle);
        table_->close(&h);
    }
    table_->handle = table_->open(selector, tag, mode);
    return handle();
}

int registered::each(const char *tag, const std::function<void(void *rec)> &visit) {
    if (!open(tag, 0)) return -1;
    int count = 0;
    try {
        auto record = std::make_unique<record_buffer>();
        for (int k = 1;; ++k) {
            std::memset(record.get(), 0, sizeof(record_buffer));
            if (!table_->getline(handle(), record.get(), nullptr, k)) break;
            visit(record.get());
            ++count;
        }
    } catch (...) {
        count = -1;
    }
    auto *h = handle();
    table_->close(&h);
    table_->handle = nullptr;
    return count;
}

char *opener_tag(const char *source, const char *function, int line) {
    return M("pid:%d,%s:%s():%d", static_cast<int>(getpid()), source, function, line);
}

record_file *open_file(int number, const char *tag, int mode) {
    if (!tag) return nullptr;
    return my_ReadFile(number, mode, tag);
}

bool parse_copy(const char *text, void *rec, parse_fn parse) {
    heap_text copy(strdup(text));
    if (!copy) return false;
    parse(copy.get(), rec);
    return true;
}

int read_next(record_file *h, void *rec, uint32_t *line, int k, parse_fn parse) {
    if (!h || !rec || !parse) return 0;
    uint32_t number = 0;
    const char *text = my_GetLine(h, &number, k == 1 ? 1 : 0);
    if (!text || !parse_copy(text, rec, parse)) return 0;
    if (line) *line = number;
    return 1;
}

void *read_number(record_file *h, void *rec, int n, parse_fn parse) {
    if (!h || !rec || !parse || n < 1) return nullptr;
    const char *text = my_GetNumData(h, static_cast<uint32_t>(n));
    if (!text || !parse_copy(text, rec, parse)) return nullptr;
    return rec;
}

void close_file(record_file **h) {
    if (!h) return;
    my_CloseFile(*h);
    *h = nullptr;
}

int remove(record_file *h, int n) {
    if (!h || n < 1) return -1;
    return my_DelLine(h, static_cast<uint32_t>(n));
}

record_file *shift(record_file *h, int from, int to) {
    if (!h || from == to || from < 1 || to < 1) return nullptr;
    if (static_cast<uint32_t>(from) > h->count || static_cast<uint32_t>(to) > h->count) return nullptr;
    return my_ShiftLine(h, static_cast<uint32_t>(from), static_cast<uint32_t>(to)) == 0 ? h : nullptr;
}

std::string escaped_name(const char *text) {
    heap_text escaped(my_MreplaceStr(text ? text : kUnset, kNameEscapes));
    if (!escaped) throw std::bad_alloc();
    return escaped.get();
}

line &line::name(const char *text) {
    text_ += '"';
    text_ += escaped_name(text);
    text_ += "\" ";
    return *this;
}

line &line::text(const char *text) {
    if (!text) text = kUnset;
    if (!is_word(text)) return name(text);
    text_ += text;
    text_ += ' ';
    return *this;
}

line &line::number(int32_t value) {
    text_ += std::to_string(value);
    text_ += ' ';
    return *this;
}

line &line::quoted_number(int32_t value) {
    text_ += '"';
    text_ += std::to_string(value);
    text_ += "\" ";
    return *this;
}

unsigned int nat_references(const char *chain, std::initializer_list<const char *> suffixes) {
    unsigned int sum = 0;
    for (const char *suffix : suffixes) sum += chain_references("nat", (std::string(chain) + suffix).c_str());
    return sum;
}

std::string arg(const char *value) { return runtime::shell_word(value ? value : kUnset); }

int32_t form_integer(const char *name, int32_t def) {
    const char *value = qValue("%s", name);
    if (!value) return def;
    char *end = nullptr;
    const long long number = std::strtoll(value, &end, 10);
    return end == value ? def : clamped(number);
}

bool wizard_file(const void *selector) {
    const bool no_wizard = same_text(qValueDefault("No", "wizard"), "No");
    return no_wizard == (selector != nullptr);
}

int print_through(q_entry *table, const char *text) {
    if (!text) return 0;
    if (table) return qSedStr(table, text, stdout);
    return std::fputs(text, stdout) < 0 ? 0 : 1;
}

// A quoted field left open (a hand-edited line) ends the line: the fields
// before it still count.
fields::fields(char *line) {
    int parsed = string_parse(tokens_, kMax, line);
    if (parsed >= 0) count_ = parsed;
    else
        while (count_ < kMax && tokens_[count_]) ++count_;
}

int32_t fields::integer(int i) const {
    const char *value = (*this)[i];
    if (!value) return 0;
    return clamped(std::strtoll(value, nullptr, 10));
}

}  // namespace module
