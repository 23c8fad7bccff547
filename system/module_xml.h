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
#include <string>

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
    // Fills a text field from the value with the line escapes undone; an
    // empty value is unset when the module writes unset texts as empty.  A
    // missing value leaves the field unchanged.
    template <std::size_t Size>
    void text(const char *key, char (&field)[Size], bool empty_is_unset = false) const {
        const char *value = raw(key);
        if (!value) return;
        if (empty_is_unset && !*value) return set_text(field, kUnset);
        set_text(field, unescape(value).c_str());
    }
    // Decimal, clamped to 32 bits; fallback when missing or not a number.
    int32_t integer(const char *key, int32_t fallback) const;
    // The service bits of a "security" element: a service's bit is set
    // when its value is above 0; fallback when the element is missing.
    int32_t security(int32_t fallback) const;

private:
    static std::string unescape(const char *value);
    xml_node *entry_;
};

// The management services in the order of their bits, as the XML names them.
inline constexpr const char *kServices[] = {"PING", "HTTP", "HTTPS", "TELNET", "SSH"};

// The xmlParam framing: the XML request file at path is loaded, fill is
// called with its values (found at any depth below the document), the tree
// is freed and the file removed, whether or not it could be read.  Whether
// it could.
bool read_request(const char *path, const std::function<void(const xml_values &)> &fill);

// The "_function" element's opening, "<_function value=\"%s\" method=\"add\">"
// (the value escaped for XML), and its closing.
std::string function_open(const char *function_value);
inline constexpr char kFunctionClose[] = "</_function>";

// The "_entry" children of a "_function" element, in document order:
// each one after the previous (null: the first).
xml_node *next_entry(xml_node *function, xml_node *previous);

// Slot types of the XML slots, for calling them through a table.
using xml_entry_fn = void *(*)(xml_node *entry, void *rec);

// The xmlConf framing: loads the module's texts in the current language,
// opens its file read only (with the module's selector) and, when it holds
// lines, prints through the print slot the "_function" element with one
// "_entry" per record; then closes the file.  A module with an empty file
// prints nothing.
template <typename Record, void (*Entry)(xml_entry &, const Record &)>
void export_xml(const module_table &t, const char *function_value, const char *tag, void *selector = nullptr) {
    t.language(now_language(nullptr), nullptr);
    record_file *h = t.open(selector, tag, 0);
    if (!h) return;
    try {
        if (h->count > 0) {
            t.print(function_open(function_value).c_str());
            Record r{};
            for (int k = 1; t.getline(h, &r, nullptr, k); ++k) {
                xml_entry e;
                Entry(e, r);
                t.print(("<_entry>" + e.str() + "</_entry>").c_str());
            }
            t.print(kFunctionClose);
        }
    } catch (...) {
        // Out of memory: the element stays incomplete, the file untouched.
    }
    t.close(&h);
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
// stored is left out.  A module without chain identifiers passes nullptr.
// 0, or -1 without an element or a handle.
template <typename Record, auto Chain = nullptr>
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
        fill(e, &r);
        if constexpr (!std::is_null_pointer_v<decltype(Chain)>)
            if (lacks_chain(r.*Chain)) set_text(r.*Chain, my_chainID(now + position));
        if (t.isTheSame(h, &r, 0) != 1) t.add(h, &r);
    }
    t.close(&h);
    return 0;
}

// The import_xmlConf framing of a module whose records are positions (the
// interface list) or one settings line: the k-th "_entry" replaces line k
// (appended when there is none), or line 1 for every entry when single.
// Each record starts from set_default; the file is opened with the
// module's selector.  0, or -1 without an element or a handle.
template <typename Record>
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
        fill(e, &r);
        t.modify(h, &r, single ? 1 : k);
    }
    t.close(&h);
    return 0;
}

}  // namespace module
