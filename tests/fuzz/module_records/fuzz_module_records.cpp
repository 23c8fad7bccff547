// Configuration module records read from arbitrary lines (a module's parse)
// and from arbitrary "_entry" elements (its xmlEntry, or its xmlParam over a
// request file), then stored as a line and read again: nothing crashes or
// reads past a field, and the second line equals the first.  Each record
// lives in a heap block of exactly its size, so a field overrun is caught.
// Input: a byte choosing the module row, a byte choosing line (even) or
// XML (odd), then the text.  Every module whose records have a line joins
// by a row of kRows.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "system/module.h"
#include "webadmin.h"

namespace {

constexpr std::size_t kNoRefs = static_cast<std::size_t>(-1);
constexpr char kRequest[] = "/var/tmp/fuzz_request.xml";

enum class Xml { none, entry, seeded_entry, request };

struct Row {
    const char *module;       // its name in the module directory, which knows its record's size
    std::size_t refs_fixed;   // offset of the flag that spares the kernel query, or kNoRefs
    Xml xml;
};

// New rows go at the end: a seed's first byte names its row.  (The map
// module has no parse of its own to read a line with.)
const Row kRows[] = {
    {"permit_ip", kNoRefs, Xml::seeded_entry},
    {"mapped_ip", offsetof(mapped_ip_record, refs_fixed), Xml::request},
    {"virtual_ip", offsetof(virtual_ip_record, refs_fixed), Xml::request},
    {"virtual_ip_group", offsetof(virtual_ip_group_record, refs_fixed), Xml::request},
    {"service", offsetof(service_record, refs_fixed), Xml::entry},
    {"interface", kNoRefs, Xml::entry},
    {"multiple subnet", kNoRefs, Xml::entry},
    {"route table", kNoRefs, Xml::entry},
    {"dynamic route", kNoRefs, Xml::none},
    {"virtual_link", kNoRefs, Xml::entry},
    {"address", offsetof(address_record, refs_fixed), Xml::entry},
    {"auth_user", kNoRefs, Xml::entry},
    {"ddns", kNoRefs, Xml::entry},
    {"gre_tunnel", offsetof(gre_tunnel_record, refs_fixed), Xml::none},
    {"vpn_pptp_server", offsetof(vpn_pptp_server_record, refs_fixed), Xml::request},
    {"vpn_pptp_client", offsetof(vpn_pptp_client_record, refs_fixed), Xml::request},
    {"vpn_ipsec_autokey", kNoRefs, Xml::request},
    {"vpn_trunk", kNoRefs, Xml::request},
    {"vpn_trunk_group", kNoRefs, Xml::request},
    {"ap_setting", kNoRefs, Xml::entry},
    {"ap_profile", kNoRefs, Xml::none},
    {"ap_wired", kNoRefs, Xml::none},
    {"upgrade_info", kNoRefs, Xml::none},
};

struct Free {
    void operator()(void *p) const { std::free(p); }
};
using Record = std::unique_ptr<char, Free>;

// A zeroed record of the row, its reference query spared.
Record fresh(const Row &row) {
    const module_entry *entry = module_find(row.module);
    fuzz::require(entry != nullptr, "module not in the directory");
    Record r(static_cast<char *>(std::calloc(1, entry->record_size)));
    fuzz::require(r != nullptr, "no record");
    if (row.refs_fixed != kNoRefs) std::memset(r.get() + row.refs_fixed, 1, 1);
    return r;
}

// The record as the line its table stores (in an empty handle of a file
// that is never there, so nothing is written).
std::string line_of(const module_table &t, const char *rec) {
    record_file *h = module::open_file(183, "fuzz", 0);
    fuzz::require(h && h->count == 0, "no empty handle");
    // The settings module has one line and no add.
    const int stored = t.add ? t.add(h, const_cast<char *>(rec)) : t.modify(h, const_cast<char *>(rec), 1);
    fuzz::require(stored == 0, "line not added");
    std::string line = my_GetNumData(h, 1);
    module::close_file(&h);
    fuzz::require(line.find_first_of("\r\n") == std::string::npos && line.size() <= RECORD_LINE_MAX,
                  "a line that would not read back from a file as one line");
    return line;
}

std::string parsed_line(const Row &row, const module_table &t, const std::string &line) {
    Record r = fresh(row);
    std::string copy = line;
    t.parse(copy.data(), r.get());
    return line_of(t, r.get());
}

// The record filled from one entry; false when the text is no document.
bool from_entry(const Row &row, const module_table &t, const std::string &text, char *rec) {
    const std::string document = "<?xml version=\"1.0\"?><_function value=\"f\"><_entry>" + text + "</_entry></_function>";
    if (row.xml == Xml::request) {
        fuzz::write_file(kRequest, document);
        t.xmlParam(nullptr, rec, kRequest);
        return true;
    }
    xml_node *top = my_mxmlLoadString(nullptr, document.c_str(), nullptr);
    if (!top) return false;
    xml_node *entry = my_mxmlFindElement(top, top, "_entry", nullptr, nullptr, MY_XML_DESCEND);
    if (entry && row.xml == Xml::seeded_entry)
        reinterpret_cast<void *(*)(xml_node *, void *, void *, time_t)>(t.xmlEntry)(entry, rec, nullptr, 1);
    else if (entry)
        reinterpret_cast<void *(*)(xml_node *, void *)>(t.xmlEntry)(entry, rec);
    my_mxmlDelete(top);
    return entry != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const Row &row = kRows[data[0] % (sizeof kRows / sizeof kRows[0])];
    const bool xml = data[1] & 1;
    std::string text(reinterpret_cast<const char *>(data + 2), size - 2);
    text = text.substr(0, text.find('\0'));
    if (xml && row.xml == Xml::none) return 0;

    const module_entry *entry = module_find(row.module);
    fuzz::require(entry != nullptr, "module not in the directory");
    module_table *t = entry->register_fn();
    fuzz::require(t != nullptr, "no table");
    std::string first;
    if (xml) {
        Record r = fresh(row);
        t->set_default(r.get(), nullptr);
        if (from_entry(row, *t, text, r.get())) first = line_of(*t, r.get());
    } else {
        first = parsed_line(row, *t, text);
    }
    if (!first.empty() && parsed_line(row, *t, first) != first)
        fuzz::require(false, (std::string("module \"") + row.module + "\": a record read, written and read again changed").c_str());
    entry->unregister_fn(t);
    fuzz::remove_path("/commands.log");
    return 0;
}
