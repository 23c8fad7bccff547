// Dynamic routing (RIP) on the appliance's interfaces: one record per
// interface.  The routing daemon's configuration is built from every record,
// the networks of the interfaces and their further subnets, and whether
// static routes exist to be announced; the daemon is restarted with it.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/module.h"
#include "system/module_xml.h"

namespace {

constexpr char kSource[] = "system/dynamic_route.c";
constexpr int kFile = 21;
constexpr char kConfig[] = "/etc/rip.conf";
constexpr char kPidFile[] = "/var/run/routed.pid";

using module::holds;
using module::kind;
using record = dynamic_route_record;

// RIP version 1 or 2 on an interface, 0 off; passive: only listen.
constexpr auto kFields = module::describe({
    MODULE_KEYED(record, iname, "interface", kind::word).is(holds::ifname).in_form("iname").or_default(module::kUnset),
    MODULE_FIELD(record, version, kind::number).is(holds::number, 0, 2).or_default("2"),
    MODULE_FIELD(record, passive, kind::number).is(holds::number, 0, 1).or_default("0"),
});

std::string format_rip(const dynamic_route_record &r) { return module::format_fields(&r, kFields); }

void *parse_rip(char *text, void *rec) {
    module::parse_fields(text, rec, kFields);
    return rec;
}

// Calls visit on every record of the named module's file (opened with
// selector) until it returns true.
template <typename Record, typename Visit>
void each_of(const char *module_name, void *selector, Visit visit) {
    module::registered table(module_name);
    record_file *h = table.open(MODULE_TAG(kSource), 0, selector);
    Record r{};
    for (int k = 1; h && table->getline(h, &r, nullptr, k); ++k)
        if (visit(r)) return;
}

std::string network(const char *address, const char *mask) {
    return std::string(my_netid(address, mask)) + "/" + std::to_string(my_mask_to_int(mask));
}

// The configuration without the record named except (null: every record);
// whether any interface is left to route on.
bool configuration(const char *except, std::string &text) {
    bool any = false;
    each_of<dynamic_route_record>("dynamic route", nullptr, [&](const dynamic_route_record &d) {
        if (d.version < 1 || !module::is_ifname(d.iname) || (except && module::same_text(d.iname, except)))
            return false;
        any = true;
        text += "interface " + std::string(d.iname) + " version " + std::to_string(d.version) +
                (d.passive ? " passive\n" : "\n");
        each_of<interface_record>("interface", nullptr, [&](const interface_record &i) {
            if (module::same_text(i.iname, d.iname) && module::has_ipv4(i.ipaddr) && module::is_ipv4(i.netmask))
                text += "network " + network(i.ipaddr, i.netmask) + "\n";
            return false;
        });
        for (void *selector : {static_cast<void *>(nullptr), reinterpret_cast<void *>(1)})
            each_of<msubnet_record>("multiple subnet", selector, [&](const msubnet_record &s) {
                if (module::same_text(s.iname, d.iname) && module::has_ipv4(s.ipaddr) && module::is_ipv4(s.netmask))
                    text += "network " + network(s.ipaddr, s.netmask) + "\n";
                return false;
            });
        return false;
    });
    bool routes = false;
    each_of<route_record>("route table", nullptr, [&](const route_record &) { return routes = true; });
    if (routes) text += "redistribute static\n";
    return any;
}

int rebuild(const char *except) {
    std::string text;
    try {
        const bool any = configuration(except, text);
        runtime::file_handle file(std::fopen(platform::path(kConfig).c_str(), "w+"));
        if (file) std::fputs(text.c_str(), file.get());
        my_system("/bin/kill `/bin/cat %s` > /dev/null 2>&1", kPidFile);
        if (any) my_system("/usr/sbin/routed -f %s > /dev/null 2>&1", kConfig);
    } catch (...) {
        return -1;
    }
    return 0;
}

int rip_command(void *rec, int) { return rec ? rebuild(nullptr) : -1; }
int rip_discommand(void *rec, int) { return rec ? rebuild(static_cast<const dynamic_route_record *>(rec)->iname) : -1; }
int rip_recommand(void *) { return rebuild(nullptr); }
int rip_initial_system_cmd(void *rec, int, int flag) { return flag ? rip_command(rec, 0) : 0; }

int rip_restorebyinterface(const char *iname) {
    bool used = false;
    each_of<dynamic_route_record>("dynamic route", nullptr, [&](const dynamic_route_record &d) {
        return used = iname && module::same_text(d.iname, iname) && d.version > 0;
    });
    return used ? rebuild(nullptr) : 0;
}

void *rip_set_default(void *rec, const char *) {
    if (rec) module::default_fields(rec, kFields);
    return rec;
}

// A value missing from the form leaves its field's default.
void *rip_cgiParam(dynamic_route_record *rec) {
    if (!rec) return rec;
    return module::form_fields(rec, kFields) ? nullptr : rec;
}

void rip_entry(module::xml_entry &e, const dynamic_route_record &r) { module::export_fields(e, &r, kFields); }

constexpr const char *kGroups[] = {"route_table"};
using texts = module::texts<kGroups>;

extern const module_table kTable;

void rip_xmlConf(const char *function) {
    module::export_xml<dynamic_route_record, rip_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "dynamic route",
    .clear = module::clear<dynamic_route_record>,
    .add = module::add<dynamic_route_record, format_rip>,
    .modify = module::modify<dynamic_route_record, format_rip>,
    .set_default = rip_set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse_rip>,
    .getnum = module::getnum<parse_rip>,
    .parse = parse_rip,
    .close = module::close_file,
    .command = module::op(rip_command),
    .discommand = module::op(rip_discommand),
    .recommand = module::op(rip_recommand),
    .restorebyinterface = module::op(rip_restorebyinterface),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(rip_cgiParam),
    .initial_system_cmd = module::op(rip_initial_system_cmd),
    .xmlConf = module::op(rip_xmlConf),
};

}  // namespace

const module::description module::descriptions::dynamic_route{"dynamic route", kFields};

extern "C" {

module_table *dynamic_route_register(void) { return module::register_table(kTable); }
void dynamic_route_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
