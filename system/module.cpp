// The mechanics every configuration module shares.
#include "system/module.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

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

int registered::each(const char *tag, const std::function<void(void *rec, int line)> &visit) {
    return table_ ? walk_file(table_, nullptr, tag, visit) : -1;
}

int walk_file(module_table *table, void *selector, const char *tag,
              const std::function<void(void *rec, int line)> &visit) {
    record_file *h = table->open(selector, tag, 0);
    if (!h) return -1;
    int count = 0;
    try {
        auto record = std::make_unique<record_buffer>();
        for (int k = 1;; ++k, ++count) {
            std::memset(record.get(), 0, sizeof(record_buffer));
            uint32_t line = 0;
            if (!table->getline(h, record.get(), &line, k)) break;
            visit(record.get(), static_cast<int>(line));
        }
    } catch (...) {
        count = -1;
    }
    table->close(&h);
    return count;
}

int walk_files(module_table *table, std::initializer_list<std::intptr_t> selectors, const char *tag,
               const std::function<void(void *rec, int line)> &visit) {
    int visited = 0;
    for (std::intptr_t selector : selectors)
        visited += std::max(0, walk_file(table, reinterpret_cast<void *>(selector), tag, visit));
    return visited;
}

int boot_records(module_table *table, const char *tag, std::initializer_list<std::intptr_t> selectors) {
    using initial_fn = void *(*)(void *rec, int n, int flag);
    auto initial = reinterpret_cast<initial_fn>(table->initial_system_cmd);
    if (!initial) return 0;
    return walk_files(table, selectors, tag, [initial](void *rec, int line) { initial(rec, line, 1); });
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

bool is_ipv4(const char *text) {
    in_addr address;
    return text && inet_pton(AF_INET, text, &address) == 1;
}

bool is_ipv6(const char *text) {
    in6_addr address;
    return text && inet_pton(AF_INET6, text, &address) == 1;
}

bool is_ifname(const char *text) {
    if (!text || !*text || *text == '-') return false;
    std::size_t n = 0;
    for (const char *p = text; *p; ++p, ++n)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '.' && *p != '_' && *p != '-') return false;
    return n <= 15;
}

bool is_mac(const char *text) {
    if (!text || std::strlen(text) != 17) return false;
    for (int i = 0; i < 17; ++i) {
        const bool colon = i % 3 == 2;
        if (colon ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

bool is_digits(const char *text) {
    if (!text || !*text) return false;
    for (const char *p = text; *p; ++p)
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    return true;
}

bool has_ipv4(const char *text) { return is_ipv4(text) && !same_text(text, "0.0.0.0"); }

bool has_ipv6(const char *text) {
    in6_addr address;
    if (!text || inet_pton(AF_INET6, text, &address) != 1) return false;
    for (unsigned char byte : address.s6_addr)
        if (byte) return true;
    return false;
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

bool plain_word(const char *value) { return value && arg(value) == value; }

bool is_set(const char *text) {
    return text && *text && !same_text(text, kUnset) && !same_text(text, "0.0.0.0");
}

bool is_secret(const char *text) {
    return text && std::none_of(text, text + std::strlen(text), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f || c == '"' || c == '\\';
    });
}

bool holds_values(const void *rec, field_list list, std::initializer_list<const char *> keys) {
    for (const char *key : keys)
        for (const field &f : list)
            if (same_text(f.key ? f.key : f.form ? f.form : "", key) && !f.is_number() && !accepts(f, text_in(rec, f)))
                return false;
    return true;
}

bool missing(const char *value) { return !value || !*value || same_text(value, kUnset); }

namespace {

// The index of a choice's name; -1 when it is none of them.
int index_of(const field &f, const char *value) {
    for (std::size_t i = 0; i < f.names.size(); ++i)
        if (same_text(f.names[i], value)) return static_cast<int>(i);
    return -1;
}

}  // namespace

int32_t number_of(const field &f, const char *value) {
    const int index = f.what == holds::choice ? index_of(f, value) : -1;
    return index >= 0 ? index : clamped(std::strtoll(value, nullptr, 10));
}

namespace {

// A field's value from a text: a text field takes it, a number its value.
void store(void *rec, const field &f, const char *value) {
    if (f.is_number()) number_in(rec, f) = number_of(f, value);
    else set_text(text_in(rec, f), f.size, value);
}

}  // namespace

bool has_control(const char *text) {
    for (const char *p = text; p && *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) return true;
    return false;
}

bool is_decimal(const char *text) {
    if (!text) return false;
    if (*text == '+' || *text == '-') ++text;
    int digits = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) ++digits;
    if (*text == '.')
        for (++text; std::isdigit(static_cast<unsigned char>(*text)); ++text) ++digits;
    return digits > 0 && !*text;
}

bool applies(const void *rec, const field &f, field_list list) {
    if (!f.when) return true;
    const field *deciding = field_named(list, f.when);
    return !deciding || f.applies_with(number_in(rec, *deciding));
}

void default_fields(void *rec, field_list list) {
    for (const field &f : list)
        if (f.def && applies(rec, f, list)) store(rec, f, f.def);
}

std::string format_fields(const void *rec, field_list list) {
    line l;
    for (const field &f : list) {
        if (!applies(rec, f, list)) continue;
        switch (f.how) {
            case kind::name: l.name(text_in(rec, f)); break;
            case kind::word: l.text(text_in(rec, f)); break;
            case kind::number: l.number(number_in(rec, f)); break;
            case kind::quoted_number: l.quoted_number(number_in(rec, f)); break;
            case kind::none: break;
        }
    }
    return l.str();
}

void parse_fields(char *text, void *rec, field_list list) {
    fields f(text);
    int i = 0;
    for (const field &d : list) {
        if (d.how == kind::none || !applies(rec, d, list)) continue;
        if (d.is_number() && !d.def) number_in(rec, d) = f.integer(i);
        else if (const char *value = f[i]) store(rec, d, value);
        ++i;
    }
}

bool take(void *rec, const field &f, const char *value) {
    if (missing(value)) {
        if (f.def) store(rec, f, f.def);
        else if (!f.is_number()) set_text(text_in(rec, f), f.size, kUnset);
        return true;
    }
    if (accepts(f, value)) {
        store(rec, f, value);
        return true;
    }
    if (f.def) store(rec, f, f.def);
    return false;
}

const field *form_fields(void *rec, field_list list) {
    const field *refused = nullptr;
    for (const field &f : list)
        if (const char *name = f.form_name();
            name && applies(rec, f, list) && !take(rec, f, qValue("%s", name)) && !refused)
            refused = &f;
    return refused;
}

bool well_formed(const void *rec, field_list list) {
    for (const field &f : list) {
        if (f.how == kind::none || !applies(rec, f, list)) continue;
        const std::string value = f.is_number() ? std::to_string(number_in(rec, f))
                                                : std::string(text_in(rec, f), strnlen(text_in(rec, f), f.size));
        if (missing(value.c_str()) || !accepts(f, value.c_str())) return false;
    }
    return true;
}

const field *field_named(field_list list, const char *key) {
    if (!key) return nullptr;
    for (const field &f : list)
        if (f.key && same_text(f.key, key)) return &f;
    return nullptr;
}

namespace {

// 1 to most characters (the text's capacity when most is 0), each one that
// allowed takes.
bool made_of(const char *text, std::size_t most, bool (*allowed)(unsigned char)) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > most) return false;
    return std::all_of(text, text + length, [allowed](char c) { return allowed(static_cast<unsigned char>(c)); });
}

bool decimal_in(const char *text, long long low, long long high) {
    if (!text || !*text) return false;
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, 10);
    return errno == 0 && !*end && !std::isspace(static_cast<unsigned char>(*text)) && number >= low && number <= high;
}

bool is_mask(const char *text) {
    in_addr address;
    if (!text || inet_pton(AF_INET, text, &address) != 1) return false;
    const uint32_t bits = ntohl(address.s_addr);
    return (bits | (bits - 1)) == UINT32_MAX || bits == 0;
}

bool is_port_range(const char *text) {
    const char *colon = std::strchr(text, ':');
    if (!colon) return decimal_in(text, 1, 65535);
    const std::string first(text, colon);
    return decimal_in(first.c_str(), 1, 65535) && decimal_in(colon + 1, 1, 65535) &&
           std::atoi(first.c_str()) <= std::atoi(colon + 1);
}

bool is_address_list(const char *text) {
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        if (!is_ipv4(std::string(rest.substr(0, comma)).c_str())) return false;
        if (comma == std::string_view::npos) return true;
        rest.remove_prefix(comma + 1);
    }
}

bool word_character(unsigned char c) { return std::isalnum(c) || std::strchr(".:_/-", c); }
bool host_character(unsigned char c) { return std::isalnum(c) || std::strchr(".-_:", c); }
bool alphanumeric(unsigned char c) { return std::isalnum(c) != 0; }
bool hexadecimal(unsigned char c) { return std::isxdigit(c) != 0; }
bool label_character(unsigned char c) { return std::isalnum(c) || std::strchr("._-@", c); }
bool binary(unsigned char c) { return c == '0' || c == '1'; }

// The protocols a service names by their names; others go by their numbers.
constexpr const char *kProtocols[] = {"tcp", "udp", "icmp", "all"};

}  // namespace

bool accepts(const field &f, const char *value) {
    if (missing(value) || (f.what != holds::chain && index_of(f, value) >= 0)) return true;
    const std::size_t most = f.high > 0 ? static_cast<std::size_t>(f.high) : f.size ? f.size - 1 : 0;
    switch (f.what) {
        case holds::undeclared: return false;  // describe() lets no such field through
        case holds::number:
            return decimal_in(value, f.low, f.ports ? RETURN_DEF_INT("SYSTEM_PORT_NUM") : f.high);
        case holds::choice:
            return f.is_number() && decimal_in(value, 0, static_cast<long long>(f.names.size()) - 1);
        case holds::ipv4: return is_ipv4(value);
        case holds::mask: return is_mask(value);
        case holds::ipv6: return is_ipv6(value);
        case holds::address: return is_address(value, 0);
        case holds::addresses: return is_address_list(value);
        case holds::prefix: return decimal_in(value, 0, 128);
        case holds::mac: return is_mac(value);
        case holds::ifname: return is_ifname(value);
        case holds::port: return decimal_in(value, 1, 65535);
        case holds::port_range: return is_port_range(value);
        case holds::mark: return made_of(value, most, hexadecimal);
        case holds::identifier: return f.high ? made_of(value, most, alphanumeric) : is_identifier(value);
        case holds::word: return *value != '-' && made_of(value, most, word_character);
        case holds::host: return made_of(value, most, host_character);
        case holds::label: return *value != '.' && *value != '-' && made_of(value, most, label_character);
        case holds::text: return !has_control(value);
        case holds::secret: return is_secret(value);
        case holds::decimal: return std::strlen(value) <= most && is_decimal(value);
        case holds::chain:
            return std::any_of(f.names.begin(), f.names.end(), [&](const char *prefix) {
                const std::size_t n = std::strlen(prefix);
                return std::strncmp(value, prefix, n) == 0 && value[n] == '_' && is_identifier(value + n + 1);
            });
        case holds::mask_or_prefix: return is_mask(value) || decimal_in(value, 0, 128);
        case holds::protocol:
            return decimal_in(value, 0, 255) || std::any_of(std::begin(kProtocols), std::end(kProtocols),
                                                            [&](const char *p) { return same_text(p, value); });
        case holds::flags: return made_of(value, most, binary);
    }
    return false;
}

std::string holding(const field &f) {
    const auto most = [&](const char *what) {
        const int n = f.high > 0 ? f.high : static_cast<int>(f.size ? f.size - 1 : 0);
        return "1 to " + std::to_string(n) + " " + what;
    };
    switch (f.what) {
        case holds::undeclared: break;
        case holds::number:
            return "a number from " + std::to_string(f.low) + " to " +
                   (f.ports ? std::to_string(RETURN_DEF_INT("SYSTEM_PORT_NUM")) : std::to_string(f.high));
        case holds::choice:
            if (f.is_number())
                return "one of its names, or a number from 0 to " +
                       std::to_string(static_cast<int>(f.names.size()) - 1);
            return "one of its names";
        case holds::ipv4: return "an IPv4 address";
        case holds::mask: return "an IPv4 mask";
        case holds::ipv6: return "an IPv6 address";
        case holds::address: return "an IPv4 or IPv6 address";
        case holds::addresses: return "IPv4 addresses joined by commas";
        case holds::prefix: return "a prefix length from 0 to 128";
        case holds::mac: return "a MAC address";
        case holds::ifname: return "an interface name";
        case holds::port: return "a port from 1 to 65535";
        case holds::port_range: return "a port or a range of ports";
        case holds::mark: return most("hexadecimal digits");
        case holds::identifier: return f.high ? most("letters and digits") : "an identifier of 14 digits";
        case holds::word: return "one word of " + most("letters, digits and \".:_/-\"");
        case holds::host: return "a host name or an address";
        case holds::label: return most("letters, digits and \"._-@\", not beginning with '.' or '-'");
        case holds::text: return "a text without control characters";
        case holds::secret: return "a text without quotes, backslashes or control characters";
        case holds::decimal: return "a decimal number";
        case holds::chain: {
            std::string prefixes;
            for (const char *p : f.names) prefixes += (prefixes.empty() ? "\"" : " or \"") + std::string(p) + "_\"";
            return "a chain named " + prefixes + " and an identifier of 14 digits";
        }
        case holds::mask_or_prefix: return "an IPv4 mask or a prefix length from 0 to 128";
        case holds::protocol: return "tcp, udp, icmp, all or a protocol number from 0 to 255";
        case holds::flags: return most("characters '0' or '1'");
    }
    return "nothing";
}

bool is_file_name(const char *text) {
    return plain_word(text) && text[0] != '.' && !std::strchr(text, '/');
}

void chain_commands(const char *source, const char *function, int line, const char *option, const char *chain,
                    std::span<const chain_part> parts) {
    for (const chain_part &p : parts)
        my_iptables(4, "[%s]%s(),L:%d=> /sbin/iptables -t %s %s %s", source, function, line, p.table, option,
                    arg((std::string(chain) + p.suffix).c_str()).c_str());
}

int capacity(int row, int most) {
    if (row < 0 || row >= 100) return most;
    const int count = std::atoi(std::string(entry_num[row], strnlen(entry_num[row], sizeof entry_num[row])).c_str());
    return count > 0 ? std::min(count, most) : most;
}

bool is_address(const char *text, int family) {
    if (!text) return false;
    unsigned char bytes[16];
    if (family != 6 && inet_pton(AF_INET, text, bytes) == 1) return true;
    return family != 4 && inet_pton(AF_INET6, text, bytes) == 1;
}

namespace {

bool digits_of(const char *text, std::size_t least, std::size_t most, int (*is_digit)(int)) {
    if (!text) return false;
    const std::size_t length = std::strlen(text);
    if (length < least || length > most) return false;
    return std::all_of(text, text + length, [is_digit](char c) { return is_digit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

bool is_identifier(const char *text) { return digits_of(text, 14, 14, isdigit); }

bool is_mark(const char *text) { return digits_of(text, 1, 8, isxdigit); }

bool has_ports(const char *protocol) {
    if (!protocol) return false;
    for (const char *p : {"tcp", "udp", "6", "17"})
        if (same_text(protocol, p)) return true;
    return false;
}

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
