// One-to-one address mappings: a public address on a WAN port stands for
// one internal host in both directions.  Each record fills four chains of
// its own with the destination and source translation, the loop-back
// translation between internal segments and the marks that the
// appliance's netfilter extensions read, and makes the appliance answer
// ARP for the public address.
#include <climits>
#include <string>

#include "system/translation.h"
#include "webadmin.h"

namespace {

using module::holds;
using module::kind;
using record = mapped_ip_record;

constexpr int kFile = 54;
constexpr const char *kSource = "system/mapped_ip.c";
constexpr const char *kPrefix = "mip";  // of the record's chain
constexpr const char *kGroups[] = {"mapped_ip"};
using texts = module::texts<kGroups>;
constexpr translation::chains kChains{kSource, "mapip"};

// The line's fields in order.  The form names the addresses and ports in
// short; the mark comes from the form only (a request's follows its
// identifier), and neither the export nor the mark carries the identifier.
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier).imported_only(),
    MODULE_UNKEYED(record, mark, kind::word).is(holds::mark, 8).in_form("mark"),
    MODULE_FIELD(record, real_ip, kind::word).is(holds::ipv4).or_default("0.0.0.0").in_form("rip"),
    // The WAN port, or a virtual link of it: the port's name, ':' and the link's mark.
    MODULE_FIELD(record, real_device_name, kind::word).is(holds::word, 19).in_form("rname"),
    MODULE_FIELD(record, mapped_ip, kind::word).is(holds::ipv4).or_default("0.0.0.0").in_form("mip"),
    MODULE_FIELD(record, mapped_device_name, kind::word).is(holds::ifname).in_form("mname"),
    MODULE_FIELD(record, iswan, kind::number).is(holds::number, 0, 1).or_default("1"),
    MODULE_FIELD(record, priority, kind::number).is(holds::number, 0, INT32_MAX).or_default("0").in_form("n"),
});

#define RULE(format, ...) MODULE_RULE(4, kSource, format, __VA_ARGS__)

extern const module_table kTable;

std::string mapped_format(const record &r) { return module::format_fields(&r, kFields); }

void *mapped_parse(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    module::follow_identifier(*static_cast<record *>(rec), kPrefix);
    return rec;
}

void *mapped_defaults(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    translation::fresh_identity(r, kPrefix, nullptr);
    module::set_text(r.real_device_name, module::kUnset);
    module::set_text(r.mapped_device_name, module::kUnset);
    module::default_fields(rec, kFields);
    return rec;
}

// The record's rules; with apply 0 only its system address and its ARP
// answers (the boot adds the rules in one go elsewhere).
void mapped_ip_add_command(const record &r, int apply) {
    const translation::routed_device port = translation::split_device(r.real_device_name);
    my_add_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
    if (apply) {
        const std::string c = module::arg(r.chain), mark = module::arg(r.mark), real = module::arg(r.real_ip),
                          mapped = module::arg(r.mapped_ip), dev = module::arg(port.dev.c_str());
        RULE("/sbin/iptables -t nat -A %s -m utmmark --type vserver --mark 0x%s -j UTMMARK --set-type policy "
             "--or-mark 0x%x",
             c.c_str(), mark.c_str(), 2);
        RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s", c.c_str(), mapped.c_str());
        translation::translate_sources(kSource, __func__, translation::order::address_first, c, port, mapped, real);
        RULE("/sbin/iptables -t mangle -A pre%s -m utmmark --type vserver ! --mark 0x0 -j RETURN", c.c_str());
        for (const char *suffix : {"", "_+"})
            RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -d %s -j UTMMARK --set-type param --or-mark 0x%x",
                 c.c_str(), dev.c_str(), suffix, real.c_str(), 0x40000);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s", c.c_str(),
             real.c_str(), mark.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j PREDNAT --to-destination %s", c.c_str(), real.c_str(),
             mapped.c_str());
    }
    translation::public_arp("-I", port.dev.c_str(), r.real_ip);
}

void mapped_ip_del_command(const record &r) {
    kChains.flush(__func__, r.chain);
    translation::public_arp("-D", translation::split_device(r.real_device_name).dev.c_str(), r.real_ip);
}

int mapped_ip_flush_chain(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    mapped_ip_del_command(r);
    kChains.remove(__func__, r.chain, r.mark);
    return 0;
}

int mapped_command(void *rec) {
    if (!rec) return -1;
    mapped_ip_add_chain(static_cast<record *>(rec));
    mapped_ip_add_command(*static_cast<const record *>(rec), 1);
    return 0;
}

void reapply(const record &now, const record &before) {
    mapped_ip_del_command(before);
    mapped_ip_add_command(now, 1);
}

int mapped_recommand(void *new_rec, void *old_rec) {
    if (!new_rec || !old_rec) return -1;
    reapply(*static_cast<const record *>(new_rec), *static_cast<const record *>(old_rec));
    return 0;
}

int mapped_initial_system_cmd(void *rec, int, int flag) {
    if (!rec) return -1;
    mapped_ip_add_command(*static_cast<const record *>(rec), flag);
    return 0;
}

// A record is on an interface by its WAN port or by the port of its
// internal host; one on a virtual link of the port (the port's name and a
// route mark) is the link's.
bool on_interface(const record &r, const std::string &iname) {
    return r.real_device_name == iname || r.mapped_device_name == iname;
}

int mapped_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const std::string iname = module::bounded(iface->iname);
    return module::uses_interface<record, mapped_parse, &record::real_device_name, &record::mapped_device_name>(
        h, iname.c_str());
}

// 2 when another record has rec's name, else 4 when another has its public
// address; 4 more when a virtual server has that address.
int mapped_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    const auto &wanted = *static_cast<const record *>(rec);
    const auto other = [&](const record &r, uint32_t line) {
        return !(n > 0 && line == static_cast<uint32_t>(n) && module::same_text(r.id, wanted.id));
    };
    int result = 0;
    if (module::any_record<record, mapped_parse>(h, [&](const record &r, uint32_t line) {
            return other(r, line) && module::same_text(r.name, wanted.name);
        }))
        result = 2;
    else if (module::any_record<record, mapped_parse>(h, [&](const record &r, uint32_t line) {
                 return other(r, line) && module::same_text(r.real_ip, wanted.real_ip);
             }))
        result = 4;
    if (translation::public_address_in<virtual_ip_record>("virtual_ip", MODULE_TAG(kSource), wanted.real_ip))
        result += 4;
    return result;
}

void *mapped_restorebyinterface(void *x, const interface_record *iface) {
    return translation::restore<record, mapped_parse>(x, iface, kFile, MODULE_TAG(kSource), on_interface, reapply);
}

wan_address_event *mapped_dynamicIPup(wan_address_event *event) {
    return translation::follow_address<record>(kTable, MODULE_TAG(kSource), event, reapply);
}

void *mapped_cgiParam(void *rec) {
    return translation::form<record>(rec, kPrefix, false, [](record &r) { return !module::form_fields(&r, kFields); });
}

void *mapped_xmlParam(record_file *, void *rec, const char *path) {
    return translation::request<record>(rec, path, kPrefix, [](const module::xml_values &v, record &r) {
        return !module::read_fields(v, &r, kFields);
    });
}

void mapped_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

void mapped_xmlConf(const char *value, const char *) {
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), mapped_entry, module::spare_references<record>);
}

const module_table kTable = {
    .name = "mapped_ip",
    .clear = module::clear<record>,
    .add = module::add<record, mapped_format>,
    .remove = module::remove,
    .modify = module::modify<record, mapped_format>,
    .interface_check = module::op(mapped_interface_check),
    .isTheSame = mapped_isTheSame,
    .set_default = mapped_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<mapped_parse>,
    .getnum = module::getnum<mapped_parse>,
    .parse = mapped_parse,
    .shift = module::shift,
    .close = module::close_file,
    .command = module::op(mapped_command),
    .discommand = module::op(mapped_ip_flush_chain),
    .recommand = module::op(mapped_recommand),
    .restorebyinterface = module::op(mapped_restorebyinterface),
    .dynamicIPup = module::op(mapped_dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(mapped_cgiParam),
    .initial_system_cmd = module::op(mapped_initial_system_cmd),
    .xmlParam = mapped_xmlParam,
    .xmlConf = module::op(mapped_xmlConf),
};

}  // namespace

const module::description module::descriptions::mapped_ip{"mapped_ip", kFields};

extern "C" {

int mapped_ip_add_chain(mapped_ip_record *rec) {
    if (!rec) return -1;
    kChains.create(__func__, rec->chain, rec->mark);
    return 0;
}

module_table *mapped_ip_register(void) { return module::register_table(kTable); }

void mapped_ip_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
