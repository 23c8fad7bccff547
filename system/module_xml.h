// A module's records as XML, for the configuration export and import: one
// "_function" element per module, one "_entry" per record, one empty
// element per field carrying its value in a "value" attribute.  A module
// writes its fields with xml_entry and reads them back with xml_values; the
// framing around them (which records, in which order, with which checks)
// is here, e.g.
//
//     void rule_entry(module::xml_entry &e, const rule &r) {
//         e.text("name", r.name).number("port", r.port);
//     }
//     void rule_xmlConf(const char *function) {
//         module::export_xml<rule, rule_entry>(kTable, function, MODULE_TAG(kSource));
//     }
//     int rule_import_xmlConf(xml_node *function) {
//         return module::import_list<rule, &rule::chain>(kTable, function, kFile, MODULE_TAG(kSource));
//     }
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "system/module.h"
#include "webadmin.h"

namespace module {

// The "<key value=\"...\" />" elements of one record.  A text is escaped as
// in a line (a backslash and a double quote get a backslash, a line break or
// "<br>" becomes "//n"), then for XML, so that any text leaves a well-formed
// document and reaches the print slot without a placeholder of its own.
class xml_entry {
public:
    // An unset text ("^o^") is written as an empty value when the module
    // says so; a null text is unset.
    xml_entry &text(const char *key, const char *value, bool unset_as_empty = false);
    xml_entry &number(const char *key, int32_t value);
    // An element holding others: "<key>" ... "</key>".
    xml_entry &open(const char *key);
    xml_entry &close(const char *key);
    // The management services of bits (PING 1, HTTP 2, HTTPS 4, TELNET 8,
    // SSH 16) as "<security>" holding one element per service, 0 or 1.
    xml_entry &security(int32_t bits);
    const std::string &str() const { return text_; }

private:
    std::string text_;
};

// The values of one "_entry" element's children, by key.
class xml_values {
public:
    explicit xml_values(xml_node *entry) : entry_(entry) {}
    // The attribute as the XML library decoded it; null when there is no
    // such element or it has no value.
    const char *raw(const char *key) const;
    // The value with the line escapes undone; none when there is none.
    std::optional<std::string> value(const char *key) const {
        const char *text = raw(key);
        if (!text) return std::nullopt;
        return unescape(text);
    }
    // A value as a line reads it back: a backslash keeps the character
    // after it.
    static std::string unescape(const char *value);
    // The values of the key elements inside the container element, in
    // document order, their line escapes undone.
    std::vector<std::string> values_in(const char *container, const char *key) const;
    // The service bits of a "security" element: a service's bit is set
    // when its value is above 0; fallback when the element is missing.
    int32_t security(int32_t fallback) const;

private:
    xml_node *entry_;
};

// The keyed fields of a record that apply to it as its entry's elements, in
// list order; and back from an entry: a field whose element is missing
// keeps its value, an empty one leaves a text unset, and a value the field
// cannot hold is refused (the field keeps its value).  The first field
// refused, or null.
void export_fields(xml_entry &e, const void *rec, field_list list);
const field *read_fields(const xml_values &v, void *rec, field_list list);

// The first value of an entry that its field cannot hold, as the cause of
// a refusal ("KEY must be WHAT"); empty when the description takes every
// value the entry holds.  Keys the description does not name, and fields
// that do not apply to the entry (by the values it gives the fields they
// depend on), are not looked at; of fields sharing a key, each that
// applies must take the value.
std::string refusal(const description &d, xml_node *entry);

// The management services in the order of their bits, as the XML names them.
inline constexpr const char *kServices[] = {"PING", "HTTP", "HTTPS", "TELNET", "SSH"};

// The xmlParam framing: the XML request file at path is loaded, fill is
// called with its values (found at any depth below the document), the tree
// is freed and the file removed, whether or not it could be read.  Whether
// it could.
bool read_request(const char *path, const std::function<void(const xml_values &)> &fill);

// The xmlParam reading of a described record: the request file's values
// into rec through list, all or nothing (a value a field cannot hold
// leaves rec as it was).  Whether rec took them; the file is removed
// either way.
template <typename Record>
bool read_request_fields(const char *path, Record &rec, field_list list) {
    Record r = rec;
    const field *refused = nullptr;
    read_request(path, [&](const xml_values &v) { refused = read_fields(v, &r, list); });
    if (refused) return false;
    rec = r;
    return true;
}

// The same as an xmlParam returns it: rec, or null without one or when a
// value was refused.
template <typename Record>
void *request_fields(const char *path, void *rec, field_list list) {
    return rec && read_request_fields(path, *static_cast<Record *>(rec), list) ? rec : nullptr;
}

// The "_function" element's opening, "<_function value=\"%s\" method=\"add\">"
// (the value escaped for XML), and its closing.
std::string function_open(const char *function_value);
inline constexpr char kFunctionClose[] = "</_function>";

// The "_entry" children of a "_function" element, in document order:
// each one after the previous (null: the first).
xml_node *next_entry(xml_node *function, xml_node *previous);

// Slot types of the XML slots, for calling them through a table.
using xml_entry_fn = void *(*)(xml_node *entry, void *rec);
using xml_entry_seeded_fn = void *(*)(xml_node *entry, void *rec, void *ignored, time_t seed);

// The xmlConf framing: loads the module's texts in the current language
// (the request's, else the appliance's setting RS(13)), opens its file
// read only (with the module's selector) and, when it holds lines, prints
// through the print slot the "_function" element with one "_entry" per
// record; then closes the file.  A module with an empty file prints
// nothing.  The entries are written by entry(xml_entry &, const
// Record &), which may read other modules' records; prepare(Record &)
// readies each record before it is read (e.g. to skip a query its export
// does not need).
template <typename Record, typename Entry, typename Prepare>
void export_records(const module_table &t, const char *function_value, const char *tag, Entry entry,
                    Prepare prepare, void *selector = nullptr) {
    t.language(now_language(RS(13)), nullptr);
    record_file *h = t.open(selector, tag, 0);
    if (!h) return;
    try {
        if (h->count > 0) {
            t.print(function_open(function_value).c_str());
            // Each entry from its own line: a short line leaves the
            // fields it lacks as a fresh record has them.
            for (int k = 1;; ++k) {
                Record r{};
                prepare(r);
                if (!t.getline(h, &r, nullptr, k)) break;
                xml_entry e;
                entry(e, static_cast<const Record &>(r));
                t.print(("<_entry>" + e.str() + "</_entry>").c_str());
            }
            t.print(kFunctionClose);
        }
    } catch (...) {
        // Out of memory: the element stays incomplete, the file untouched.
    }
    t.close(&h);
}

template <typename Record, void (*Entry)(xml_entry &, const Record &)>
void export_xml(const module_table &t, const char *function_value, const char *tag, void *selector = nullptr) {
    export_records<Record>(t, function_value, tag, Entry, [](Record &) {}, selector);
}

// A record's chain identifier is missing when it is empty or unset.
template <std::size_t Size>
bool lacks_chain(const char (&chain)[Size]) {
    return !chain[0] || same_text(chain, kUnset);
}

// The import_xmlConf framing of a list module: the configuration file (its
// number in the record-file list) is replaced by the "_entry" children of
// function in document order, each made by clear, set_default and the
// module's xmlEntry.  An entry without a chain identifier gets one from
// the current time plus its position; an entry whose name is already
// stored is left out, unless the module keeps every entry (Unique false),
// and so is one the module's xmlEntry refuses (returns null).
// A module without chain identifiers passes nullptr.  A module that
// completes an entry from the records already stored (a free mark, say)
// passes Prepare, called as Prepare(handle, record) before the name test.
// 0, or -1 without an element or a handle.
// A module whose xmlEntry takes the seed itself, as (entry, rec, ignored,
// seed), and gives an entry without an identifier my_chainID(seed), passes
// Seeded: it gets the current time plus the entry's position as the seed.
template <typename Record, auto Chain = nullptr, bool Unique = true, auto Prepare = nullptr, bool Seeded = false>
int import_list(const module_table &t, xml_node *function, int file_number, const char *tag) {
    if (!function || !tag) return -1;
    my_RemoveFile(file_number);
    record_file *h = t.open(nullptr, tag, 1);
    if (!h) return -1;
    const auto fill = reinterpret_cast<xml_entry_fn>(t.xmlEntry);
    const time_t now = time(nullptr);
    int position = 0;
    for (xml_node *e = next_entry(function, nullptr); e; e = next_entry(function, e)) {
        ++position;
        Record r;
        t.clear(&r);
        t.set_default(&r, nullptr);
        if constexpr (Seeded) {
            if (!reinterpret_cast<xml_entry_seeded_fn>(t.xmlEntry)(e, &r, nullptr, now + position)) continue;
        } else {
            if (!fill(e, &r)) continue;
            if constexpr (!std::is_null_pointer_v<decltype(Chain)>)
                if (lacks_chain(r.*Chain)) set_text(r.*Chain, my_chainID(now + position));
        }
        if constexpr (!std::is_null_pointer_v<decltype(Prepare)>) Prepare(h, r);
        if (!Unique || t.isTheSame(h, &r, 0) != 1) t.add(h, &r);
    }
    t.close(&h);
    return 0;
}

// The import_xmlConf framing of a module whose records are positions (the
// interface list) or one settings line: the k-th "_entry" replaces line k
// (appended when there is none), or line 1 for every entry when single;
// an entry the module's xmlEntry refuses (null) leaves its line as it was.
// Each record starts from set_default; a module whose record carries its
// own position names that member as Position, which then holds k.  The file
// is opened with the module's selector.  0, or -1 without an element or a
// handle.
template <typename Record, auto Position = nullptr>
int import_positional(const module_table &t, xml_node *function, const char *tag, bool single,
                      void *selector = nullptr) {
    if (!function || !tag) return -1;
    record_file *h = t.open(selector, tag, 1);
    if (!h) return -1;
    const auto fill = reinterpret_cast<xml_entry_fn>(t.xmlEntry);
    int k = 0;
    for (xml_node *e = next_entry(function, nullptr); e; e = next_entry(function, e)) {
        ++k;
        Record r{};
        t.set_default(&r, nullptr);
        if (!fill(e, &r)) continue;
        if constexpr (!std::is_null_pointer_v<decltype(Position)>) r.*Position = k;
        t.modify(h, &r, single ? 1 : k);
    }
    t.close(&h);
    return 0;
}

}  // namespace module
