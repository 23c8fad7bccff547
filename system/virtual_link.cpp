// The virtual WAN links: additional addresses of WAN ports, each with its
// own gateway, route mark and routing table, used as separate uplinks.  The
// apply and removal sequences are in virtual_link_util.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "system/module_xml.h"

namespace {

using module::holds;
using module::kind;
using module::same_text;
using record = virtual_link_record;

constexpr const char *kSource = "system/virtual_link.c";
constexpr int kFile = 159;
constexpr int kFirstMark = 101;
constexpr const char *kZeroIpv6 = "0000:0000:0000:0000:0000:0000:0000:0000";
constexpr const char *kGroups[] = {"virtual_link"};
using texts = module::texts<kGroups>;

// The XML's order; the form has the prefix and the mark as well.  A mark
// names a routing table, of at most 5 hexadecimal digits.  The bandwidths
// are numbers written into the kernel's route-mark line.
#define WORD(member, what) MODULE_FIELD(record, member, kind::word).is(what)
#define COUNT(member) MODULE_FIELD(record, member, kind::number).is(holds::number, 0, INT32_MAX)
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    WORD(wanport, holds::ifname),
    WORD(ipaddr, holds::ipv4),
    WORD(netmask, holds::mask),
    WORD(defgw, holds::ipv4),
    MODULE_FIELD(record, subnet, kind::none).is(holds::ipv4),
    COUNT(ipv6cmode),
    WORD(ipv6addr, holds::ipv6),
    WORD(ipv6gw, holds::ipv6),
    COUNT(detect_service),
    WORD(detect_ipaddr, holds::ipv4),
    WORD(detect_domain, holds::host),
    COUNT(detect_frequency),
    MODULE_FIELD(record, bandwidth_down_stream, kind::word).is(holds::number, 0, INT32_MAX),
    MODULE_FIELD(record, bandwidth_up_stream, kind::word).is(holds::number, 0, INT32_MAX),
    MODULE_UNKEYED(record, prefix, kind::word).is(holds::prefix).in_form("prefix"),
    MODULE_UNKEYED(record, mark, kind::word).is(holds::mark, 5).in_form("mark"),
});
#undef WORD
#undef COUNT

// The fields of list named by keys (or form names), in that order, at
// compile time.
template <std::size_t N>
consteval std::array<module::field, N> in_order(module::field_list list, const char *const (&keys)[N]) {
    std::array<module::field, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        bool found = false;
        for (const module::field &f : list)
            if (std::string_view(f.key ? f.key : f.form) == keys[i]) out[i] = f, found = true;
        if (!found) throw "no such field";
    }
    return out;
}

// The line's order.
constexpr const char *kLineOrder[] = {
    "wanport", "ipaddr", "netmask", "defgw", "ipv6cmode", "ipv6addr", "prefix", "ipv6gw",
    "detect_service", "detect_ipaddr", "detect_domain", "detect_frequency", "bandwidth_down_stream",
    "bandwidth_up_stream", "mark", "name",
};
constexpr auto kLine = in_order(kFields, kLineOrder);

std::string format_link(const record &r) { return module::format_fields(&r, kLine); }

void *parse_link(char *line, void *rec) {
    module::parse_fields(line, rec, kLine);
    return rec;
}

// The link's defaults; what they do not name (prefix, bandwidths, mark,
// subnet) stays as the cleared record has it.
void *link_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    module::set_text(r.wanport, module::kUnset);
    module::set_text(r.detect_domain, module::kUnset);
    for (char *address : {r.ipaddr, r.netmask, r.defgw, r.detect_ipaddr}) module::set_text(address, 16, "0.0.0.0");
    module::set_text(r.ipv6addr, kZeroIpv6);
    module::set_text(r.ipv6gw, kZeroIpv6);
    r.ipv6cmode = module::form_integer("cmv6", 0);
    return rec;
}

int link_interface_check(record_file *h, const interface_record *iface) {
    if (!iface) return 0;
    return module::uses_interface<record, parse_link, &record::wanport>(h, module::bounded(iface->iname).c_str());
}

int link_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return 0;
    const record &w = *static_cast<const record *>(rec);
    const bool clash = module::any_record<record, parse_link>(h, [&](const record &r, uint32_t line) {
        if (line == static_cast<uint32_t>(n)) return false;
        return same_text(r.name, w.name) || (same_text(r.ipaddr, w.ipaddr) && same_text(r.netmask, w.netmask)) ||
               (w.ipv6cmode && same_text(r.ipv6addr, w.ipv6addr) && same_text(r.prefix, w.prefix));
    });
    return clash ? 1 : 0;
}

void *link_command(record *r) { return virtual_link_initial_system_cmd(r, 0, 1); }

void *link_recommand(record *r, const interface_record *iface) {
    virtual_link_discommand(r, iface);
    return link_command(r);
}

extern const module_table kTable;

// The stored links, each handed to op while op returns false.
template <typename Op>
void each_link(Op op) {
    module::each_record<record>(kTable.name, MODULE_TAG(kSource), [&](const record &r, uint32_t) {
        op(r);
        return false;
    });
}

// The links of a port, taken off and applied again; how many.
int reapply_on(const char *wanport) {
    int count = 0;
    each_link([&](const record &stored) {
        if (!same_text(stored.wanport, wanport)) return;
        record r = stored;
        link_recommand(&r, nullptr);
        ++count;
    });
    return count;
}

int link_restorebyinterface(const void *, const interface_record *iface) {
    return iface ? reapply_on(module::bounded(iface->iname).c_str()) : 0;
}

// A link needs its mark: it names the link's table and chains.
void *link_cgiParam(record *rec) {
    if (!rec) return rec;
    record r = *rec;
    if (module::form_fields(&r, kFields) || !module::is_set(r.mark)) return nullptr;
    *rec = r;
    return rec;
}

void link_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

void link_xmlConf(const char *function) {
    module::export_xml<record, link_entry>(kTable, function, MODULE_TAG(kSource));
}

void *link_xmlEntry(xml_node *node, void *rec) {
    if (!node || !rec) return rec;
    return module::read_fields(module::xml_values(node), rec, kFields) ? nullptr : rec;
}

// The export has no marks: an imported link gets the lowest decimal-looking
// mark from 101 on that no link stored before it holds.
void choose_mark(record_file *h, record &r) {
    for (int candidate = kFirstMark;; ++candidate) {
        const std::string mark = std::to_string(candidate);
        const bool taken = module::any_record<record, parse_link>(
            h, [&](const record &stored, uint32_t) { return mark == stored.mark; });
        if (!taken) return module::set_text(r.mark, mark.c_str());
    }
}

int link_import_xmlConf(xml_node *function) {
    return module::import_list<record, nullptr, true, choose_mark>(kTable, function, kFile, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "virtual_link",
    .clear = module::clear<record>,
    .add = module::add<record, format_link>,
    .remove = module::remove,
    .modify = module::modify<record, format_link>,
    .interface_check = module::op(link_interface_check),
    .isTheSame = link_isTheSame,
    .set_default = link_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<parse_link>,
    .getnum = module::getnum<parse_link>,
    .parse = parse_link,
    .close = module::close_file,
    .command = module::op(link_command),
    .discommand = module::op(virtual_link_discommand),
    .recommand = module::op(link_recommand),
    .restorebyinterface = module::op(link_restorebyinterface),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(link_cgiParam),
    .initial_system_cmd = module::op(virtual_link_initial_system_cmd),
    .xmlConf = module::op(link_xmlConf),
    .xmlEntry = module::op(link_xmlEntry),
    .import_xmlConf = module::op(link_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::virtual_link{"virtual_link", kFields};

extern "C" {

module_table *virtual_link_register(void) { return module::register_table(kTable); }
void virtual_link_unregister(module_table *table) { module::unregister_table(table); }

// A port joined to a bond carries its links on the bond master's device,
// which the bond's set-up has just made again.
int virtual_link_restorebyinterface4bonding(const interface_record *iface) {
    if (!iface || iface->ibond < 1) return 0;
    const interface_record *master = interface_read_shm(iface->ibond);
    return master ? reapply_on(module::bounded(master->iname).c_str()) : 0;
}

int return_vlink_mark(const char *wanport, char *out, size_t size) {
    if (!wanport || !out || size == 0) return 0;
    out[0] = '\0';
    int count = 0;
    std::size_t used = 0;
    each_link([&](const record &r) {
        if (!same_text(r.wanport, wanport)) return;
        const std::size_t need = std::strlen(r.mark) + (count ? 1 : 0);
        if (used + need >= size) return;
        std::snprintf(out + used, size - used, "%s%s", count ? " " : "", r.mark);
        used += need;
        ++count;
    });
    return count;
}

}  // extern "C"
