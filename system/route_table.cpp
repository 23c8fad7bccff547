// The static routes: one route per line, added to routing table 20 on the
// device that really carries the route's interface (a VLAN device, a zone's
// bridge, the access-point controller's or a VPN bridge).
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"

namespace {

constexpr char kSource[] = "system/route_table.c";
constexpr int kFile = 19;
constexpr int kRoutingTable = 20;

using module::holds;
using module::kind;
using record = route_record;

// The address family, which a document may also give by its name.
constexpr const char *kFamilies[] = {"IPv4", "IPv6"};

// A field of the route for each family: the address and the gateway of the
// route's family, a mask for IPv4 and a prefix length for IPv6.
#define FAMILY(member, key, how, what, mode) \
    MODULE_KEYED(record, member, key, how).is(what).or_default(module::kUnset).only_when("ipv_mode", {mode})
#define BY_FAMILY(member, key, how, v4, v6, more) \
    FAMILY(member, key, how, v4, 0) more, FAMILY(member, key, how, v6, 1) more
#define DEVICE(key, how) MODULE_KEYED(record, dev, key, how).is(holds::ifname).or_default(module::kUnset)

// The page's request values, the family, then the route as the export names
// its fields (read back on import) and as a form and an import name them.
// The line is the route's own: "%s %s %s %s %d".
constexpr auto kFields = module::describe({
    MODULE_UNKEYED(record, q, kind::none).is(holds::number, 0, INT32_MAX).or_default("0").in_form("q"),
    MODULE_UNKEYED(record, r, kind::none).is(holds::number, 0, INT32_MAX).or_default("0").in_form("r"),
    MODULE_FIELD(record, ipv_mode, kind::number).one_of(kFamilies).in_form("ipv"),
    BY_FAMILY(address, "ipaddr", kind::none, holds::ipv4, holds::ipv6, .in_form("")),
    BY_FAMILY(gateway, "gateway", kind::none, holds::ipv4, holds::ipv6, .in_form("")),
    DEVICE("interface", kind::none).in_form(""),
    BY_FAMILY(address, "ip", kind::word, holds::ipv4, holds::ipv6, .imported_only()),
    BY_FAMILY(netmask, "netmask", kind::word, holds::mask, holds::prefix, ),
    BY_FAMILY(gateway, "gw", kind::word, holds::ipv4, holds::ipv6, .imported_only()),
    DEVICE("dev", kind::word).imported_only(),
});
#undef DEVICE
#undef BY_FAMILY
#undef FAMILY

bool ipv6(const route_record &r) { return r.ipv_mode == 1; }

// Each text as a word of the line (an empty one unset, one that is no word
// quoted), so that the line reads back as the same route; no trailing blank.
std::string format_route(const route_record &r) {
    std::string line = module::line().text(r.address).text(r.netmask).text(r.gateway).text(r.dev).number(r.ipv_mode).str();
    line.pop_back();
    return line;
}

void *parse_route(char *text, void *rec) {
    auto &r = *static_cast<route_record *>(rec);
    const module::fields f(text);
    f.text(0, r.address);
    f.text(1, r.netmask);
    f.text(2, r.gateway);
    f.text(3, r.dev);
    r.ipv_mode = f.integer(4);
    return rec;
}

// A device with a dot is a VLAN device and used as it is; any other names an
// interface, which must exist.
std::optional<std::string> device_of(const route_record &r) {
    if (std::strchr(r.dev, '.')) return std::string(r.dev);
    char device[32];
    if (interface_route_device(r.dev, device, sizeof device) != 0) return std::nullopt;
    return std::string(device);
}

int route_cmd(const route_record &r, const char *op) {
    // A route the system can take: its values all of its family's kind.
    const std::optional<std::string> device = module::well_formed(&r, kFields) ? device_of(r) : std::nullopt;
    if (!device) return -1;
    const std::string gateway = module::arg(r.gateway), on = module::arg(device->c_str());
    if (ipv6(r))
        my_system("%s %s %s/%d via %s dev %s table %d", "/sbin/ip -6 route", op, module::arg(r.address).c_str(),
                  std::atoi(r.netmask), gateway.c_str(), on.c_str(), kRoutingTable);
    else
        my_system("%s %s %s/%d via %s dev %s table %d", "/sbin/ip route", op, my_netid(r.address, r.netmask),
                  my_mask_to_int(r.netmask), gateway.c_str(), on.c_str(), kRoutingTable);
    return 0;
}

int add_route_cmd(const route_record &r) { return route_cmd(r, "add"); }
int del_route_cmd(const route_record &r) { return route_cmd(r, "del"); }

int route_command(void *rec, int) { return rec ? add_route_cmd(*static_cast<const route_record *>(rec)) : -1; }
int route_discommand(void *rec, int) { return rec ? del_route_cmd(*static_cast<const route_record *>(rec)) : -1; }

void reapply(const route_record &r) {
    del_route_cmd(r);
    add_route_cmd(r);
}

// Calls visit on every route of the file; false when it cannot be read.
template <typename Visit>
bool each_route(Visit visit) {
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 0);
    if (!h) return false;
    module::any_record<route_record, parse_route>(h, visit);
    my_CloseFile(h);
    return true;
}

int route_recommand(void *) {
    return each_route([](const route_record &r, uint32_t) {
        reapply(r);
        return false;
    })
               ? 0
               : -1;
}

bool in_subnet(const char *address, const interface_record &i) {
    const std::string net = my_netid(address, i.netmask);
    return net == my_netid(i.ipaddr, i.netmask);
}

// A route through the old interface whose gateway leaves with the change
// blocks it; the routes that keep their gateway are added again.
int route_interface_check(const interface_record *old_rec, const interface_record *new_rec) {
    if (!old_rec || !new_rec) return 0;
    bool stranded = false;
    each_route([&](const route_record &r, uint32_t) {
        if (ipv6(r)) return false;
        if (module::same_text(r.dev, old_rec->iname) && in_subnet(r.gateway, *old_rec)) {
            stranded = !module::same_text(r.dev, new_rec->iname) || !in_subnet(r.gateway, *new_rec);
            if (!stranded) reapply(r);
        } else if (module::same_text(r.dev, new_rec->iname) && in_subnet(r.gateway, *new_rec)) {
            reapply(r);
        }
        return stranded;
    });
    return stranded ? 1 : 0;
}

void *route_set_default(void *rec, const char *) { return rec; }

void *route_cgiParam(route_record *rec) {
    if (!rec) return rec;
    return module::form_fields(rec, kFields) ? nullptr : rec;
}

// An entry is read by its own keys, or by those the export writes, so that
// an exported route reads back as the same route; a text it lacks is unset.
void *route_xmlEntry(xml_node *entry, void *rec) {
    if (!rec) return rec;
    module::default_fields(rec, kFields);
    return module::read_fields(module::xml_values(entry), rec, kFields) ? nullptr : rec;
}

void route_entry(module::xml_entry &e, const route_record &r) {
    e.text("ipaddr", r.address).text("netmask", r.netmask).text("gateway", r.gateway).text("interface", r.dev);
    e.text("ipv_mode", kFamilies[ipv6(r) ? 1 : 0]);
}

constexpr const char *kGroups[] = {"route_table"};
using texts = module::texts<kGroups>;

extern const module_table kTable;

void route_xmlConf(const char *function) {
    module::export_xml<route_record, route_entry>(kTable, function, MODULE_TAG(kSource));
}

int route_import_xmlConf(xml_node *function) {
    return module::import_list<route_record, nullptr, false>(kTable, function, kFile, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "route table",
    .clear = module::clear<route_record>,
    .add = module::add<route_record, format_route>,
    .remove = module::remove,
    .modify = module::modify<route_record, format_route>,
    .interface_check = module::op(route_interface_check),
    .isTheSame = module::isTheSame<route_record, parse_route, &route_record::address, nullptr>,
    .set_default = route_set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse_route>,
    .getnum = module::getnum<parse_route>,
    .parse = parse_route,
    .close = module::close_file,
    .command = module::op(route_command),
    .discommand = module::op(route_discommand),
    .recommand = module::op(route_recommand),
    .restorebyinterface = module::op(route_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(route_cgiParam),
    .initial_system_cmd = module::op(route_recommand),
    .xmlConf = module::op(route_xmlConf),
    .xmlEntry = module::op(route_xmlEntry),
    .import_xmlConf = module::op(route_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::route_table{"route table", kFields};

extern "C" {

module_table *route_table_register(void) { return module::register_table(kTable); }
void route_table_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
