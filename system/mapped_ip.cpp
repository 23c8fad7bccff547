// One-to-one address mappings: a public address on a WAN port stands for
// one internal host in both directions.  Each record fills four chains of
// its own with the destination and source translation, the loop-back
// translation between internal segments and the marks that the
// appliance's netfilter extensions read, and makes the appliance answer
// ARP for the public address.
#include <string>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using record = mapped_ip_record;

constexpr int kFile = 54;
constexpr const char *kSource = "system/mapped_ip.c";
constexpr const char *kPrefix = "mip";  // of the record's chain
constexpr const char *kGroups[] = {"mapped_ip"};
using texts = module::texts<kGroups>;
constexpr module::translation_chains kChains{kSource, "mapip"};

#define RULE(format, ...) MODULE_RULE(4, kSource, format, __VA_ARGS__)

extern const module_table kTable;

std::string format(const record &r) {
    return module::line()
        .name(r.name)
        .text(r.id)
        .text(r.mark)
        .text(r.real_ip)
        .text(r.real_device_name)
        .text(r.mapped_ip)
        .text(r.mapped_device_name)
        .number(r.iswan)
        .number(r.priority)
        .str();
}

void *parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    f.text(2, r.mark);
    f.text(3, r.real_ip);
    f.text(4, r.real_device_name);
    f.text(5, r.mapped_ip);
    f.text(6, r.mapped_device_name);
    r.iswan = f.integer(7);
    r.priority = f.integer(8);
    module::follow_identifier(r, kPrefix);
    return rec;
}

void *set_default(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kPrefix, r.id);
    module::set_text(r.mark, id2mark(r.id));
    module::set_text(r.real_ip, "0.0.0.0");
    module::set_text(r.mapped_ip, "0.0.0.0");
    module::set_text(r.real_device_name, module::kUnset);
    module::set_text(r.mapped_device_name, module::kUnset);
    r.iswan = 1;
    r.refs = 0;
    r.priority = 0;
    return rec;
}

// The record's rules; with apply 0 only its system address and its ARP
// answers (the boot adds the rules in one go elsewhere).
void mapped_ip_add_command(const record &r, int apply) {
    const module::routed_device port = module::split_device(r.real_device_name);
    my_add_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
    if (apply) {
        const std::string c = module::arg(r.chain), mark = module::arg(r.mark), real = module::arg(r.real_ip),
                          mapped = module::arg(r.mapped_ip), dev = module::arg(port.dev.c_str());
        RULE("/sbin/iptables -t nat -A %s -m utmmark --type vserver --mark 0x%s -j UTMMARK --set-type policy "
             "--or-mark 0x%x",
             c.c_str(), mark.c_str(), 2);
        RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s", c.c_str(), mapped.c_str());
        if (!port.route_mark.empty()) {
            const std::string route = module::arg(port.route_mark.c_str());
            RULE("/sbin/iptables -t nat -A post%s -s %s -o %s -m routemark --mark 0x%s -j SNAT --to-source %s",
                 c.c_str(), mapped.c_str(), dev.c_str(), route.c_str(), real.c_str());
            RULE("/sbin/iptables -t nat -A post%s -o %s -m routemark --mark 0x%s -m sockaddr --sockaddr %s -j SNAT "
                 "--to-source %s",
                 c.c_str(), dev.c_str(), route.c_str(), mapped.c_str(), real.c_str());
        } else {
            const std::string outs[] = {dev, dev + "_ppp"};
            for (const std::string &out : outs)
                RULE("/sbin/iptables -t nat -A post%s -s %s -o %s -j SNAT --to-source %s", c.c_str(), mapped.c_str(),
                     out.c_str(), real.c_str());
            for (const std::string &out : outs)
                RULE("/sbin/iptables -t nat -A post%s -o %s -m sockaddr --sockaddr %s -j SNAT --to-source %s",
                     c.c_str(), out.c_str(), mapped.c_str(), real.c_str());
        }
        for (const auto &pair : module::kLoopbackPairs)
            RULE("/sbin/iptables -t nat -A post%s -d %s -i %s+ -o %s+ -m utmmark --type vserver ! --mark 0x0 -j SNAT "
                 "--to-source %s",
                 c.c_str(), mapped.c_str(), pair[0], pair[1], real.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -m utmmark --type vserver ! --mark 0x0 -j RETURN", c.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -i %s -d %s -j UTMMARK --set-type param --or-mark 0x%x", c.c_str(),
             dev.c_str(), real.c_str(), 0x40000);
        RULE("/sbin/iptables -t mangle -A pre%s -i %s_+ -d %s -j UTMMARK --set-type param --or-mark 0x%x", c.c_str(),
             dev.c_str(), real.c_str(), 0x40000);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s", c.c_str(),
             real.c_str(), mark.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j PREDNAT --to-destination %s", c.c_str(), real.c_str(),
             mapped.c_str());
    }
    module::public_arp("-I", port.dev.c_str(), r.real_ip);
}

void mapped_ip_del_command(const record &r) {
    kChains.flush(__func__, r.chain);
    module::public_arp("-D", module::split_device(r.real_device_name).dev.c_str(), r.real_ip);
}

int mapped_ip_flush_chain(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    mapped_ip_del_command(r);
    kChains.remove(__func__, r.chain, r.mark);
    return 0;
}

int command(void *rec) {
    if (!rec) return -1;
    mapped_ip_add_chain(static_cast<record *>(rec));
    mapped_ip_add_command(*static_cast<const record *>(rec), 1);
    return 0;
}

int recommand(void *new_rec, void *old_rec) {
    if (!new_rec || !old_rec) return -1;
    mapped_ip_del_command(*static_cast<const record *>(old_rec));
    mapped_ip_add_command(*static_cast<const record *>(new_rec), 1);
    return 0;
}

int initial_system_cmd(void *rec, int, int flag) {
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

// A record for each line of a walk, so that a short line takes nothing
// from the one before; parsing it asks no reference count.
record walk_record() {
    record r{};
    r.refs_fixed = 1;
    return r;
}

int interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const bool used = module::any_record<record, parse>(h, [&](const record &r, uint32_t) {
        return on_interface(r, module::bounded(iface->iname));
    });
    return used ? 1 : 0;
}

// 2 when another record has rec's name, else 4 when another has its public
// address; 4 more when a virtual server has that address.
int isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    auto &wanted = *static_cast<record *>(rec);
    const auto other = [&](const record &r, uint32_t line) {
        return !(n > 0 && line == static_cast<uint32_t>(n) && module::same_text(r.id, wanted.id));
    };
    int result = 0;
    if (module::any_record<record, parse>(h, [&](const record &r, uint32_t line) {
            return other(r, line) && module::same_text(r.name, wanted.name);
        }))
        result = 2;
    else if (module::any_record<record, parse>(h, [&](const record &r, uint32_t line) {
                 return other(r, line) && module::same_text(r.real_ip, wanted.real_ip);
             }))
        result = 4;
    module::registered servers("virtual_ip");
    if (record_file *vh = servers.open(MODULE_TAG(kSource), 0))
        for (int k = 1;; ++k) {
            virtual_ip_record v{};
            v.refs_fixed = 1;
            if (!servers->getline(vh, &v, nullptr, k)) break;
            if (module::same_text(v.real_ip, wanted.real_ip)) {
                result += 4;
                break;
            }
        }
    return result;
}

void *restorebyinterface(void *x, const interface_record *iface) {
    if (!iface) return x;
    const std::string iname = module::bounded(iface->iname);
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 0);
    for (int k = 1;; ++k) {
        record r = walk_record();
        if (!module::read_next(h, &r, nullptr, k, parse)) break;
        if (!on_interface(r, iname)) continue;
        // The system address is the WAN port's, also for a record on one of its virtual links.
        const module::routed_device port = module::split_device(r.real_device_name);
        my_del_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
        recommand(&r, &r);
    }
    module::close_file(&h);
    return x;
}

// The records that follow the port's dynamic address take the new one:
// the old address's rules and answers go, the new one's come.
wan_address_event *dynamicIPup(wan_address_event *event) {
    if (!event) return event;
    const std::string address = module::bounded(event->ipaddr), iname = module::bounded(event->iname);
    if (!module::is_address(address.c_str(), 4)) return event;
    module_table *t = module::register_table(kTable);
    if (!t) return event;
    record_file *h = t->open(nullptr, MODULE_TAG(kSource), 1);
    uint32_t line = 0;
    for (int k = 1;; ++k) {
        record r = walk_record();
        set_default(&r, nullptr);  // a short line is written back with the defaults it lacks
        if (!t->getline(h, &r, &line, k)) break;
        if (!r.iswan || r.real_device_name != iname) continue;
        record previous = r;
        my_del_bcast_system_ip(return_contrast_port_num(iname.c_str()), previous.real_ip);
        module::set_text(r.real_ip, address.c_str());
        t->modify(h, &r, static_cast<int>(line));
        recommand(&r, &previous);
    }
    t->close(&h);
    module::unregister_table(t);
    return event;
}

// Addresses are refused (left at their defaults) unless they are IPv4
// addresses, the identifier and mark unless they are what my_chainID and
// id2mark make; the other texts reach rules quoted.
void *cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::form_text(r.name, "name");
    module::form_identifier(r.id);
    module::follow_identifier(r, kPrefix);
    const char *mark = qValue("mark");
    module::set_text(r.mark, mark && module::is_mark(mark) ? mark : id2mark(r.id));
    module::form_address(r.real_ip, "rip", "0.0.0.0");
    module::form_text(r.real_device_name, "rname");
    module::form_address(r.mapped_ip, "mip", "0.0.0.0");
    module::form_text(r.mapped_device_name, "mname");
    r.iswan = module::form_integer("iswan", 1);
    r.priority = module::form_integer("n", 0);
    return rec;
}

void *xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::read_request(path, [&r](const module::xml_values &v) {
        v.text("name", r.name);
        if (v.identifier("id", r.id)) {
            module::follow_identifier(r, kPrefix);
            module::set_text(r.mark, id2mark(r.id));
        }
        v.address("real_ip", r.real_ip);
        v.text("real_device_name", r.real_device_name);
        v.address("mapped_ip", r.mapped_ip);
        v.text("mapped_device_name", r.mapped_device_name);
        r.iswan = v.integer("iswan", r.iswan);
        r.priority = v.integer("priority", r.priority);
    });
    return rec;
}

void entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name)
        .text("real_ip", r.real_ip)
        .text("real_device_name", r.real_device_name)
        .text("mapped_ip", r.mapped_ip)
        .text("mapped_device_name", r.mapped_device_name)
        .number("iswan", r.iswan)
        .number("priority", r.priority);
}

void xmlConf(const char *value, const char *) {
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), entry, [](record &r) { r.refs_fixed = 1; });
}

const module_table kTable = {
    .name = "mapped_ip",
    .clear = module::clear<record>,
    .add = module::add<record, format>,
    .remove = module::remove,
    .modify = module::modify<record, format>,
    .interface_check = module::op(interface_check),
    .isTheSame = isTheSame,
    .set_default = set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .parse = parse,
    .shift = module::shift,
    .close = module::close_file,
    .command = module::op(command),
    .discommand = module::op(mapped_ip_flush_chain),
    .recommand = module::op(recommand),
    .restorebyinterface = module::op(restorebyinterface),
    .dynamicIPup = module::op(dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgiParam),
    .initial_system_cmd = module::op(initial_system_cmd),
    .xmlParam = xmlParam,
    .xmlConf = module::op(xmlConf),
};

}  // namespace

extern "C" {

int mapped_ip_add_chain(mapped_ip_record *rec) {
    if (!rec) return -1;
    kChains.create(__func__, rec->chain, rec->mark);
    return 0;
}

module_table *mapped_ip_register(void) { return module::register_table(kTable); }

void mapped_ip_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
