// What every configuration module shares: registration, the opener tag,
// the open/getline/getnum/close pattern over its configuration record file,
// the line edits, the record and line conventions, and the isTheSame and
// interface_check walks.  A module is one file that defines its record, the
// functions that turn it into a line and back, and a static const
// module_table filled with designated initializers, most slots taken from
// here, e.g.
//
//     .add = module::add<rule, format_rule>,
//     .open = module::open<14>,
//     .getline = module::getline<parse_rule>,
//     .close = module::close_file,
//
// No slot function throws: failures are -1, 0 or null as the slots
// document.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <type_traits>

#include "webadmin.h"

namespace module {

// The stored form of an unset text field (a name, an interface, a password):
// blank-separated lines never lose a field.
inline constexpr char kUnset[] = "^o^";

// ---- Registration ---------------------------------------------------------

// A new heap copy of a module's table for its register function; null when
// memory runs out.  Each call gives an independent table.
module_table *register_table(const module_table &table);
// Releases a table from register_table; null is ignored.  The caller has
// closed the handle first.
void unregister_table(module_table *table);

// A module-specific operation in one of the table's generic slots; callers
// cast it back to the module's documented type.
template <typename Fn>
module_op op(Fn *fn) {
    return reinterpret_cast<module_op>(fn);
}

// Another module's table, found by its name string in the module directory,
// for the life of the object; a handle opened through it is closed first.
// The table is null when the library has no such module or memory runs out.
class registered {
public:
    explicit registered(const char *name);
    ~registered();
    registered(const registered &) = delete;
    registered &operator=(const registered &) = delete;
    module_table *operator->() const { return table_; }
    module_table *get() const { return table_; }
    explicit operator bool() const { return table_ != nullptr; }
    // The module's file opened with open(selector, tag, mode); the handle is
    // kept in the table's handle word.  Null without a table.
    record_file *open(const char *tag, int mode, void *selector = nullptr);
    record_file *handle() const { return table_ ? static_cast<record_file *>(table_->handle) : nullptr; }
    // walk_file over the module's file; -1 without a table.
    int each(const char *tag, const std::function<void(void *rec, int line)> &visit);

private:
    const module_entry *entry_;
    module_table *table_;
};

// A record that a walk reads for anything but its chain's reference count:
// parsing it asks the kernel nothing (a record without one is left as it is).
template <typename Record>
void spare_references(Record &r) {
    if constexpr (requires { r.refs_fixed; }) r.refs_fixed = 1;
}

// Calls visit(record, line number) on each record of the module named
// name, its file opened read only with selector, each parsed into a fresh
// zeroed Record (spare_references), until visit returns true; whether it did.
template <typename Record, typename Visit>
bool each_record(const char *name, const char *tag, Visit visit, void *selector = nullptr) {
    registered t(name);
    record_file *h = t.open(tag, 0, selector);
    if (!h) return false;
    for (int k = 1;; ++k) {
        Record r{};
        spare_references(r);
        uint32_t line = 0;
        if (!t->getline(h, &r, &line, k)) return false;
        if (visit(r, line)) return true;
    }
}

// ---- Opening ------------------------------------------------------------

// The text by which an opener names itself to the record-file layer,
// "pid:%d,%s:%s():%d" with this process, the source name (such as
// "system/ap_setting.c"), the function and the line; an M() buffer.
char *opener_tag(const char *source, const char *function, int line);
#define MODULE_TAG(source) module::opener_tag((source), __func__, __LINE__)

// The handle of file number for mode (0 read only, 1 written back on close);
// null for a null tag, an empty handle when the file does not exist.
record_file *open_file(int number, const char *tag, int mode);

// The open slot of a module with one file.
template <int Number>
record_file *open(void *, const char *tag, int mode) {
    return open_file(Number, tag, mode);
}

// Whether the setup wizard's copy of a module's file is meant: the form value
// "wizard" (default "No") is "No" exactly when the selector is nonzero.
bool wizard_file(const void *selector);
// The open slot of a module whose setup wizard keeps its own copy.
template <int Normal, int Wizard>
record_file *open_wizard(void *selector, const char *tag, int mode) {
    return open_file(wizard_file(selector) ? Wizard : Normal, tag, mode);
}

// ---- Reading --------------------------------------------------------------

// A module's parse slot: one line (a private copy it may cut up) into rec.
using parse_fn = void *(*)(char *line, void *rec);

// The next line (k = 1: the first one) parsed into rec, its number into
// *line when line is given; 1, or 0 at the end with rec untouched.
int read_next(record_file *h, void *rec, uint32_t *line, int k, parse_fn parse);
// Line number n parsed into rec; rec, or null when there is no line n.
void *read_number(record_file *h, void *rec, int n, parse_fn parse);

template <parse_fn Parse>
int getline(record_file *h, void *rec, uint32_t *line, int k) {
    return read_next(h, rec, line, k, Parse);
}

template <parse_fn Parse>
void *getnum(record_file *h, void *rec, int n) {
    return read_number(h, rec, n, Parse);
}

// Closes the handle in *h (a mode 1 handle is written back and mirrored to
// flash) and clears the caller's handle word.
void close_file(record_file **h);

// ---- Editing ------------------------------------------------------------

// The largest record of any module: a caller that walks another module's
// records without knowing their type reads them into a record_buffer.  Every
// module whose clear slot is clear<Record> is checked against it.
inline constexpr std::size_t kRecordMax = 16384;
struct record_buffer {
    alignas(std::max_align_t) unsigned char bytes[kRecordMax];
};

// The untyped walk, for callers that know a module by its table only: opens
// the file of the table that selector chooses, read only, and calls
// visit(record, line number) on each record in file order, each read into a
// zeroed record_buffer, so a short line leaves nothing of the one before;
// then closes it.  The number of records, or -1 without a handle or memory.
int walk_file(module_table *table, void *selector, const char *tag,
              const std::function<void(void *rec, int line)> &visit);

// walk_file over every file the selectors choose, each opened with tag;
// how many records were visited (a file that cannot be opened has none).
int walk_files(module_table *table, std::initializer_list<std::intptr_t> selectors, const char *tag,
               const std::function<void(void *rec, int line)> &visit);

// The boot-time apply of a module: initial_system_cmd(record, line, 1) on
// every record of the files the selectors choose, opened with tag; how many
// were applied.
int boot_records(module_table *table, const char *tag, std::initializer_list<std::intptr_t> selectors = {0});

// The clear slot: the whole record set to zero bytes.
template <typename Record>
void *clear(void *rec) {
    static_assert(std::is_trivially_copyable_v<Record>, "records are flat structures");
    static_assert(sizeof(Record) <= kRecordMax, "a record fits in a record_buffer");
    if (rec) std::memset(rec, 0, sizeof(Record));
    return rec;
}

// Formats rec with the module's line function and stores it as a new last
// line (add) or as line n, appended when there is none (modify); 0, or -1
// when the line cannot be built or stored.
template <typename Record, std::string (*Format)(const Record &)>
int add(record_file *h, void *rec) {
    if (!h || !rec) return -1;
    try {
        return my_AddLine(h, Format(*static_cast<const Record *>(rec)).c_str());
    } catch (...) {
        return -1;
    }
}

template <typename Record, std::string (*Format)(const Record &)>
int modify(record_file *h, void *rec, int n) {
    if (!h || !rec || n < 1) return -1;
    try {
        return my_ReplaceLine(h, static_cast<uint32_t>(n), Format(*static_cast<const Record *>(rec)).c_str());
    } catch (...) {
        return -1;
    }
}

// Deletes line n; 0, or -1 when there is none.
int remove(record_file *h, int n);
// Moves the line at from to to; h, or null (nothing moved) when from equals
// to or either is not a position among the lines.
record_file *shift(record_file *h, int from, int to);

// ---- Record and line conventions ----------------------------------------

// A text field of capacity N (an array of N + 1) takes at most N characters
// and is always terminated; a missing value leaves it unset ("^o^").  A
// line break (carriage return, line feed or both) is kept as the "//n" a
// line writes for it, so that a record reads back from its line the same,
// also when the text fills the field.
// The same for a field known by its address and size (a table of fields).
inline void set_text(char *field, std::size_t size, const char *value) {
    if (!field || size == 0) return;
    if (!value) value = kUnset;
    std::size_t i = 0;
    for (const char *p = value; *p && i + 1 < size; ++p) {
        if (*p != '\r' && *p != '\n') {
            field[i++] = *p;
            continue;
        }
        if (p[0] == '\r' && p[1] == '\n') ++p;
        for (const char *c = "//n"; *c && i + 1 < size; ++c) field[i++] = *c;
    }
    field[i] = '\0';
}
template <std::size_t Size>
void set_text(char (&field)[Size], const char *value) {
    static_assert(Size >= sizeof kUnset, "a text field holds at least the unset mark");
    set_text(field, Size, value);
}
// A text given empty (a blank form field, an XML value "") is no text:
// def takes its place, as for a text not given at all.
inline const char *given_or(const char *value, const char *def) { return value && *value ? value : def; }

// A decimal read from a line or a document, clamped to 32 bits.
inline int32_t clamped(long long number) {
    return number > INT32_MAX ? INT32_MAX : number < INT32_MIN ? INT32_MIN : static_cast<int32_t>(number);
}

// A free text as a line writes it between double quotes: a backslash and a
// double quote are escaped with a backslash (string_parse reads them back),
// a carriage return, a line feed or "<br>" become "//n".  A null text is
// unset.  Throws std::bad_alloc when memory runs out.
std::string escaped_name(const char *text);

// One record's line: each field followed by one blank, so the line ends
// with a blank.  Builders throw std::bad_alloc when memory runs out; add
// and modify turn that into -1.
class line {
public:
    // A free text that may hold blanks, in double quotes, escaped_name.
    line &name(const char *text);
    // A word (address, interface, "^o^") written bare; one that would not
    // read back as one field (empty, holding blanks, quotes or line breaks)
    // is written as a name instead.  A null text, here and in name(), is
    // written as unset.
    line &text(const char *text);
    line &number(int32_t value);         // "%d "
    line &quoted_number(int32_t value);  // "\"%d\" "
    const std::string &str() const { return text_; }

private:
    std::string text_;
};

// The fields of one line, split in place with string_parse (blanks or tabs
// between fields, double quotes around a field that holds blanks).  Fields
// past the record's last are ignored; a field the line lacks is 0 for an
// integer and leaves a text unchanged.
class fields {
public:
    static constexpr int kMax = 128;
    explicit fields(char *line);
    int count() const { return count_; }
    const char *operator[](int i) const { return i >= 0 && i < count_ ? tokens_[i] : nullptr; }
    int32_t integer(int i) const;  // decimal, clamped to 32 bits; 0 when missing or not a number
    template <std::size_t Size>
    void text(int i, char (&field)[Size]) const {
        if (const char *value = (*this)[i]) set_text(field, value);
    }

private:
    char *tokens_[kMax];
    int count_ = 0;
};

// ---- Records described field by field ---------------------------------------

// How a field is written in its line: a free text in double quotes
// (line::name), a word (line::text), a decimal, or a decimal in quotes;
// none: the field is not in the line (a value only the form or XML carry).
enum class kind { name, word, number, quoted_number, none };

// What a field may hold.  A value from a form, an XML entry or an imported
// document that is no such value is refused: the field keeps its default,
// or what it held.  The unset text "^o^" and a missing or empty value are
// never refused; they leave a text unset and a number unchanged.
enum class holds : uint8_t {
    undeclared,  // no field is left so: describe() refuses to compile it
    number,      // a decimal from low to high
    choice,      // one of names: a number holds the index (given as it or as the name), a text the name
    ipv4,        // a dotted IPv4 address
    mask,        // a dotted IPv4 mask: ones, then zeros
    ipv6,        // an IPv6 address
    address,     // an IPv4 or an IPv6 address
    addresses,   // dotted IPv4 addresses joined by ','
    prefix,      // an IPv6 prefix length, 0 to 128
    mac,         // six pairs of hexadecimal digits joined by ':'
    ifname,      // 1 to 15 letters, digits, '.', '_', '-', not beginning with '-'
    port,        // a TCP or UDP port, 1 to 65535
    port_range,  // a port, or two joined by ':' with the first not above the second
    mark,        // 1 to high hexadecimal digits
    identifier,  // 14 digits as my_chainID makes them; with high, 1 to high letters and digits
    word,        // 1 to high of letters, digits and ".:_/-", not beginning with '-'
    host,        // a host name or an address: letters, digits and ".-_:"
    label,       // a user name, an IKE identity or a file's name: 1 to high letters, digits and
                 // "._-@", beginning with none of ".-": it stands bare in a daemon's file (where a
                 // leading '#' would make a comment), as a file name and on a command line
    text,        // free text without control characters, cut at the capacity
    secret,      // text without '"', '\' or control characters, cut at the capacity
    decimal,     // a decimal number, a fraction allowed ("-25.033"), within the capacity
    chain,       // an object's chain: one of names, '_' and an identifier of 14 digits
    mask_or_prefix,  // a dotted IPv4 mask, or a prefix length from 0 to 128
    protocol,    // a protocol by its name (tcp, udp, icmp, all) or its number, 0 to 255
    flags,       // 1 to high characters, each '0' or '1'
};

// One field of a record: its XML key and form name, how its line writes it,
// where it lives, its default and what it may hold.  A module lists its
// fields once, in line order, and builds its line, parse, form and XML
// slots on the list; the configuration import checks documents by it, e.g.
//
//     constexpr module::field kFields[] = {
//         MODULE_FIELD(rule, name, kind::name).is(holds::text),
//         MODULE_UNKEYED(rule, id, kind::word).is(holds::identifier, 14),
//         MODULE_FIELD(rule, port, kind::number).is(holds::number, 0, 65535),
//         MODULE_FIELD(rule, ipaddr, kind::word).is(holds::ipv4).or_default("0.0.0.0"),
//     };
struct field {
    const char *key;            // the XML key and the form's name; null: neither
    kind how;
    std::size_t offset;
    std::size_t size;           // the array size of a text
    const char *def = nullptr;  // the default, a text or a decimal; null: none
    holds what = holds::undeclared;
    int32_t low = 0, high = 0;  // a number's range; most characters of a mark, identifier or word
    const char *form = nullptr;  // the form's name where it is not key; "" none
    std::span<const char *const> names{};  // a choice's values, or values taken besides the kind's
    bool ports = false;          // a number from low to the product's port count
    bool exported = true;        // written by the XML export (else only read)
    bool unset_empty = false;    // an unset text is exported as an empty value
    // A field that applies only while another field, a number listed before
    // it, holds one of some values (0 to 31): the key of that field and a
    // bit for each value.  Null: the field always applies.
    const char *when = nullptr;
    uint32_t when_values = 0;

    bool is_number() const { return how == kind::number || how == kind::quoted_number; }
    // The name the form gives the field; null when the form does not.
    const char *form_name() const { return form ? (*form ? form : nullptr) : key; }
    // Whether the field applies while the field it depends on holds value.
    bool applies_with(int32_t value) const {
        return !when || (value >= 0 && value < 32 && (when_values >> value & 1u));
    }

    constexpr field is(holds w, int32_t a = 0, int32_t b = 0) const {
        field f = *this;
        f.what = w;
        f.low = w == holds::number ? a : 0;
        f.high = w == holds::number ? b : a;
        return f;
    }
    constexpr field or_default(const char *value) const {
        field f = *this;
        f.def = value;
        return f;
    }
    constexpr field in_form(const char *name) const {
        field f = *this;
        f.form = name;
        return f;
    }
    // A choice; a number takes the index or the name and holds the index.
    constexpr field one_of(std::span<const char *const> values) const {
        field f = is(holds::choice);
        f.names = values;
        return f;
    }
    // Takes each of values as well as what it holds (a marker such as
    // "<custom>").
    constexpr field or_one_of(std::span<const char *const> values) const {
        field f = *this;
        f.names = values;
        return f;
    }
    // The chain of an object of one of the kinds whose chain prefixes these
    // are (e.g. "svc", "svcgroup").
    constexpr field chain_of(std::span<const char *const> prefixes) const {
        field f = is(holds::chain);
        f.names = prefixes;
        return f;
    }
    // Read from a document but not written to one.
    constexpr field imported_only() const {
        field f = *this;
        f.exported = false;
        return f;
    }
    // An unset text ("^o^") exported as an empty value.
    constexpr field unset_as_empty() const {
        field f = *this;
        f.unset_empty = true;
        return f;
    }
    // A port of the appliance: low (1, or 0 for none) to SYSTEM_PORT_NUM.
    constexpr field port_number(int32_t low = 1) const {
        field f = is(holds::number, low, low);
        f.ports = true;
        return f;
    }
    // Applies only while the field keyed key holds one of values, e.g. the
    // part of an interface that its address mode uses.  The line carries it
    // and the readers fill it only then.
    constexpr field only_when(const char *key, std::initializer_list<int> values) const {
        field f = *this;
        f.when = key;
        f.when_values = 0;
        for (int v : values) {
            if (v < 0 || v > 31) throw "a field applies for values from 0 to 31";
            f.when_values |= 1u << v;
        }
        return f;
    }
};
#define MODULE_FIELD(Record, member, how) module::field{#member, (how), offsetof(Record, member), sizeof(Record::member)}
// A field with a default (a text, or a decimal written as one).
#define MODULE_FIELD_OR(Record, member, how, def) MODULE_FIELD(Record, member, how).or_default(def)
#define MODULE_KEYED(Record, member, key, how) \
    module::field{(key), (how), offsetof(Record, member), sizeof(Record::member)}
#define MODULE_UNKEYED(Record, member, how) \
    module::field{nullptr, (how), offsetof(Record, member), sizeof(Record::member)}
// Element i of an array of texts (a group's members), keyed key followed by i.
#define MODULE_ELEMENT(Record, array, key, i, how) \
    module::field{key #i, (how), offsetof(Record, array) + (i) * sizeof(Record::array[0]), sizeof(Record::array[0])}
using field_list = std::span<const field>;

// A module's fields as the compiler has checked them: every one says what
// it may hold.
template <std::size_t N>
consteval std::array<field, N> describe(const field (&fields)[N]) {
    std::array<field, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].what == holds::undeclared) throw "a field does not say what it may hold";
        out[i] = fields[i];
    }
    return out;
}

// Texts made of a prefix and a number, counting from first: the keys and
// form names of an array's elements ("member_0" ..., "vip1" ...).
template <std::size_t N>
struct numbered {
    char text[N][24] = {};
    consteval numbered(const char *prefix, int first) {
        for (std::size_t i = 0; i < N; ++i) {
            std::size_t at = 0;
            for (const char *p = prefix; *p; ++p) text[i][at++] = *p;
            char digits[12] = {};
            int n = first + static_cast<int>(i), count = 0;
            do digits[count++] = static_cast<char>('0' + n % 10);
            while ((n /= 10) > 0);
            while (count > 0) text[i][at++] = digits[--count];
            if (at >= sizeof text[i]) throw "a numbered text is too long";
        }
    }
};

// Each element's field of an array of N texts (a group's members), or of
// a text in an array of N structures stride bytes apart, like first, the
// field of element 0, in the element's place: keyed by keys (elements past
// them unkeyed) and named in the form by forms (without forms: as keyed).
template <std::size_t N, std::size_t K, std::size_t F = N>
consteval std::array<field, N> elements(field first, const numbered<K> &keys, const numbered<F> *forms = nullptr,
                                        std::size_t stride = 0) {
    std::array<field, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = first;
        out[i].offset = first.offset + i * (stride ? stride : first.size);
        out[i].key = i < K ? keys.text[i] : nullptr;
        if (forms) out[i].form = i < F ? forms->text[i] : "";
    }
    return out;
}

// A description whose fields are listed, then those of arrays' elements.
template <std::size_t N, std::size_t M, std::size_t... More>
consteval std::array<field, N + (M + ... + More)> describe(const field (&fields)[N],
                                                          const std::array<field, M> &elements,
                                                          const std::array<field, More> &...more) {
    std::array<field, N + (M + ... + More)> out{};
    std::size_t at = 0;
    const auto append = [&](const auto &part) {
        for (const field &f : part) {
            if (f.what == holds::undeclared) throw "a field does not say what it may hold";
            out[at++] = f;
        }
    };
    append(fields);
    append(elements);
    (append(more), ...);
    return out;
}

// The keys of a group's members in documents, "member_0" ...
inline constexpr numbered<16> kMemberKeys{"member_", 0};

inline char *text_in(void *rec, const field &f) { return static_cast<char *>(rec) + f.offset; }
inline const char *text_in(const void *rec, const field &f) { return static_cast<const char *>(rec) + f.offset; }
inline int32_t &number_in(void *rec, const field &f) {
    return *reinterpret_cast<int32_t *>(static_cast<char *>(rec) + f.offset);
}
inline int32_t number_in(const void *rec, const field &f) {
    return *reinterpret_cast<const int32_t *>(static_cast<const char *>(rec) + f.offset);
}
// The field of list with that key; null when there is none.
const field *field_named(field_list list, const char *key);
// Whether the field applies to the record: it depends on no other field, or
// that field of list holds one of its values.  The readers, the line and
// the export below pass over a field that does not.
bool applies(const void *rec, const field &f, field_list list);

// Whether value may be stored in the field: what it holds, and for a text
// that a line, a rule or a secrets file takes it whole.  Null, empty and
// "^o^" are missing values, which every field takes.
bool accepts(const field &f, const char *value);
// Whether the texts of rec's fields named by keys (in list; a field the
// XML lacks by its form name) hold what they may: a line edited by hand
// that does not is left out of a daemon's file or a kernel's line.
bool holds_values(const void *rec, field_list list, std::initializer_list<const char *> keys);
// A value that leaves a field as it would be without one: null, empty or
// unset.
bool missing(const char *value);
// A number field's value from a text: a choice's name is its index, else
// the decimal, clamped to 32 bits.
int32_t number_of(const field &f, const char *value);
// What the field may hold, in words ("an IPv4 address", "a number from 0
// to 31"), for the cause of a refusal.
std::string holding(const field &f);

// The texts of an array that a line did not fill (it may list fewer
// elements than the record holds) made unset.
template <std::size_t N, std::size_t Size>
void unset_empty(char (&texts)[N][Size]) {
    for (auto &text : texts)
        if (!text[0]) set_text(text, kUnset);
}

// The fields' defaults, for the fields that have one.
void default_fields(void *rec, field_list list);
// The record's line with the fields of list in order.  Throws
// std::bad_alloc when memory runs out.
std::string format_fields(const void *rec, field_list list);
// The fields of a line into rec, in list order; a field the line lacks
// keeps its value, except a number without a default, which is 0.
void parse_fields(char *line, void *rec, field_list list);
// A form's or a document's value into the field.  A missing, empty or
// unset value leaves a text unset and a number unchanged, or either at its
// default; a value the field cannot hold is refused and leaves the field at
// its default, or as it was.  Whether the value was taken.
bool take(void *rec, const field &f, const char *value);
// The fields the form names, into rec, each as take() does (a field the
// form lacks is missing).  The first field refused, or null.
const field *form_fields(void *rec, field_list list);
// Whether every field the line carries holds a value it may hold, a text
// one that is set: a record read from a file (which may have been edited
// by hand) before its values reach a command.
bool well_formed(const void *rec, field_list list);

// A module's record as its description tells it, for the configuration
// import and for whoever checks values before they reach a module.
struct description {
    const char *module;  // the module's name string
    field_list fields;
};
// The description of the module with that name string; null for a module
// whose records no form or document fills.
const description *described(const char *module);

// The descriptions, each defined in its module's file.
namespace descriptions {
extern const description vpn_trunk;
extern const description vpn_ipsec_autokey;
extern const description vpn_pptp_server;
extern const description vpn_pptp_client;
extern const description gre_tunnel;
extern const description auth_user;
extern const description ddns;
extern const description virtual_link;
extern const description ap_setting;
extern const description ap_host;
extern const description ap_profile;
extern const description ap_wired;
extern const description ap_emap;
extern const description interface;
extern const description route_table;
extern const description multiple_subnet;
extern const description dynamic_route;
extern const description permit_ip;
extern const description mapped_ip;
extern const description virtual_ip;
extern const description virtual_ip_group;
extern const description service;
extern const description address;
extern const description vpn_trunk_group;
}  // namespace descriptions

// ---- Chains, rules and command lines ------------------------------------

// A chain's name: the module's prefix, "_" and the record's identifier.
template <std::size_t Size>
void set_chain(char (&chain)[Size], const char *prefix, const char *id) {
    std::snprintf(chain, Size, "%s_%s", prefix, id ? id : "");
}

// The sum of the kernel's reference counts of the nat chains named chain
// followed by each suffix (none: chain itself).
unsigned int nat_references(const char *chain, std::initializer_list<const char *> suffixes = {""});

// A record that owns nat chains: its chain follows its identifier, and
// the kernel's count of the rules that jump to the chains (the chain
// followed by each suffix; none: the chain itself) follows the chain
// unless the reader set refs_fixed (it does not need the count).
template <typename Record>
void follow_identifier(Record &r, const char *prefix, std::initializer_list<const char *> suffixes = {""}) {
    set_chain(r.chain, prefix, r.id);
    if (!r.refs_fixed) r.refs = static_cast<int32_t>(nat_references(r.chain, suffixes));
}

// A record's text as one word of a command line: itself when it is a plain
// word (an address, an interface, a number), else quoted for the shell, so
// a value never yields a second command.  The temporary lives until the end
// of the call it is written in.
std::string arg(const char *value);

// Whether arg() leaves the text as it stands: a word that may also stand
// inside double quotes or a file name without changing meaning.
bool plain_word(const char *value);

// Whether a record text holds a value: not null, empty, unset or 0.0.0.0.
bool is_set(const char *text);

// Whether a text holds a control character (a line break, a tab ...).
bool has_control(const char *text);
// Whether a text is a decimal number, a fraction allowed ("-12", "25.5").
bool is_decimal(const char *text);

// Whether a text may stand between double quotes in a daemon's file (a
// password, a key): no '"', backslash or control character, which would end the
// quotes or the line.  What holds::secret fields hold.
bool is_secret(const char *text);

// Whether a record text may name a file of a directory: a plain word
// without '/' that does not begin with '.'.
bool is_file_name(const char *text);

// One firewall command per part of a record's chains, in the order given:
// "/sbin/iptables -t TABLE OPTION CHAIN+SUFFIX" (option "-N", "-F", "-X").
struct chain_part {
    const char *table;
    const char *suffix;
};
void chain_commands(const char *source, const char *function, int line, const char *option, const char *chain,
                    std::span<const chain_part> parts);
#define MODULE_CHAINS(source, option, chain, parts) \
    module::chain_commands((source), __func__, __LINE__, (option), (chain), (parts))

}  // namespace module

// A firewall rule of a module through the firewall command queue, with the
// diagnostic prefix "[file]function(),L:line=> " that the queue drops.
#define MODULE_RULE(family, source, format, ...) \
    my_iptables((family), "[%s]%s(),L:%d=> " format, (source), __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace module {

// ---- Checked input ----------------------------------------------------------

// What a form or XML value must look like to be taken into a field that
// reaches command lines as a word; a value that does not is refused (taken
// as missing).  A null text passes none of them.
bool is_ipv4(const char *text);    // dotted IPv4 address or mask
bool is_ipv6(const char *text);
bool is_ifname(const char *text);  // 1 to 15 letters, digits, '.', '_', '-'; not beginning with '-'
bool is_mac(const char *text);     // six pairs of hexadecimal digits joined by ':'
bool is_digits(const char *text);  // one or more decimal digits
// An address field that holds an address: valid and not "0.0.0.0".
bool has_ipv4(const char *text);
// An IPv6 field that holds an address: valid and not all zero.
bool has_ipv6(const char *text);

// ---- Capacities and validated values -----------------------------------------

// The count in row of the capacity table entry_num (the most records of a
// kind the product takes), at most most; most when the row is unset.
int capacity(int row, int most);

// Whether text is an address: IPv4 in dotted form (family 4), IPv6 (6), or
// either (0).  Values that reach rules as addresses are held to this, so a
// text that is no address never gets there from a form or a document.
bool is_address(const char *text, int family = 4);
// A record identifier as my_chainID makes it: 14 digits.
bool is_identifier(const char *text);
// A mark as id2mark makes it: 1 to 8 hexadecimal digits.
bool is_mark(const char *text);

// ---- Shared records and service objects ---------------------------------------

// A fixed-capacity text of a shared record (it may lack its terminator) as
// a string, e.g. an interface record's iname.
template <std::size_t Size>
std::string bounded(const char (&text)[Size]) {
    return std::string(text, strnlen(text, Size));
}

// Whether a service's protocol (a name or a number) carries ports: TCP and
// UDP.
bool has_ports(const char *protocol);

// ---- Form input -------------------------------------------------------------

// A decimal form value, clamped to 32 bits; def when absent or not a number.
int32_t form_integer(const char *name, int32_t def = 0);

// ---- Language strings -----------------------------------------------------

// Writes text to standard output with its language placeholders replaced
// through table, or unchanged without one; 0 for a null text.
int print_through(q_entry *table, const char *text);

// The language and print slots of a module whose language files are the
// groups named in Groups (an array of texts).  language loads them into the
// caller's table when it is non-empty, else into the module's own, and makes
// that table the one print uses.
template <const auto &Groups>
struct texts {
    static q_entry *language(const char *code, q_entry **table) {
        chosen() = table && *table ? table : &own();
        for (const char *group : Groups) load_my_language(code, group, chosen());
        return *chosen();
    }
    static int print(const char *text) { return print_through(table(), text); }
    // The table print uses; null before language.
    static q_entry *table() { return chosen() ? *chosen() : nullptr; }

private:
    static q_entry *&own() {
        static q_entry *table = nullptr;
        return table;
    }
    static q_entry **&chosen() {
        static q_entry **table = nullptr;
        return table;
    }
};

// ---- Walks over the records ---------------------------------------------

// Parses a private copy of text into rec; false when memory runs out.
bool parse_copy(const char *text, void *rec, parse_fn parse);

// Calls visit(record, line number) on each line from line 1 parsed into a
// fresh zeroed record (spare_references), until visit returns true; whether
// it did.  The handle's cursor is left where it was, so a getline walk may
// call it.
template <typename Record, parse_fn Parse, typename Visit>
bool any_record(const record_file *h, Visit visit) {
    for (const record_line *l = h->lines; l; l = l->next) {
        Record r{};
        spare_references(r);
        if (parse_copy(l->text, &r, Parse) && visit(static_cast<const Record &>(r), l->number)) return true;
    }
    return false;
}

inline bool same_text(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

// isTheSame: 1 when a record other than the one being edited carries rec's
// Name (a member such as &rule::name); 0 when none; -1 without h or rec.
// The record being edited is the one at line n with rec's Chain identifier;
// a module without chain identifiers passes nullptr and line n alone is it.
template <typename Record, parse_fn Parse, auto Name, auto Chain>
int isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    const Record &wanted = *static_cast<const Record *>(rec);
    bool clash = any_record<Record, Parse>(h, [&](const Record &r, uint32_t number) {
        bool itself = n > 0 && number == static_cast<uint32_t>(n);
        if constexpr (!std::is_null_pointer_v<decltype(Chain)>) itself = itself && same_text(r.*Chain, wanted.*Chain);
        return !itself && same_text(r.*Name, wanted.*Name);
    });
    return clash ? 1 : 0;
}

// The walk of interface_check: 1 when some record's Field (or Field2, for
// records with two interfaces) is the interface ifname; else 0.
template <typename Record, parse_fn Parse, auto Field, auto Field2 = nullptr>
int uses_interface(record_file *h, const char *ifname) {
    if (!h || !ifname) return 0;
    bool used = any_record<Record, Parse>(h, [&](const Record &r, uint32_t) {
        if constexpr (!std::is_null_pointer_v<decltype(Field2)>)
            if (same_text(r.*Field2, ifname)) return true;
        return same_text(r.*Field, ifname);
    });
    return used ? 1 : 0;
}

}  // namespace module
